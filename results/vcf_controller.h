// One vCard 3.0 file for one contact of a BlackBerry or phone backup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "events/records.h"

namespace tamsel {

class PRVCFController {
 public:
  // Builds the card for `node` (see buildCard) and writes it as a new file at `filePath`:
  // when that name is taken, "Name (2).vcf" and so on beside it; nothing is replaced.
  // Returns the path written, or none (logged).
  std::optional<std::filesystem::path> creatFile(const PRBlackBerryContactNode& node,
                                                 const std::filesystem::path& filePath);

  // The card text, lines ended by CR LF, "END:VCARD" without a line break: BEGIN, VERSION,
  // N (the name), FN (the name, or the company when there is no name), TITLE, ORG, EMAIL,
  // ADR, three TEL lines, URL, PIN, BIRTHDAY, NOTE, PHOTO when the record has image data,
  // END (the record keeps no "present but empty" picture, so empty data gives no PHOTO).
  // Every property line is written even when its value is empty. Text values are
  // escaped as vCard 3.0 requires. Also left in strContent.
  const std::string& buildCard(const PRBlackBerryContactNode& node);

  // The card of a phone contact: BEGIN, VERSION, N (the name), FN (the name, or the company
  // when there is no name), then only the properties that have a value: ORG, TITLE (the job
  // title), one TEL per phone number, one EMAIL per address and one URL per web address
  // (the record keeps each kind blank-separated), ADR (the address text as the street),
  // BDAY, NOTE, and PHOTO with TYPE=PNG or TYPE=JPEG by the picture's signature; END.
  // Escaped and ended as above.
  const std::string& buildCard(const PRContactNode& node);
  std::optional<std::filesystem::path> creatFile(const PRContactNode& node,
                                                 const std::filesystem::path& filePath);

  // A text value escaped for a vCard: "\" -> "\\", "," -> "\,", ";" -> "\;", and each line
  // break (CR LF, CR or LF) -> "\n".
  static std::string escapeValue(std::string_view value);

  // The Base64 encoder used for the photo; see util/base64.h.
  static size_t baseEncode(const uint8_t* src, size_t srcLen, char* dest, size_t destLen,
                           const char* charset, bool padded);

  const std::string& content() const { return strContent; }

 private:
  std::string strContent;
};

}  // namespace tamsel
