// The process-wide notification centre. Scanners announce every found record and every
// progress step as (name, object); observers registered for the name are called
// synchronously, on the posting thread, in the order they subscribed. A post that has no
// observer is dropped. Observers must return quickly. Each post delivers to the observers
// registered when it began: one added or removed during a delivery (from inside a handler
// or from another thread) takes effect with the next post. Removing an observer does not
// wait for a delivery already running on another thread, so an owner unsubscribes only
// once no thread can still be posting to it (the controller joins its worker first).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tamsel {

// Root of every record class posted through the centre.
class PRNode {
 public:
  virtual ~PRNode() = default;
};

// What a notification carries: nothing, a record, a whole number, or a text.
using NotificationObject =
    std::variant<std::monostate, std::shared_ptr<PRNode>, int64_t, std::string>;

struct Notification {
  std::string_view name;
  NotificationObject object;

  // The record, when the object is a record of class T; null otherwise.
  template <class T>
  std::shared_ptr<T> record() const {
    if (auto p = std::get_if<std::shared_ptr<PRNode>>(&object)) {
      return std::dynamic_pointer_cast<T>(*p);
    }
    return nullptr;
  }
  // The number, or `fallback` when the object is not a number.
  int64_t number(int64_t fallback = 0) const {
    if (auto p = std::get_if<int64_t>(&object)) return *p;
    return fallback;
  }
};

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;
  using Token = uint64_t;

  // Registers `handler` for `name`; returns a token for removeObserver.
  Token addObserver(std::string_view name, Handler handler);
  void removeObserver(Token token);
  // Removes every observer registered under `owner` (see addObserver with owner).
  Token addObserver(const void* owner, std::string_view name, Handler handler);
  void removeObserver(const void* owner);

  // Delivers to every observer of `name`, in subscription order, on this thread.
  void post(std::string_view name, NotificationObject object = {});

  size_t observerCount(std::string_view name) const;

 private:
  struct Entry {
    Token token;
    const void* owner;
    std::string name;
    std::shared_ptr<Handler> handler;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;  // in subscription order
  Token next_ = 1;
};

}  // namespace tamsel
