#include "util/format.h"

#include <cstdio>

namespace tamsel {

std::string getCallHistoryDuration(int32_t s) {
  char buf[64];
  if (s >= 7200) {
    std::snprintf(buf, sizeof buf, "%d hours", s / 3600);
  } else if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%d hour", 1);
  } else if (s >= 120) {
    std::snprintf(buf, sizeof buf, "%d minutes", s / 60);
  } else if (s >= 60) {
    std::snprintf(buf, sizeof buf, "%d minute", 1);
  } else if (s >= 2) {
    std::snprintf(buf, sizeof buf, "%d seconds", s);
  } else {
    std::snprintf(buf, sizeof buf, "%d second", s % 60);
  }
  return buf;
}

std::string size_to_unit(uint64_t n) {
  char buf[100];
  float v = static_cast<float>(n);
  if (n < 1000u) {
    std::snprintf(buf, sizeof buf, "%.2fB", static_cast<double>(v));
  } else if (n < 1000000u) {
    std::snprintf(buf, sizeof buf, "%.2fK", static_cast<double>(v / 1000.0f));
  } else if (n < 1000000000u) {
    std::snprintf(buf, sizeof buf, "%.2fM", static_cast<double>(v / 1000.0f / 1000.0f));
  } else {
    std::snprintf(buf, sizeof buf, "%.2fG", static_cast<double>(v / 1000.0f / 1000.0f / 1000.0f));
  }
  return buf;
}

}  // namespace tamsel
