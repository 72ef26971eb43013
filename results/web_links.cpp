#include "results/web_links.h"

#include <cstdlib>

namespace tamsel {

namespace {

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

std::string fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? acceptedWebAddress(value) : std::string();
}

}  // namespace

std::string acceptedWebAddress(std::string_view value) {
  size_t hostStart = 0;
  if (startsWithNoCase(value, "https://")) {
    hostStart = 8;
  } else if (startsWithNoCase(value, "http://")) {
    hostStart = 7;
  } else {
    return {};
  }
  for (unsigned char c : value) {
    if (c <= 0x20 || c == 0x7f) return {};
  }
  // The host runs up to the first '/', '?' or '#' and may not be empty.
  const size_t hostEnd = value.find_first_of("/?#", hostStart);
  const size_t hostLength =
      (hostEnd == std::string_view::npos ? value.size() : hostEnd) - hostStart;
  if (hostLength == 0) return {};
  return std::string(value);
}

const WebLinks& configuredWebLinks() {
  static const WebLinks links{fromEnvironment("TAMSEL_SUGGESTIONS_URL"),
                              fromEnvironment("TAMSEL_FACEBOOK_URL"),
                              fromEnvironment("TAMSEL_TWITTER_URL")};
  return links;
}

}  // namespace tamsel
