// The call list of phones from system 8 on. It lives in a Core Data store,
// Library/CallHistoryDB/CallHistory.storedata (stored::kCallHistoryStore), one row per call in
// the table ZCALLRECORD:
//
//   ZADDRESS     the number (or FaceTime address), text or, on some systems, bytes
//   ZDATE        seconds since 2001-01-01 00:00 UTC, a real number
//   ZDURATION    seconds, a real number
//   ZORIGINATED  1 for a call the phone made
//   ZCALLTYPE    1 phone, 8 FaceTime video, 16 FaceTime audio
//
// The columns vary between systems; each is read when the table has it and is absent
// otherwise. Calls become PRCallHistoryNode records by the rules of the older call list.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "events/records.h"
#include "events/scan_context.h"

namespace tamsel {

inline constexpr int64_t kCallTypeFaceTimeVideo = 8;
inline constexpr int64_t kCallTypeFaceTimeAudio = 16;

// One call row of the store; each value absent when its cell is NULL or its column missing.
struct CallRecordCells {
  std::optional<std::string> address;  // a byte address is taken as text
  std::optional<double> date;          // seconds since 2001
  std::optional<double> duration;      // seconds
  std::optional<int64_t> originated;
  std::optional<int64_t> callType;
};

// The record of one call row:
//   callPhone     the address
//   callDate      the date text of the whole seconds since 2001 (date kind 1); empty when absent
//   callType      "Outgoing" when originated is 1, else "Incoming"
//   callTime      the whole seconds of the duration (truncated, held at the 32-bit limits);
//                 -1 when absent, as the older list leaves an empty duration
//   callDuration  getCallHistoryDuration(callTime), or for 0 seconds "Cancelled" (outgoing) or
//                 "Missed" (incoming)
//   callService   "FaceTime" for call types 8 and 16
//   callName      the contact's name for the number (ctx.nameForPhone)
std::shared_ptr<PRCallHistoryNode> callRecordNode(const CallRecordCells& cells,
                                                  const ScanContext& ctx);

// Reads the store of the backup folder `backup` from the scan's private copy, when the backup
// holds it: "ScanCallHistoryInfo" per call, in table order. Posts no progress. A store that
// cannot be copied or read, or is read only up to a damaged part, is skipped from there with a
// log line and a line in ctx.warnings. False when the scan was stopped meanwhile.
bool scanCallHistoryStore(const std::filesystem::path& backup, ScanContext& ctx);

}  // namespace tamsel
