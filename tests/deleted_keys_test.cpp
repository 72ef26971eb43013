#include "events/deleted_keys.h"

#include <gtest/gtest.h>

#include <memory>

namespace tamsel {
namespace {

std::shared_ptr<PRNoteNode> note(std::string title, std::string content, std::string date) {
  auto n = std::make_shared<PRNoteNode>();
  n->noteTitle = std::move(title);
  n->noteContent = std::move(content);
  n->noteDate = std::move(date);
  return n;
}

using V = DeletedRecordKeys::Verdict;

TEST(DeletedKeys, NotesWithTextAreKeyedByTextAlone) {
  DeletedRecordKeys keys;
  keys.noteLive(*note("Shopping", "milk", "2020-01-01"));
  EXPECT_EQ(keys.admitDeleted(*note("Other title", "milk", "2021-02-02")), V::duplicate);
  EXPECT_EQ(keys.admitDeleted(*note("Shopping", "milk and eggs", "2020-01-01")), V::listed);
}

TEST(DeletedKeys, NotesWithoutTextAreToldApartByTitleAndDate) {
  DeletedRecordKeys keys;
  keys.noteLive(*note("Locked diary", "", "2020-01-01 10:00"));
  // The live locked note hides only its own deleted copy, not every other empty note.
  EXPECT_EQ(keys.admitDeleted(*note("Locked diary", "", "2020-01-01 10:00")), V::duplicate);
  EXPECT_EQ(keys.admitDeleted(*note("Passwords", "", "2020-03-01 09:00")), V::listed);
  EXPECT_EQ(keys.admitDeleted(*note("Passwords", "", "2020-03-02 09:00")), V::listed);
  EXPECT_EQ(keys.admitDeleted(*note("Passwords", "", "2020-03-02 09:00")), V::duplicate);
  // A note whose text is its title is not confused with a text-less note of that title.
  EXPECT_EQ(keys.admitDeleted(*note("", "Passwords", "")), V::listed);
}

}  // namespace
}  // namespace tamsel
