#include "events/notification_center.h"

#include <algorithm>

namespace tamsel {

NotificationCenter::Token NotificationCenter::addObserver(std::string_view name, Handler handler) {
  return addObserver(nullptr, name, std::move(handler));
}

NotificationCenter::Token NotificationCenter::addObserver(const void* owner, std::string_view name,
                                                          Handler handler) {
  std::lock_guard lock(mutex_);
  Token t = next_++;
  entries_.push_back({t, owner, std::string(name), std::make_shared<Handler>(std::move(handler))});
  return t;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.token == token; });
}

void NotificationCenter::removeObserver(const void* owner) {
  if (owner == nullptr) return;
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&](const Entry& e) { return e.owner == owner; });
}

void NotificationCenter::post(std::string_view name, NotificationObject object) {
  std::vector<std::shared_ptr<Handler>> handlers;
  {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_) {
      if (e.name == name) handlers.push_back(e.handler);
    }
  }
  if (handlers.empty()) return;
  Notification n{name, std::move(object)};
  for (const auto& h : handlers) (*h)(n);
}

size_t NotificationCenter::observerCount(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                           [&](const Entry& e) { return e.name == name; }));
}

}  // namespace tamsel
