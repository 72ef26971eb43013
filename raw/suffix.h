// File kinds by file-name suffix (the six tables themselves live in util/suffix_types.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "util/suffix_types.h"

namespace tamsel {

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
