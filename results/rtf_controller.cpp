#include "results/rtf_controller.h"

#include "util/file_names.h"
#include "util/output_folder.h"

namespace tamsel {

void PRRtfController::addRtfContent(std::string_view text) {
  strRtfContent += text;
  strRtfContent += "\n\n";
}

std::string PRRtfController::fileNameForType(std::string_view fileType) {
  if (fileType == "Contact") return "Contacts.txt";
  if (fileType == "Message") return "Messages.txt";
  if (fileType == "CallHistory") return "CallHistory.txt";
  if (fileType == "Note") return "Notes.txt";
  if (fileType == "BookMark") return "BookMark.txt";
  if (fileType == "Calendar&Reminder") return "Calendar&Reminder.txt";
  return "TXT.txt";
}

std::optional<std::filesystem::path> PRRtfController::writeRtfInPath(
    const std::filesystem::path& folder, std::string_view fileType) {
  setRtfEnder();
  return writeNewFile(folder, fileNameForType(fileType), strRtfContent);
}

}  // namespace tamsel
