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

}  // namespace tamsel
