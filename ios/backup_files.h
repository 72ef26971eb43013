// The fixed stored files of a phone backup. A backup keeps each of the phone's files under
// the SHA-1 digest (lowercase hexadecimal) of its domain, "-" and path. Older backups keep
// them flat in the backup folder; backups indexed by Manifest.db keep them in a subfolder
// named by the name's first two digits ("ab/abcdef..."). A database's write-ahead log is a
// stored file of its own, under the digest of the database's domain-path plus "-wal".
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "util/beneath.h"

namespace tamsel {

struct StoredDatabase {
  std::string_view name;        // hashed name of the file
  std::string_view domainPath;  // what the name is the digest of ("" when not known)
  std::string_view walName;     // hashed name of its write-ahead log ("" when not known)
};

namespace stored {
inline constexpr StoredDatabase kAddressBook{"31bb7ba8914766d4ba40d6dfb6113c8b614be442",
                                             "HomeDomain-Library/AddressBook/AddressBook.sqlitedb",
                                             "a9aaf31e300bbb71f1602c65e27a29a6c85f98f8"};
inline constexpr StoredDatabase kAddressBookImages{
    "cd6702cea29fe89cf280a76794405adb17f9a0ee",
    "HomeDomain-Library/AddressBook/AddressBookImages.sqlitedb",
    "944320f0e5693a48a6d6769d509567e0e2fb08de"};
// The picture database under its older name (the same name with ".mddata" after it).
inline constexpr StoredDatabase kAddressBookImagesOld{
    "cd6702cea29fe89cf280a76794405adb17f9a0ee.mddata", "", ""};
inline constexpr StoredDatabase kMessages{"3d0d7e5fb2ce288813306e4d4636395e047a3d28",
                                          "HomeDomain-Library/SMS/sms.db",
                                          "cd47480f213dba9bc38ee792775d17e3f5a73a59"};
inline constexpr StoredDatabase kCallHistory{"2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca",
                                             "WirelessDomain-Library/CallHistory/call_history.db",
                                             "401c463426d21b3522ba5d773023bf8ed4f86506"};
inline constexpr StoredDatabase kCallHistoryOld{"ff1324e6b949111b2fb449ecddb50c89c3699a78",
                                                "HomeDomain-Library/CallHistory/call_history.db",
                                                "010d27916f4edd2170f43c4871a4c2df78e3401e"};
// The call list of phones from system 8 on: a Core Data store (table ZCALLRECORD).
inline constexpr StoredDatabase kCallHistoryStore{
    "5a4935c78a5255723f707230a451d79c540d2741",
    "HomeDomain-Library/CallHistoryDB/CallHistory.storedata",
    "c0339210e4f85752a4bedaaab45deb02da195e15"};
inline constexpr StoredDatabase kNotes{"ca3bc056d4da0bbf88b5fb3be254f3b7147e639c",
                                       "HomeDomain-Library/Notes/notes.sqlite",
                                       "12be33d156731173c5ec6ea09ab02f07a98179ed"};
inline constexpr StoredDatabase kNotesOld{"740b7eaf93d6ea5d305e88bb349c8e9643f48c3b",
                                          "HomeDomain-Library/Notes/notes.db",
                                          "9bc396bfa412010da66d1d49a1c9969f08bc560b"};
// The notes of phones from system 9 on (tables ZICCLOUDSYNCINGOBJECT and ZICNOTEDATA).
inline constexpr StoredDatabase kNoteStore{"4f98687d8ab0d6d1a371110e6b7300f6e465bef2",
                                           "AppDomainGroup-group.com.apple.notes-NoteStore.sqlite",
                                           "7dc1d0fa6cd437c0ad9b9b573ea59c5e62373e92"};
inline constexpr StoredDatabase kBookmarks{"d1f062e2da26192a6625d968274bfda8d07821e4",
                                           "HomeDomain-Library/Safari/Bookmarks.db",
                                           "a696296cdfabe7a07beaabbcedb77fa0b38c3609"};
inline constexpr StoredDatabase kBookmarksOther{"04cc352fd9943f7c0c3f0781d4834fa137775761", "", ""};
inline constexpr StoredDatabase kBrowserHistory{"1d6740792a2b845f4c1e6220c43906d7f0afe8ab",
                                                "HomeDomain-Library/Safari/History.plist", ""};
inline constexpr StoredDatabase kCalendar{"2041457d5fe04d39d0ab481178355df6781e6858",
                                          "HomeDomain-Library/Calendar/Calendar.sqlitedb",
                                          "697bb4986e40a4a8b55bf5b9e3cc0d375c062770"};
}  // namespace stored

// Where the stored file `name` of the backup folder `backup` is, looked up without following
// a link anywhere below the backup folder: `path` is "backup/name" when that is a regular
// file, otherwise "backup/na/name" (the first two characters of the name) when that is.
// When neither is, but something else stands in one of the two places (a symbolic link in
// place of the file or of its subfolder, a FIFO, a device, a folder), `refused` says what
// and where, for a warning: such an entry points out of the evidence or is no file at all.
struct StoredFileLookup {
  std::optional<std::filesystem::path> path;
  std::filesystem::path refusedPath;  // where the entry that is no regular file stands
  EntryKind refusedKind = EntryKind::missing;

  bool refused() const { return refusedKind != EntryKind::missing; }
  // The warning about the refused entry ("the stored file na/name is a symbolic link, …"),
  // or "" when there is none.
  std::string refusal() const;
};
StoredFileLookup lookupStoredFile(const std::filesystem::path& backup, std::string_view name);

// The warning line about `entry` ("the stored file ab/abcdef…") that is `kind`, not a
// regular file, and so is not read.
std::string refusedEntryText(std::string_view entry, EntryKind kind);

// lookupStoredFile's path alone: none when the backup holds no regular file of that name
// (or the name is shorter than two characters or has a "/").
std::optional<std::filesystem::path> findStoredFile(const std::filesystem::path& backup,
                                                    std::string_view name);

// A stored file's path as the backup's index or lookupStoredFile gives it ("folder/name" or
// "folder/na/name", where "na" is two hexadecimal digits) split into the backup folder and
// the part below it.
std::pair<std::filesystem::path, std::string> splitStoredPath(const std::filesystem::path& path);

// Opens the stored file at `path` (a path as above) read-only without following a link
// below its backup folder; -1 with `error` set when it is not a regular file there.
int openStoredFile(const std::filesystem::path& path, std::string* error);

// What is at the stored file's path `path`, looked at the same way; `size` gets a regular
// file's size.
EntryKind storedEntryKind(const std::filesystem::path& path, uint64_t* size = nullptr);

}  // namespace tamsel
