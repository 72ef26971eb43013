#include "util/date.h"

#include <cstdio>
#include <ctime>

namespace tamsel {
namespace {

bool localBreakdown(int64_t secondsSince1970, std::tm* tm) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970);
  *tm = std::tm{};
  return localtime_r(&t, tm) != nullptr;
}

std::string formatBreakdown(const std::tm& tm) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d %02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
  return buf;
}

}  // namespace

std::optional<std::string> formatUnixTime(int64_t secondsSince1970) {
  std::tm tm{};
  if (!localBreakdown(secondsSince1970, &tm)) return std::nullopt;
  return formatBreakdown(tm);
}

std::optional<std::string> GetDateTime(int64_t t, int kind) {
  if (t <= 0 || (kind != 0 && kind != 1)) return std::nullopt;
  int64_t unixSeconds;
  if (t >= kNanosecondStampThreshold) {
    unixSeconds = t / 1000000000 + kSecondsFrom1970To2001;
  } else if (kind == 1) {
    unixSeconds = t + kSecondsFrom1970To2001;
  } else {
    // Messages and calls hold either clock; a value that reads as a date before 1990 is
    // counted from 2001 instead.
    std::tm probe{};
    if (!localBreakdown(t, &probe)) return std::nullopt;
    unixSeconds = probe.tm_year < 90 ? t + kSecondsFrom1970To2001 : t;
  }
  std::tm tm{};
  if (!localBreakdown(unixSeconds, &tm)) return std::nullopt;
  return formatBreakdown(tm);
}

}  // namespace tamsel
