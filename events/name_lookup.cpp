#include "events/name_lookup.h"

namespace tamsel {
namespace {

char foldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Normalised and case-folded in one pass.
std::string foldedNumber(std::string_view number) {
  std::string out;
  out.reserve(number.size());
  for (char c : number) {
    if (c == '-' || c == '(' || c == ')' || c == ' ') continue;
    out.push_back(foldCase(c));
  }
  return out;
}

}  // namespace

std::string normalisePhoneNumber(std::string_view number) {
  std::string out;
  out.reserve(number.size());
  for (char c : number) {
    if (c != '-' && c != '(' && c != ')' && c != ' ') out.push_back(c);
  }
  return out;
}

std::optional<std::string> getNameByPhoneNumber(
    const std::vector<std::shared_ptr<PRContactNode>>& contactArray, std::string_view phone) {
  if (contactArray.empty()) return std::nullopt;
  const std::string wanted = foldedNumber(phone);
  if (wanted.empty()) return std::nullopt;
  for (const auto& contact : contactArray) {
    if (!contact || contact->contactPhone.empty()) continue;
    const std::string numbers = foldedNumber(contact->contactPhone);
    if (numbers.size() >= wanted.size() && numbers.find(wanted) != std::string::npos) {
      return contact->contactName;
    }
  }
  return std::nullopt;
}

}  // namespace tamsel
