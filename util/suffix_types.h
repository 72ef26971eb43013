// File kinds by file-name suffix: six fixed tables looked up case-insensitively. They sit
// below every reader so that the phone backup source and the raw scan share them.
#pragma once

#include <string_view>

namespace tamsel {

// Each returns the 0-based position of the first entry equal to `suffix` ignoring case,
// or -1 when there is none or the suffix is empty.
int GetImageType(std::string_view suffix);
int GetViedoType(std::string_view suffix);
int GetAudioType(std::string_view suffix);
int GetArchiveType(std::string_view suffix);
int GetEmailType(std::string_view suffix);
int GetDocumentType(std::string_view suffix);

}  // namespace tamsel
