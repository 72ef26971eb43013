#include "raw/suffix.h"

namespace tamsel {

std::optional<std::string> getSuffix(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return std::nullopt;
  size_t slash = name.rfind('/');
  if (slash != std::string_view::npos && dot < slash) return std::nullopt;
  if (name.size() - dot > 20) return std::nullopt;
  return std::string(name.substr(dot + 1));
}

std::string attachmentKind(std::string_view fileName) {
  std::string suffix = getSuffix(fileName).value_or("");
  if (GetImageType(suffix) >= 0) return "Image";
  if (GetViedoType(suffix) >= 0) return "Video";
  if (GetAudioType(suffix) >= 0) return "Audio";
  if (GetEmailType(suffix) >= 0) return "Email";
  if (GetArchiveType(suffix) >= 0) return "Archive";
  if (GetDocumentType(suffix) >= 0) return "Document";
  return "";
}

std::string rawScanKind(std::string_view fileName) {
  std::string suffix = getSuffix(fileName).value_or("");
  if (GetImageType(suffix) >= 0) return "Image";
  if (GetViedoType(suffix) >= 0) return "Video";
  if (GetAudioType(suffix) >= 0) return "Audio";
  if (GetArchiveType(suffix) >= 0) return "Archive";
  return "Document";
}

}  // namespace tamsel
