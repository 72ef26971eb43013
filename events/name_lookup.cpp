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

namespace tamsel {

// First version: the contacts' folded numbers are made once; each lookup still goes over
// them in list order.
struct PhoneNameIndex::Impl {
  std::vector<std::pair<std::string, std::string>> folded;  // (numbers, name) in list order
};

PhoneNameIndex::PhoneNameIndex(const std::vector<std::shared_ptr<PRContactNode>>& contactArray)
    : impl_(std::make_unique<Impl>()) {
  for (const auto& contact : contactArray) {
    if (!contact || contact->contactPhone.empty()) continue;
    std::string numbers = normalisePhoneNumber(contact->contactPhone);
    for (char& c : numbers) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    impl_->folded.emplace_back(std::move(numbers), contact->contactName);
  }
}

PhoneNameIndex::~PhoneNameIndex() = default;

std::optional<std::string> PhoneNameIndex::find(std::string_view phone) const {
  std::string wanted = normalisePhoneNumber(phone);
  for (char& c : wanted) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (wanted.empty()) return std::nullopt;
  for (const auto& [numbers, name] : impl_->folded) {
    if (numbers.find(wanted) != std::string::npos) return name;
  }
  return std::nullopt;
}

}  // namespace tamsel
