// The notes of phones from system 9 on. They live in NoteStore.sqlite (stored::kNoteStore), a
// Core Data store whose table ZICCLOUDSYNCINGOBJECT holds notes among other kinds of object;
// a note is a row with a ZNOTEDATA key:
//
//   ZTITLE1, else ZTITLE                          the title
//   ZMODIFICATIONDATE1, else ZMODIFICATIONDATE    seconds since 2001-01-01 00:00 UTC, real
//   ZNOTEDATA                                     the key (Z_PK) of its body in ZICNOTEDATA
//   ZISPASSWORDPROTECTED                          1: a locked note, its body is encrypted
//   ZMARKEDFORDELETION                            1: deleted on the phone, not yet purged
//
// ZICNOTEDATA.ZDATA is the body: a gzip'd protocol-buffer message whose note text is the
// string at field path 2 (document), 3 (note), 2 (text). Column names differ between
// systems: the statement is built from the columns the table has (a missing one reads as
// NULL).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "events/records.h"
#include "events/scan_context.h"

namespace tamsel {

class SqliteDatabase;

// Where the note text sits in a body: document, note, text.
inline constexpr std::array<uint32_t, 3> kNoteTextPath{2, 3, 2};

// The plain text of a stored note body (gzip or zlib, then the message). When the message has
// no text at kNoteTextPath, the first nested message shaped like a note (a text in field 2
// beside attribute runs in field 5) gives it. A body whose compressed stream was cut short
// (a carved row that lost its overflow pages) gives the text it still holds. None, with why
// in *error, when nothing can be read (an encrypted body, a bomb, damaged bytes).
std::optional<std::string> noteBodyText(std::span<const uint8_t> body,
                                        std::string* error = nullptr);

// One note row as the store gives it, live or carved.
struct NoteStoreCells {
  std::optional<int64_t> key;  // Z_PK of the note row
  std::optional<std::string> title;
  std::optional<int64_t> modified;  // whole seconds since 2001
  bool locked = false;
  std::span<const uint8_t> body;  // ZDATA; empty when absent
};

// The record of a note row: noteTitle, noteContent (the body's text; empty for a locked note,
// whose body is not read, and for one that cannot be read: then *bodyError says why),
// noteDate (date kind 1), uid (the key, held at the 32-bit limits), bLocked.
std::shared_ptr<PRNoteNode> noteStoreNode(const NoteStoreCells& cells, std::string* bodyError);

// The statement that reads the notes of an open NoteStore (columns: key, title, date,
// locked, marked for deletion, body), made from the columns its tables have; none when it has
// no ZICCLOUDSYNCINGOBJECT table with Z_PK and ZNOTEDATA.
std::optional<std::string> noteStoreStatement(SqliteDatabase& db);

// Reads the NoteStore of the backup folder `backup` from the scan's private copy, when the
// backup holds one: "ScanNoteInfo" per note, or "ScanDelNoteInfo" (bDeleted) for a note
// marked for deletion that still has a title or text, in key order. Posts no progress. A body
// that cannot be read is logged and its note listed without text; a store that cannot be
// copied or read adds a line to ctx.warnings. False when the scan was stopped meanwhile.
bool scanNoteStore(const std::filesystem::path& backup, ScanContext& ctx);

}  // namespace tamsel
