#include "results/vcf_controller.h"

#include "util/base64.h"
#include "util/file_names.h"
#include "util/log.h"
#include "util/output_folder.h"

namespace tamsel {

namespace {

// Contact pictures are small (an IPD field holds at most 64 KB); a larger reference is not
// read into a card.
constexpr uint64_t kMaxPhotoBytes = uint64_t{16} << 20;

void line(std::string& out, std::string_view label, std::string_view escapedValue) {
  out += label;
  out += escapedValue;
  out += "\r\n";
}

}  // namespace

std::string PRVCFController::escapeValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case ',':
        out += "\\,";
        break;
      case ';':
        out += "\\;";
        break;
      case '\r':
        if (i + 1 < value.size() && value[i + 1] == '\n') ++i;
        out += "\\n";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

size_t PRVCFController::baseEncode(const uint8_t* src, size_t srcLen, char* dest, size_t destLen,
                                   const char* charset, bool padded) {
  return tamsel::baseEncode(src, srcLen, dest, destLen, charset, padded);
}

const std::string& PRVCFController::buildCard(const PRBlackBerryContactNode& node) {
  std::string& s = strContent;
  s.clear();
  s += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  const std::string name = escapeValue(node.contactName);
  line(s, "N:", name);
  line(s, "FN:", node.contactName.empty() ? escapeValue(node.companyName) : name);
  line(s, "TITLE:", escapeValue(node.titleName));
  line(s, "ORG:", escapeValue(node.companyName));
  line(s, "EMAIL;INTERNET;EMAIL;PREF:", escapeValue(node.email));
  std::string address = escapeValue(node.address) + " " + escapeValue(node.city) + " " +
                        escapeValue(node.provice) + " " + escapeValue(node.country) + " " +
                        escapeValue(node.postZcode);
  line(s, "item1.ADR;type=ADR;type=pref:;;", address);
  line(s, "TEL;HOME:", escapeValue(node.homeCall));
  line(s, "TEL;WORK:", escapeValue(node.workCall));
  line(s, "TEL;CELL:", escapeValue(node.mobilCall));
  line(s, "item1.URL;type=pref:", escapeValue(node.webSite));
  line(s, "item1.PIN;type=pref:", escapeValue(node.pinNumber));
  line(s, "item1.BIRTHDAY;type=pref:", escapeValue(node.brithday));
  line(s, "item1.NOTE;type=pref:", escapeValue(node.note));
  if (!node.contactImageData.empty()) {
    // The picture is read from the backup now; a card whose picture can no longer be read
    // (the backup shrank or went away) is written without it.
    std::string error;
    if (auto image = node.contactImageData.readAll(kMaxPhotoBytes, &error)) {
      std::string photo(base64EncodedLength(image->size(), true), '\0');
      photo.resize(baseEncode(image->data(), image->size(), photo.data(), photo.size(),
                              kBase64Alphabet, true));
      line(s, "PHOTO;ENCODING=b;TYPE=JPEG:", photo);
    } else {
      logLine("vCard of " + node.contactName + ": picture left out: " + error);
    }
  }
  s += "END:VCARD";
  return s;
}

std::optional<std::filesystem::path> PRVCFController::creatFile(
    const PRBlackBerryContactNode& node, const std::filesystem::path& filePath) {
  buildCard(node);
  if (filePath.empty() || !filePath.has_filename()) return std::nullopt;
  return writeNewFile(filePath.parent_path(), filePath.filename().string(), strContent);
}

}  // namespace tamsel
