// Web addresses behind the suggestions link and the Facebook and Twitter buttons. None is
// built in: each comes from the environment (TAMSEL_SUGGESTIONS_URL, TAMSEL_FACEBOOK_URL,
// TAMSEL_TWITTER_URL), and a control whose address is empty is hidden.
#pragma once

#include <string>
#include <string_view>

namespace tamsel {

struct WebLinks {
  std::string suggestions;
  std::string facebook;
  std::string twitter;
};

// `value` when it is an http or https address with a host and no blank or control
// character, else an empty string.
std::string acceptedWebAddress(std::string_view value);

// The addresses read from the environment on the first call (later changes are ignored).
const WebLinks& configuredWebLinks();

}  // namespace tamsel
