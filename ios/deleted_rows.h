// The schema-aware pass of the phone scan: deleted rows found by the tables' own shape (see
// carve/schema_carver.h) in the scan's private database copies and the write-ahead logs the
// backup stored beside them, turned into records with the column maps of the live steps.
//
//   database      tables                                   record
//   messages      message (+ handle: live and carved rows)   PRMessageNode, text, date (kind 0),
//                                                            phone, name, type
//   address book  ABPerson (+ carved ABMultiValue rows)      PRContactNode, name parts, company,
//                                                            note, numbers, e-mails, addresses
//   call history  call                                       PRCallHistoryNode as the live step
//   call store    ZCALLRECORD (CallHistory.storedata)        PRCallHistoryNode as the live step
//   notes         Note + note_bodies, or ZNOTE + ZNOTEBODY   PRNoteNode, title, body (else the
//                                                            summary), date (kind 1)
//   note store    ZICCLOUDSYNCINGOBJECT note rows +          PRNoteNode, title, text of the
//                 ZICNOTEDATA bodies (+ live rows)           body, date (kind 1), key, locked
//   bookmarks     bookmarks (but the two standard folders)   PRBookMarkNode, title, url
//   calendar      CalendarItem, else Event                   PRCalenderNode, summary, location,
//                                                            description, start, end (kind 1)
#pragma once

#include <string>

#include "events/deleted_keys.h"
#include "events/scan_context.h"

namespace tamsel {

// Posts the "Del" notification of every record made from a carved row unless `seen` says it is
// empty or listed already (its key is kept then). `seen` is to hold the keys of every record the
// scan posted before. Posts no progress; stops between rows once ctx.stopped().
void scanDeletedRows(const std::string& backup, ScanContext& ctx, DeletedRecordKeys& seen);

}  // namespace tamsel
