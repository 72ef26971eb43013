// The result screen's search: the words typed into the filter box and whether a record's
// texts hold every one of them. Case is ignored for ASCII letters; other characters are
// compared as typed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "events/records.h"

namespace tamsel {

// The words of `typed` (split at blanks), lower-cased; empty when only blanks were typed.
std::vector<std::string> searchWords(std::string_view typed);

// True when every word is found in one of the record's texts (a word does not run from one
// field into the next). A record with no text matches only the empty word list.
bool recordMatches(const PRNode& record, const std::vector<std::string>& words);

}  // namespace tamsel
