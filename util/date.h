// Date texts shown to the user: MM-DD-YYYY HH:MM in the local time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel {

// The date text of a count of seconds since 1970-01-01 00:00 UTC, in local time; none
// when the local breakdown fails.
std::optional<std::string> formatUnixTime(int64_t secondsSince1970);

}  // namespace tamsel
