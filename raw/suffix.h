// File kinds by file-name suffix: six fixed tables looked up case-insensitively.
#pragma once

#include <optional>
#include <string>
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

// The text after the last "." of `name`: none when there is no ".", when the last "."
// comes before the last "/", or when the text from the last "." on (dot included) is
// longer than 20 characters. A name ending in "." gives an empty suffix.
std::optional<std::string> getSuffix(std::string_view name);

// The attachment kind of a file name, first table that knows its suffix winning, in the
// order image, video, audio, e-mail, archive, document: "Image", "Video", "Audio",
// "Email", "Archive", "Document"; "" when none does.
std::string attachmentKind(std::string_view fileName);

// The raw-scan kind: "Image", "Video", "Audio", "Archive", else "Document".
std::string rawScanKind(std::string_view fileName);

}  // namespace tamsel
