#include "events/deleted_keys.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace tamsel {
namespace {

std::string joinKey(std::initializer_list<std::string_view> parts) {
  std::string k;
  size_t size = 0;
  for (std::string_view p : parts) size += sizeof(uint64_t) + p.size();
  k.reserve(size);
  for (std::string_view p : parts) {
    const uint64_t n = p.size();
    k.append(reinterpret_cast<const char*>(&n), sizeof n);
    k.append(p);
  }
  return k;
}

enum Category { kContact, kMessage, kNote, kCall, kBookmark, kCalendar };

}  // namespace

bool DeletedRecordKeys::keyOf(const PRNode& r, int* category, std::string* key) {
  if (const auto* c = dynamic_cast<const PRContactNode*>(&r)) {
    *category = kContact;
    *key = joinKey({c->contactName, c->contactPhone});
  } else if (const auto* m = dynamic_cast<const PRMessageNode*>(&r)) {
    *category = kMessage;
    *key = joinKey({m->messagePhone, m->messageContent, m->messageDate});
  } else if (const auto* n = dynamic_cast<const PRNoteNode*>(&r)) {
    *category = kNote;
    // Notes without a text (locked ones, or deleted ones whose body is gone) are told apart
    // by title and date rather than all sharing the empty text's key.
    *key = n->noteContent.empty() ? joinKey({"", n->noteTitle, n->noteDate})
                                  : joinKey({n->noteContent});
  } else if (const auto* call = dynamic_cast<const PRCallHistoryNode*>(&r)) {
    *category = kCall;
    *key = joinKey({call->callPhone, call->callDate});
  } else if (const auto* b = dynamic_cast<const PRBookMarkNode*>(&r)) {
    *category = kBookmark;
    *key = joinKey({b->bookMarkURL, b->bookMarkTitle});
  } else if (const auto* e = dynamic_cast<const PRCalenderNode*>(&r)) {
    *category = kCalendar;
    *key = joinKey({e->calTitle, e->calNote, e->startDate});
  } else {
    return false;
  }
  return true;
}

bool DeletedRecordKeys::isEmpty(const PRNode& r) {
  if (const auto* m = dynamic_cast<const PRMessageNode*>(&r)) {
    return m->messagePhone.empty() && m->messageContent.empty();
  }
  if (const auto* c = dynamic_cast<const PRCallHistoryNode*>(&r)) {
    return c->callName.empty() && c->callPhone.empty();
  }
  if (const auto* b = dynamic_cast<const PRBookMarkNode*>(&r)) {
    return b->bookMarkURL.empty() && b->bookMarkTitle.empty();
  }
  if (const auto* e = dynamic_cast<const PRCalenderNode*>(&r)) {
    return e->calTitle.empty() && e->calNote.empty() && e->startDate.empty();
  }
  return false;
}

void DeletedRecordKeys::noteLive(const PRNode& record) {
  int category = 0;
  std::string key;
  if (keyOf(record, &category, &key)) keys_[category].insert(std::move(key));
}

DeletedRecordKeys::Verdict DeletedRecordKeys::admitDeleted(const PRNode& record) {
  int category = 0;
  std::string key;
  if (!keyOf(record, &category, &key)) return Verdict::listed;
  if (isEmpty(record)) return Verdict::empty;
  return keys_[category].insert(std::move(key)).second ? Verdict::listed : Verdict::duplicate;
}

DeletedRecordKeys::Verdict DeletedRecordKeys::verdictFor(const PRNode& record) const {
  int category = 0;
  std::string key;
  if (!keyOf(record, &category, &key)) return Verdict::listed;
  if (isEmpty(record)) return Verdict::empty;
  return keys_[category].count(key) ? Verdict::duplicate : Verdict::listed;
}

void DeletedRecordKeys::clear() {
  for (auto& k : keys_) k.clear();
}

}  // namespace tamsel
