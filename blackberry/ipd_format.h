// The on-disk layout of a BlackBerry IPD backup file, and the names of the databases we
// decode.
//
// File (offsets from the start of the file):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       38    header text "Inter@ctive Pager Backup/Restore File\n" (not checked)
//   38      1     format version (2 on the files we have seen; not checked)
//   39      2     number of databases N, unsigned BIG-endian (the only big-endian value
//                 of the container)
//   41      1     separator (not checked)
//   42      var   name table: N entries, see below
//   ...     var   records, one after another up to the end of the file, see below
//
// Name table entry (entry i names database index i, counted from 0):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       2     name length L, unsigned little-endian (includes the trailing zero)
//   2       L     name bytes: the text up to the first zero byte, UTF-8 (invalid UTF-8
//                 reads as the empty name, which matches no database)
//
// Record (all integers little-endian):
//
//   OFFSET  SIZE   DESCRIPTION
//   0       2      database index (into the name table)
//   2       4      record length R: everything after this field, i.e. 7 + field bytes
//   6       1      database version (unused)
//   7       2      record handle (unused)
//   9       4      record unique id (unused)
//   13      R - 7  fields, see below
//
// A record is corrupt when R < 7 or when it runs past the end of the file; the walk ends
// there.
//
// Field (inside a record):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       2     data length D, unsigned little-endian
//   2       1     field type
//   3       D     data (a D running past the record end is cut at the record end)
//
// The Windows desktop software writes one file per database ("1.dat", "2.dat", ...), each
// in the layout above with a single name-table entry; the count at 39 is not read there
// and every record of the file belongs to that one database, whatever its index says.
//
// SMS metadata field (type 1 of "SMS Messages"):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       1     direction: 1 received, 0 sent
//   5       2     status word, little-endian (0x7FF on received messages)
//   13      8     message time: milliseconds since 1970-01-01 UTC, little-endian
//   21      8     a second time (unused)
//   29      1     body coding: 2 = UCS-2 (the body is UTF-16 big-endian)
#pragma once

#include <cstdint>
#include <string_view>

namespace tamsel::ipd {

inline constexpr std::string_view kHeaderText = "Inter@ctive Pager Backup/Restore File\n";
inline constexpr uint64_t kVersionOffset = 38;
inline constexpr uint64_t kDatabaseCountOffset = 39;
inline constexpr uint64_t kNameTableOffset = 42;
inline constexpr uint64_t kRecordHeaderSize = 13;
// The record-length field counts the 7 header bytes that follow it.
inline constexpr uint32_t kRecordLengthOverhead = 7;
inline constexpr uint64_t kFieldHeaderSize = 3;

// SMS metadata field (type 1).
inline constexpr size_t kSmsTimeOffset = 13;
inline constexpr size_t kSmsCodingOffset = 29;
inline constexpr uint8_t kSmsCodingUcs2 = 2;
inline constexpr uint8_t kSmsReceived = 1;
inline constexpr uint8_t kSmsSent = 0;

// The databases we decode. Names are compared exactly, case included.
enum class DatabaseKind : uint8_t {
  kUnknown = 0,
  kContacts,
  kCallLogs,
  kSms,
  kMms,
  kMemos,
  kCalendar,
  kContentStore,
};

inline constexpr std::string_view kAddressBook = "Address Book - All";
inline constexpr std::string_view kPhoneCallLogs = "Phone Call Logs";
inline constexpr std::string_view kSmsMessages = "SMS Messages";
inline constexpr std::string_view kMmsMessages = "MMS Messages";
inline constexpr std::string_view kMemos = "Memos";
inline constexpr std::string_view kCalendar = "Calendar - All";
inline constexpr std::string_view kContentStore = "Content Store";

inline DatabaseKind databaseKindOf(std::string_view name) {
  if (name == kPhoneCallLogs) return DatabaseKind::kCallLogs;
  if (name == kAddressBook) return DatabaseKind::kContacts;
  if (name == kSmsMessages) return DatabaseKind::kSms;
  if (name == kMmsMessages) return DatabaseKind::kMms;
  if (name == kMemos) return DatabaseKind::kMemos;
  if (name == kCalendar) return DatabaseKind::kCalendar;
  if (name == kContentStore) return DatabaseKind::kContentStore;
  return DatabaseKind::kUnknown;
}

}  // namespace tamsel::ipd
