#include "events/notification_center.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "events/notification_names.h"
#include "events/records.h"

namespace tamsel {
namespace {

TEST(NotificationCenter, DeliversInSubscriptionOrderOnPostingThread) {
  NotificationCenter nc;
  std::vector<int> order;
  std::thread::id seen;
  nc.addObserver(notify::kScanContactInfo, [&](const Notification&) { order.push_back(1); });
  nc.addObserver(notify::kScanContactInfo, [&](const Notification&) {
    order.push_back(2);
    seen = std::this_thread::get_id();
  });
  nc.addObserver(notify::kScanNoteInfo, [&](const Notification&) { order.push_back(3); });
  std::thread::id poster;
  std::thread t([&] {
    poster = std::this_thread::get_id();
    nc.post(notify::kScanContactInfo, std::make_shared<PRContactNode>());
  });
  t.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(seen, poster);
}

TEST(NotificationCenter, PostWithoutObserverIsDroppedAndRecordFreed) {
  NotificationCenter nc;
  auto rec = std::make_shared<PRContactNode>();
  std::weak_ptr<PRContactNode> weak = rec;
  nc.post(notify::kScanProgressInfo, int64_t{40});
  nc.post(notify::kScanContactInfo, std::shared_ptr<PRNode>(std::move(rec)));
  EXPECT_TRUE(weak.expired());
}

TEST(NotificationCenter, ObjectAccessorsAndRemoval) {
  NotificationCenter nc;
  int64_t got = -1;
  std::shared_ptr<PRContactNode> contact;
  int owner = 0;
  nc.addObserver(&owner, notify::kBlackBerryRawRecoveryProgress,
                 [&](const Notification& n) { got = n.number(); });
  auto token = nc.addObserver(notify::kScanContactInfo,
                              [&](const Notification& n) { contact = n.record<PRContactNode>(); });
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{60});
  EXPECT_EQ(got, 60);
  nc.post(notify::kScanContactInfo, std::make_shared<PRNoteNode>());
  EXPECT_EQ(contact, nullptr);  // wrong class reads as no record
  nc.removeObserver(&owner);
  nc.removeObserver(token);
  EXPECT_EQ(nc.observerCount(notify::kBlackBerryRawRecoveryProgress), 0u);
  nc.post(notify::kBlackBerryRawRecoveryProgress, int64_t{90});
  EXPECT_EQ(got, 60);
}

TEST(Records, DefaultsAreEmptyTextsMinusOneIdsAndClearFlags) {
  PRContactNode c;
  EXPECT_EQ(c.rowid, -1);
  EXPECT_EQ(c.contactName, "");
  EXPECT_FALSE(c.bDeleted);
  EXPECT_FALSE(c.bSelected);
  PRBlackBerryDataBaseNode db;
  EXPECT_EQ(db.databaseIndex, -1);
  EXPECT_EQ(db.databaseLongth, UINT64_MAX);
  PRDiskInfoNode row;
  EXPECT_EQ(row.diskdev, "Untitled");
  EXPECT_EQ(row.partitionName, "UnKnowPartition");
  EXPECT_EQ(row.partitionSizeString, "0KB");
  EXPECT_TRUE(row.isLeaf);
  EXPECT_EQ(row.deviceIndex, -1);
}

TEST(Records, ScanListNodeCopiesNameWithinItsLength) {
  char name[] = {'a', 'b', '.', 'j', 'p', 'g', 'X', 'Y'};  // not zero-terminated
  _rec_file_ele ele{1234, 99, 6, name, reinterpret_cast<_RecordList*>(0x1)};
  PRScanListNode node;
  node.setfile(ele);
  name[0] = 'Z';  // the node keeps its own copy
  EXPECT_STREQ(node.getfile()->pFileName, "ab.jpg");
  EXPECT_EQ(node.getfile()->file_start, 1234u);
  EXPECT_EQ(node.getfile()->file_len, 99u);
  EXPECT_EQ(node.getfile()->journal_file, nullptr);
  char shortName[] = "a\0bc";
  _rec_file_ele ele2{0, 1, 4, shortName, nullptr};
  node.setfile(ele2);
  EXPECT_STREQ(node.getfile()->pFileName, "a");
  EXPECT_EQ(node.c_pFileName().size(), 5u);
}

}  // namespace
}  // namespace tamsel
