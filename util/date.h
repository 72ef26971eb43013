// Date texts shown to the user: MM-DD-YYYY HH:MM in the local time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel {

// The date text of a count of seconds since 1970-01-01 00:00 UTC, in local time; none
// when the local breakdown fails.
std::optional<std::string> formatUnixTime(int64_t secondsSince1970);

// The date text of a clock reading stored as if it were UTC (a card's FAT times): the
// reading itself, not moved into the local zone; none outside years 1 to 9999.
std::optional<std::string> formatClockTime(int64_t secondsAsUtc);

// Seconds from 1970-01-01 00:00 UTC to 2001-01-01 00:00 UTC, the phone's reference date.
inline constexpr int64_t kSecondsFrom1970To2001 = 978307200;

// Stored values of this size or more are nanoseconds since 2001 (newer phones).
inline constexpr int64_t kNanosecondStampThreshold = 100000000000LL;  // 10^11

// The date text ("MM-DD-YYYY HH:MM", local time) of a time the phone stored.
//   kind 1 (notes, calendar): seconds since 2001-01-01 00:00.
//   kind 0 (messages, call history): seconds since 2001 when the value read as seconds since
//     1970 would fall before 1990, otherwise seconds since 1970.
//   Either kind: a value of 10^11 or more is nanoseconds since 2001.
// None for t <= 0, for any other kind, or when the local breakdown fails.
std::optional<std::string> GetDateTime(int64_t t, int kind);

}  // namespace tamsel
