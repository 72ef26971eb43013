// Finding a contact's name for a phone number, as the message and call steps need it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events/records.h"

namespace tamsel {

// `number` without its "-", "(", ")" and blank characters.
std::string normalisePhoneNumber(std::string_view number);

// The `contactName` of the first contact (list order) whose `contactPhone`, normalised,
// contains the normalised `phone` ignoring letter case. The stored field may hold several
// blank-separated numbers; they are searched as one text. None when the list is empty, when
// the normalised phone is empty, or when no contact matches.
std::optional<std::string> getNameByPhoneNumber(
    const std::vector<std::shared_ptr<PRContactNode>>& contactArray, std::string_view phone);

// The contacts' numbers prepared once per scan, so that a lookup costs about the length of
// the number rather than the size of the address book. find() gives exactly the answer of
// getNameByPhoneNumber over the list the index was made from.
class PhoneNameIndex {
 public:
  explicit PhoneNameIndex(const std::vector<std::shared_ptr<PRContactNode>>& contactArray);
  ~PhoneNameIndex();
  PhoneNameIndex(const PhoneNameIndex&) = delete;
  PhoneNameIndex& operator=(const PhoneNameIndex&) = delete;
  std::optional<std::string> find(std::string_view phone) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tamsel
