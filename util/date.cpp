#include "util/date.h"

#include <cstdio>
#include <ctime>

namespace tamsel {

std::optional<std::string> formatUnixTime(int64_t secondsSince1970) {
  std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm tm {};
  if (localtime_r(&t, &tm) == nullptr) return std::nullopt;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d-%02d-%04d %02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min);
  return std::string(buf);
}

}  // namespace tamsel
