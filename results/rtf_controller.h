// The per-category text report of a recovery run: one plain UTF-8 text file per category
// folder ("Contacts.txt", "Messages.txt" ...), one entry per recovered record, each entry
// followed by two line feeds. Despite the name there is no Rich Text in it: no header,
// control words or trailer.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tamsel {

class PRRtfController {
 public:
  PRRtfController() { setRtfHeader(); }

  // Starts a new, empty buffer. Writes no header text.
  void setRtfHeader() { strRtfContent.clear(); }
  // Appends `text` as it is, then LF LF.
  void addRtfContent(std::string_view text);
  // Nothing to close: there is no trailer.
  void setRtfEnder() {}

  // The final file name for a category type: "Contact" -> "Contacts.txt", "Message" ->
  // "Messages.txt", "CallHistory", "Note" -> "Notes.txt", "BookMark", "Calendar&Reminder";
  // any other type keeps the name "TXT.txt".
  static std::string fileNameForType(std::string_view fileType);

  // Writes the whole buffer into `folder` under the type's file name. A file of that name
  // already there is kept, and the new text goes to "Contacts (2).txt" (and so on) beside
  // it. The file appears complete or not at all. The buffer is kept. Returns the path
  // written, or none when the folder cannot be written (logged).
  std::optional<std::filesystem::path> writeRtfInPath(const std::filesystem::path& folder,
                                                      std::string_view fileType);

  const std::string& content() const { return strRtfContent; }

 private:
  std::string strRtfContent;
};

}  // namespace tamsel
