// The prepared name index answers exactly as the contact-by-contact lookup does.
#include "events/name_lookup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace tamsel {
namespace {

using Contacts = std::vector<std::shared_ptr<PRContactNode>>;

std::shared_ptr<PRContactNode> contact(std::string name, std::string phones) {
  auto c = std::make_shared<PRContactNode>();
  c->contactName = std::move(name);
  c->contactPhone = std::move(phones);
  return c;
}

TEST(PhoneNameIndexTest, FixedCases) {
  const Contacts contacts = {
      contact("Empty", ""),
      nullptr,
      contact("Blank", " "),
      contact("Alice", " 415-555-0100 (415) 555 0199"),
      contact("Mail", " Carol.Smith@Example.COM"),
      contact("Later Alice", " 4155550199"),
      contact("", " 777"),
  };
  PhoneNameIndex index(contacts);
  struct Case {
    const char* phone;
    std::optional<std::string> name;
  } cases[] = {
      {"(415) 555-0199", "Alice"},
      {"01004155", "Alice"},       // runs from the first number into the second
      {"com 4155", std::nullopt},  // spans two contacts: never a match
      {"carol.smith@example.com", "Mail"},
      {"CAROL", "Mail"},
      {"777", ""},
      {"7777", std::nullopt},
      {"", std::nullopt},
      {" -()", std::nullopt},
      {"4155550100415555019900", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(index.find(c.phone), c.name) << c.phone;
    EXPECT_EQ(index.find(c.phone), getNameByPhoneNumber(contacts, c.phone)) << c.phone;
    EXPECT_EQ(index.find(c.phone), c.name) << c.phone << " (answered again)";
  }
  EXPECT_FALSE(PhoneNameIndex(Contacts{}).find("1"));
}

// Random address books over a small alphabet (so that numbers share many pieces), queries
// taken from inside a contact's numbers, across two of its numbers, across two contacts,
// with punctuation and letter case changed, and made up.
TEST(PhoneNameIndexTest, AgreesWithTheLinearLookupOnRandomBooks) {
  std::mt19937 rng(20240611);
  const std::string alphabet = "0123Ab+#";
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  auto number = [&]() {
    std::string s;
    for (size_t n = 1 + pick(8); n > 0; --n) {
      s.push_back(alphabet[pick(alphabet.size())]);
      if (pick(5) == 0) s.push_back("-() "[pick(4)]);
    }
    return s;
  };
  size_t matched = 0;
  size_t spanning = 0;
  for (int book = 0; book < 60; ++book) {
    Contacts contacts;
    for (size_t n = pick(40); n > 0; --n) {
      std::string phones;
      for (size_t k = pick(4); k > 0; --k) phones += " " + number();
      contacts.push_back(contact("c" + std::to_string(contacts.size()), phones));
    }
    PhoneNameIndex index(contacts);
    for (int q = 0; q < 300; ++q) {
      std::string phone;
      if (!contacts.empty() && pick(3) != 0) {
        const std::string& phones = contacts[pick(contacts.size())]->contactPhone;
        const std::string& next = contacts[pick(contacts.size())]->contactPhone;
        const std::string source = pick(4) == 0 ? phones + next : phones;
        if (!source.empty()) {
          const size_t from = pick(source.size());
          phone = source.substr(from, 1 + pick(source.size() - from));
        }
        for (char& c : phone) {
          if (pick(3) == 0) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
      } else {
        phone = number();
      }
      const std::optional<std::string> expected = getNameByPhoneNumber(contacts, phone);
      ASSERT_EQ(index.find(phone), expected) << "book " << book << " phone '" << phone << "'";
      matched += expected.has_value();
      spanning += phone.find(' ') != std::string::npos && expected.has_value();
    }
  }
  // The draws cover both answers and matches that run across two numbers of one contact.
  EXPECT_GT(matched, 3000u);
  EXPECT_GT(spanning, 100u);
}

TEST(PhoneNameIndexTest, LookupCostDoesNotGrowWithTheBook) {
  Contacts contacts;
  for (int i = 0; i < 20000; ++i) {
    contacts.push_back(contact("p" + std::to_string(i), " +44 20 " + std::to_string(10000000 + i)));
  }
  PhoneNameIndex index(contacts);
  EXPECT_EQ(index.find("+44 20 10019999"), "p19999");
  const auto start = std::chrono::steady_clock::now();
  size_t found = 0;
  for (int i = 0; i < 20000; ++i) {
    found += index.find("+4420" + std::to_string(10000000 + (i * 7919) % 20000)).has_value();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(found, 20000u);
  // The linear lookup would make 2 * 10^8 number comparisons here; the index needs
  // milliseconds, even under a sanitizer.
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tamsel
