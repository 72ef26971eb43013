#include "results/vcf_controller.h"

#include "util/base64.h"
#include "util/file_names.h"

namespace tamsel {

namespace {

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
    std::string photo(base64EncodedLength(node.contactImageData.size(), true), '\0');
    photo.resize(baseEncode(node.contactImageData.data(), node.contactImageData.size(),
                            photo.data(), photo.size(), kBase64Alphabet, true));
    line(s, "PHOTO;ENCODING=b;TYPE=JPEG:", photo);
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
