#include "results/vcf_controller.h"

#include <algorithm>
#include <iterator>

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

// The PHOTO line of a picture held by reference; none (logged) when it cannot be read.
void photoLine(std::string& out, const ByteRef& picture, std::string_view owner, bool typed) {
  std::string error;
  auto image = picture.readAll(kMaxPhotoBytes, &error);
  if (!image) {
    logLine("vCard of " + std::string(owner) + ": picture left out: " + error);
    return;
  }
  std::string photo(base64EncodedLength(image->size(), true), '\0');
  photo.resize(PRVCFController::baseEncode(image->data(), image->size(), photo.data(), photo.size(),
                                           kBase64Alphabet, true));
  static constexpr uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const bool png = typed && image->size() >= sizeof kPngSignature &&
                   std::equal(std::begin(kPngSignature), std::end(kPngSignature), image->begin());
  line(out, png ? "PHOTO;ENCODING=b;TYPE=PNG:" : "PHOTO;ENCODING=b;TYPE=JPEG:", photo);
}

// One line per blank-separated value of `values` (none when it holds only blanks).
void eachWord(std::string& out, std::string_view label, std::string_view values) {
  size_t i = 0;
  while (i < values.size()) {
    while (i < values.size() && (values[i] == ' ' || values[i] == '\t')) ++i;
    size_t end = i;
    while (end < values.size() && values[end] != ' ' && values[end] != '\t') ++end;
    if (end > i) line(out, label, PRVCFController::escapeValue(values.substr(i, end - i)));
    i = end;
  }
}

// Without the blanks around it (the address book's appended fields begin with one).
std::string_view trimmed(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

void lineIfAny(std::string& out, std::string_view label, std::string_view value) {
  if (!value.empty()) line(out, label, PRVCFController::escapeValue(value));
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
  // The picture is read from the backup now; a card whose picture can no longer be read
  // (the backup shrank or went away) is written without it.
  if (!node.contactImageData.empty()) photoLine(s, node.contactImageData, node.contactName, false);
  s += "END:VCARD";
  return s;
}

const std::string& PRVCFController::buildCard(const PRContactNode& node) {
  std::string& s = strContent;
  s.clear();
  s += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  const std::string name = escapeValue(node.contactName);
  line(s, "N:", name);
  line(s, "FN:", node.contactName.empty() ? escapeValue(trimmed(node.contactCompany)) : name);
  lineIfAny(s, "ORG:", trimmed(node.contactCompany));
  lineIfAny(s, "TITLE:", node.contactJobtitle);
  // A number may hold blanks ("+46 70 123 45 67"): one line per stored number when the
  // reader kept them, otherwise per blank-separated piece.
  if (!node.phoneNumbers.empty()) {
    for (const std::string& number : node.phoneNumbers) lineIfAny(s, "TEL:", trimmed(number));
  } else {
    eachWord(s, "TEL:", node.contactPhone);
  }
  eachWord(s, "EMAIL;TYPE=INTERNET:", node.contactEmail);
  eachWord(s, "URL:", node.contactHomepage);
  if (!node.contactAdress.empty()) line(s, "ADR:;;", escapeValue(node.contactAdress) + ";;;;");
  lineIfAny(s, "BDAY:", node.contactBirthday);
  lineIfAny(s, "NOTE:", node.contactNote);
  if (!node.imageData.empty()) photoLine(s, node.imageData, node.contactName, true);
  s += "END:VCARD";
  return s;
}

std::optional<std::filesystem::path> PRVCFController::creatFile(
    const PRContactNode& node, const std::filesystem::path& filePath) {
  buildCard(node);
  if (filePath.empty() || !filePath.has_filename()) return std::nullopt;
  return writeNewFile(filePath.parent_path(), filePath.filename().string(), strContent);
}

std::optional<std::filesystem::path> PRVCFController::creatFile(
    const PRBlackBerryContactNode& node, const std::filesystem::path& filePath) {
  buildCard(node);
  if (filePath.empty() || !filePath.has_filename()) return std::nullopt;
  return writeNewFile(filePath.parent_path(), filePath.filename().string(), strContent);
}

}  // namespace tamsel
