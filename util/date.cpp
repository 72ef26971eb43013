#include "util/date.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

namespace tamsel {
namespace {

constexpr int64_t kDay = 86400;

int64_t floorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool libcBreakdown(int64_t secondsSince1970, std::tm* tm) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970);
  *tm = std::tm{};
  return localtime_r(&t, tm) != nullptr;
}

// Year, month and day of a count of days since 1970-01-01 (proleptic Gregorian calendar).
void civilFromDays(int64_t z, std::tm* tm) {
  z += 719468;
  const int64_t era = floorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  tm->tm_year = static_cast<int>(y - 1900);
  tm->tm_mon = static_cast<int>(m - 1);
  tm->tm_mday = static_cast<int>(d);
}

// The local breakdown of many times (a carver formats millions) without asking the C library
// each time: the offset from UTC is kept per day, for days whose first and last second have
// the same offset (every day but those of a clock change, which go to the library), and per
// time zone setting, so a changed TZ is noticed.
struct DayOffsets {
  static constexpr int kSlots = 64;
  int64_t day[kSlots];
  long offset[kSlots];
  bool steady[kSlots];
  std::string zone;
  DayOffsets() { clear(); }
  void clear() {
    for (int i = 0; i < kSlots; ++i) day[i] = INT64_MIN;
  }
};

bool localBreakdown(int64_t secondsSince1970, std::tm* tm) {
  thread_local DayOffsets cache;
  const char* tz = std::getenv("TZ");
  const std::string_view zone = tz != nullptr ? std::string_view(tz) : std::string_view("\x01");
  if (zone != cache.zone) {
    cache.zone = std::string(zone);
    cache.clear();
  }
  const int64_t day = floorDiv(secondsSince1970, kDay);
  const int slot = static_cast<int>(static_cast<uint64_t>(day) % DayOffsets::kSlots);
  if (cache.day[slot] != day) {
    std::tm first{}, last{};
    const bool ok =
        libcBreakdown(day * kDay, &first) && libcBreakdown(day * kDay + kDay - 1, &last);
    cache.day[slot] = day;
    cache.steady[slot] = ok && first.tm_gmtoff == last.tm_gmtoff;
    cache.offset[slot] = first.tm_gmtoff;
  }
  if (!cache.steady[slot]) return libcBreakdown(secondsSince1970, tm);
  const int64_t local = secondsSince1970 + cache.offset[slot];
  const int64_t localDay = floorDiv(local, kDay);
  const int64_t secs = local - localDay * kDay;
  *tm = std::tm{};
  civilFromDays(localDay, tm);
  tm->tm_hour = static_cast<int>(secs / 3600);
  tm->tm_min = static_cast<int>(secs / 60 % 60);
  tm->tm_sec = static_cast<int>(secs % 60);
  tm->tm_gmtoff = cache.offset[slot];
  return true;
}

// "MM-DD-YYYY HH:MM" written digit by digit (the carvers format millions of dates).
std::string formatBreakdown(const std::tm& tm) {
  const int year = tm.tm_year + 1900;
  if (year < 0 || year > 9999) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d %02d:%02d", tm.tm_mon + 1, tm.tm_mday, year,
                  tm.tm_hour, tm.tm_min);
    return buf;
  }
  auto two = [](char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10 % 10);
    p[1] = static_cast<char>('0' + v % 10);
  };
  std::string out(16, ' ');
  two(&out[0], tm.tm_mon + 1);
  out[2] = '-';
  two(&out[3], tm.tm_mday);
  out[5] = '-';
  two(&out[6], year / 100);
  two(&out[8], year % 100);
  two(&out[11], tm.tm_hour);
  out[13] = ':';
  two(&out[14], tm.tm_min);
  return out;
}

}  // namespace

std::optional<std::string> formatUnixTime(int64_t secondsSince1970) {
  std::tm tm{};
  if (!localBreakdown(secondsSince1970, &tm)) return std::nullopt;
  return formatBreakdown(tm);
}

std::optional<std::string> formatClockTime(int64_t secondsAsUtc) {
  // Years 1 to 9999: days from 0001-01-01 to 1970-01-01 are 719162, to 10000-01-01 2932897.
  if (secondsAsUtc < -719162 * kDay || secondsAsUtc >= (2932897 - 719162) * kDay) {
    return std::nullopt;
  }
  const int64_t day = floorDiv(secondsAsUtc, kDay);
  const int64_t secs = secondsAsUtc - day * kDay;
  std::tm tm{};
  civilFromDays(day, &tm);
  tm.tm_hour = static_cast<int>(secs / 3600);
  tm.tm_min = static_cast<int>(secs / 60 % 60);
  tm.tm_sec = static_cast<int>(secs % 60);
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
