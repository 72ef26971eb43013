#include "results/recovery_entries.h"

#include <charconv>
#include <cmath>

namespace tamsel {

namespace {

// Appends `label`, the value and `tail` ("  " for most fields).
void field(std::string& out, std::string_view label, std::string_view value,
           std::string_view tail = "  ") {
  out += label;
  out += value;
  out += tail;
}

}  // namespace

std::string contactEntry(const PRBlackBerryContactNode& n) {
  std::string s;
  s += "Name:";
  s += n.contactName;
  s += ' ';
  s += n.titleName;
  s += ' ';
  s += n.companyName;
  s += ' ';
  field(s, "Home Phone:", n.homeCall);
  field(s, "Work Phone:", n.workCall);
  field(s, "Mobile Phone:", n.mobilCall);
  field(s, "Email:", n.email);
  s += "Address:";
  s += n.address;
  s += ' ';
  s += n.city;
  s += ' ';
  s += n.provice;
  s += ' ';
  s += n.country;
  s += ' ';
  s += n.postZcode;
  field(s, "Websit:", n.webSite);
  field(s, "Pin Number:", n.pinNumber);
  field(s, "Birthday:", n.brithday);
  field(s, "Note:", n.note);
  return s;
}

std::string smsEntry(const PRBlackBerrySMSMessageNode& n) {
  std::string s;
  field(s, "Phone:", n.numberString);
  field(s, "type:", n.type);
  field(s, "Content:", n.contentText);
  return s;
}

std::string memoEntry(const PRBlackBerryNoteNode& n) {
  std::string s;
  field(s, "Title:", n.noteTittle);
  field(s, "Note:", n.noteContent);
  return s;
}

std::string calendarEntry(const PRBlackBerryCalenderNode& n) {
  std::string s;
  field(s, "Subject:", n.bbCalSubject);
  field(s, "Information:", n.bbCalInformation);
  return s;
}

std::string callLogEntry(const PRBlackBerryCallNode& n) {
  std::string s;
  field(s, "Name:", n.CallName);
  field(s, "Phone:", n.CallNumber);
  field(s, "Type:", n.CallType);
  field(s, "Duration:", n.callDuration);
  return s;
}

std::string mmsEntry(const PRBlackBerryMMSMessageNode& n) {
  std::string s;
  field(s, "Number:", n.numberName);
  field(s, "ContentDataName:", n.contentDataName);
  field(s, "contentType:", n.contentType);
  return s;
}

std::string bookMarkEntry(const PRBookMarkNode& n) {
  std::string s;
  field(s, "Title:", n.bookMarkTitle);
  field(s, "URL:", n.bookMarkURL);
  return s;
}

uint64_t sizeFormString(std::string_view text) {
  if (text.empty()) return 0;
  char unit = text.back();
  std::string_view number = text.substr(0, text.size() - 1);
  while (!number.empty() && (number.front() == ' ' || number.front() == '\t')) {
    number.remove_prefix(1);
  }
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  double value = 0;
  auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)ptr;
  if (ec != std::errc()) return 0;
  double factor = 1e12;
  switch (unit) {
    case 'B':
      factor = 1;
      break;
    case 'K':
      factor = 1e3;
      break;
    case 'M':
      factor = 1e6;
      break;
    case 'G':
      factor = 1e9;
      break;
    default:
      break;
  }
  double bytes = value * factor;
  if (!(bytes > 0)) return 0;  // negative or not a number
  if (bytes >= 18446744073709551615.0) return UINT64_MAX;
  return static_cast<uint64_t>(bytes);
}

std::string proposedFolderName(std::time_t now) {
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return "Tamsel";
  char date[32];
  char time[32];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  std::strftime(time, sizeof time, "%H.%M.%S", &local);
  return std::string("Tamsel ") + date + " - " + time;
}

int progressPercent(int recovered, int selected) {
  if (selected <= 0) return 0;
  float percent = static_cast<float>(recovered) * 100.0f / static_cast<float>(selected);
  if (!(percent > 0.0f)) return 0;
  if (percent >= 100.0f) return 100;
  return static_cast<int>(percent);
}

}  // namespace tamsel
