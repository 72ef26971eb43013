#include "results/recovery_entries.h"

#include <charconv>
#include <cmath>
#include <optional>

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
  // Where and when follow only when the entry holds them, so older entries read as before.
  if (!n.bbCalLocation.empty()) field(s, "Location:", n.bbCalLocation);
  if (!n.bbCalStartDate.empty()) field(s, "Start:", n.bbCalStartDate);
  if (!n.bbCalEndDate.empty()) field(s, "End:", n.bbCalEndDate);
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
  if (n.bDeleted) field(s, "Deleted:", "Yes");
  return s;
}

namespace {

std::string_view yesNo(bool b) {
  return b ? "Yes" : "No";
}

}  // namespace

std::string contactEntry(const PRContactNode& n) {
  std::string s;
  field(s, "Name:", n.contactName);
  field(s, "Phone:", n.contactPhone);
  field(s, "Email:", n.contactEmail);
  field(s, "HomePage:", n.contactHomepage);
  field(s, "Company:", n.contactCompany);
  field(s, "Job Title:", n.contactJobtitle);
  field(s, "Birthday:", n.contactBirthday);
  field(s, "Address:", n.contactAdress);
  field(s, "Note:", n.contactNote);
  field(s, "Picture:", yesNo(!n.imageData.empty()));
  field(s, "Deleted:", yesNo(n.bDeleted));
  return s;
}

std::string messageEntry(const PRMessageNode& n) {
  std::string s;
  field(s, "Name:", n.messageName);
  field(s, "Phone:", n.messagePhone);
  field(s, "Date:", n.messageDate);
  field(s, "Type:", n.messageType);
  field(s, "iMessage:", yesNo(n.bImessage));
  field(s, "Content:", n.messageContent);
  field(s, "Deleted:", yesNo(n.bDeleted));
  return s;
}

std::string callHistoryEntry(const PRCallHistoryNode& n) {
  std::string s;
  field(s, "Name:", n.callName);
  field(s, "Phone:", n.callPhone);
  field(s, "Date:", n.callDate);
  field(s, "Type:", n.callType);
  field(s, "Duration:", n.callDuration);
  field(s, "Deleted:", yesNo(n.bDeleted));
  return s;
}

std::string noteEntry(const PRNoteNode& n) {
  std::string s;
  field(s, "Title:", n.noteTitle);
  field(s, "Date:", n.noteDate);
  field(s, "Note:", n.noteContent);
  field(s, "Deleted:", yesNo(n.bDeleted));
  return s;
}

std::string calendarEntry(const PRCalenderNode& n) {
  std::string s;
  field(s, "Title:", n.calTitle);
  field(s, "Location:", n.location);
  field(s, "Start:", n.startDate);
  field(s, "End:", n.endDate);
  field(s, "Note:", n.calNote);
  field(s, "Deleted:", yesNo(n.bDeleted));
  return s;
}

namespace {

bool allDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// `number` x `factor` truncated, computed exactly for a plain decimal text ("2.01", "12",
// ".5"); none for any other form. Saturates at the largest count.
std::optional<uint64_t> exactDecimalTimes(std::string_view number, uint64_t factor) {
  size_t dot = number.find('.');
  std::string_view whole = number.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? "" : number.substr(dot + 1);
  if ((whole.empty() && fraction.empty()) || !allDigits(whole) || !allDigits(fraction)) {
    return std::nullopt;
  }
  using Wide = unsigned __int128;
  const Wide limit = UINT64_MAX;
  Wide w = 0;
  for (char c : whole) {
    w = w * 10 + static_cast<unsigned>(c - '0');
    if (w > limit) return UINT64_MAX;
  }
  Wide result = w * factor;
  // The factor has at most twelve zeros, so digits past the eighteenth never change the
  // truncated result.
  Wide numerator = 0;
  Wide denominator = 1;
  for (size_t i = 0; i < fraction.size() && i < 18; ++i) {
    numerator = numerator * 10 + static_cast<unsigned>(fraction[i] - '0');
    denominator *= 10;
  }
  result += numerator * factor / denominator;
  return result > limit ? UINT64_MAX : static_cast<uint64_t>(result);
}

}  // namespace

uint64_t sizeFormString(std::string_view text) {
  if (text.empty()) return 0;
  char unit = text.back();
  std::string_view number = text.substr(0, text.size() - 1);
  while (!number.empty() && (number.front() == ' ' || number.front() == '\t')) {
    number.remove_prefix(1);
  }
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  uint64_t factor = 1000000000000u;
  switch (unit) {
    case 'B':
      factor = 1;
      break;
    case 'K':
      factor = 1000;
      break;
    case 'M':
      factor = 1000000;
      break;
    case 'G':
      factor = 1000000000;
      break;
    default:
      break;
  }
  // The size texts are decimal ("2.01K" is 2010 bytes); binary floating point would give
  // 2009.999... and truncate it to 2009. Other forms (exponents) go through a double.
  if (std::optional<uint64_t> exact = exactDecimalTimes(number, factor)) return *exact;
  double value = 0;
  auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)ptr;
  if (ec != std::errc()) return 0;
  double bytes = value * static_cast<double>(factor);
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
