// Which deleted phone records are listed: one that carries nothing (empty) is not, and neither
// is one whose key fields equal those of a record of its category listed before it, live or
// deleted. The keys are kept in a hash set per category, so each record costs one look-up
// whatever the number of records; the result presenter and the command line's scan spool share
// this rule, so they count the same records.
//
//   category    empty when                                   key fields
//   contact     never                                        contactName, contactPhone
//   message     messagePhone and messageContent empty         messagePhone, messageContent,
//                                                             messageDate
//   note        never (both texts are never missing)          noteContent; without one:
//                                                             noteTitle, noteDate
//   call        callName and callPhone empty                  callPhone, callDate
//   bookmark    bookMarkURL and bookMarkTitle empty           bookMarkURL, bookMarkTitle
//   calendar    calTitle, calNote and startDate empty         calTitle, calNote, startDate
#pragma once

#include <array>
#include <string>
#include <unordered_set>

#include "events/records.h"

namespace tamsel {

class DeletedRecordKeys {
 public:
  enum class Verdict { listed, empty, duplicate };

  // A live record: its key is kept (live records themselves are never dropped). Records of
  // other classes are ignored.
  void noteLive(const PRNode& record);
  // A deleted record: `listed` when it is to be listed (its key is kept from then on), else
  // why not. Records of other classes are always listed.
  Verdict admitDeleted(const PRNode& record);
  // What admitDeleted would say, without keeping anything.
  Verdict verdictFor(const PRNode& record) const;
  void clear();

  // The key of a record of one of the six classes (its fields with their lengths, so that
  // field boundaries count); false for other classes.
  static bool keyOf(const PRNode& record, int* category, std::string* key);
  // True when a deleted record of one of the six classes carries nothing worth listing.
  static bool isEmpty(const PRNode& record);

 private:
  std::array<std::unordered_set<std::string>, 6> keys_;
};

}  // namespace tamsel
