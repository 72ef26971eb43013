#include "ios/contacts_messages.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "events/notification_names.h"
#include "ios/backup_files.h"
#include "ios/phone_db.h"
#include "util/date.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kC1 = "select record_id, data from ABFullSizeImage";
constexpr std::string_view kC1old = "select record_id, data from ABImage";
constexpr std::string_view kC2 =
    "select DISTINCT Rowid, first, "
    "Department,DisplayName,firstPhonetic,jobTitle,organization,middle,middlePhonetic,"
    "CreationDate,Last,Note,Nickname,prefix, suffix, Birthday from abperson ";
constexpr std::string_view kC3 =
    "select property,label,value, UID from abmultivalue where record_id = ? ";
constexpr std::string_view kM6 =
    "select message.ROWID,message.text,message.date,message.handle_id,handle.id,is_from_me from "
    "message left join handle on message.handle_id=handle.ROWID";
constexpr std::string_view kM5 =
    "select message.ROWID,message.group_id,subject, text,date,group_member.address,svc_center,"
    "flags,association_id ,is_madrid,madrid_handle, "
    "madrid_account,madrid_flags,madrid_attachmentInfo from message left join  group_member on  "
    "message.group_id= group_member.group_id";
constexpr std::string_view kM4 =
    "select message.ROWID,message.group_id,subject, text,date,group_member.address,svc_center,"
    "flags,association_id from message left join  group_member on  message.group_id= "
    "group_member.group_id";

// Multivalue property codes of the address book.
constexpr int64_t kPropertyPhone = 3;
constexpr int64_t kPropertyEmail = 4;
constexpr int64_t kPropertyAddress = 5;
constexpr int64_t kPropertyHomepage = 22;

// Appends a value the way the phone's lists of values read: a blank, then the value (so a
// field that was empty begins with a blank).
void append(std::string& field, const std::optional<std::string>& value) {
  if (value) field += " " + *value;
}

void assign(std::string& field, std::optional<std::string> value) {
  if (value) field = std::move(*value);
}

void postProgress(ScanContext& ctx, int64_t value) {
  ctx.nc.post(notify::kScanProgressInfo, value);
}

// The contact pictures, appended to ctx.contactImageArray; the index of the last picture of
// each row id.
std::unordered_map<int32_t, size_t> readPictures(const fs::path& backup, ScanContext& ctx) {
  std::unordered_map<int32_t, size_t> lastPicture;
  const bool fullSize = findStoredFile(backup, stored::kAddressBookImages.name).has_value();
  const StoredDatabase& pictures =
      fullSize ? stored::kAddressBookImages : stored::kAddressBookImagesOld;
  std::optional<fs::path> copy = privateDatabaseCopy(backup, pictures, ctx);
  if (!copy) return lastPicture;
  SqliteDatabase db(*copy, ctx, databaseLabel("contact pictures", pictures));
  std::optional<SqliteStatement> st = db.prepare(fullSize ? kC1 : kC1old);
  while (st && st->step()) {
    if (ctx.stopped()) break;
    auto picture = std::make_shared<PRContactImageNode>();
    picture->rowid = static_cast<int32_t>(st->integer(0));
    const std::span<const uint8_t> data = st->blob(1);
    picture->imageData = ByteRef::fromBytes({data.begin(), data.end()});
    lastPicture[picture->rowid] = ctx.contactImageArray.size();
    ctx.contactImageArray.push_back(std::move(picture));
  }
  return lastPicture;
}

// Every value of the multivalue table, by contact: property, label, value, in the order kC3
// gives a contact's rows (by row id: the table's order, and an index's within one contact).
constexpr std::string_view kAllValues =
    "select record_id, property, label, value from abmultivalue where typeof(record_id) = "
    "'integer' order by rowid";

bool usedProperty(int64_t property) {
  return property == kPropertyPhone || property == kPropertyEmail || property == kPropertyAddress ||
         property == kPropertyHomepage;
}

// The multivalue rows of each contact. kC3 runs once per contact when the database finds a
// contact's rows through an index; without one, each run would read the whole table (a few
// thousand contacts would take minutes), so the table is read once instead.
class ContactValues {
 public:
  explicit ContactValues(SqliteDatabase& db) {
    if (!searchedByIndex(db)) {
      if (std::optional<SqliteStatement> all = db.prepare(kAllValues)) {
        while (all->step()) {
          const int64_t property = all->integer(1);
          std::optional<std::string> value = all->text(3);
          if (usedProperty(property) && value) {
            byContact_[all->integer(0)].emplace_back(property, std::move(*value));
          }
        }
        preloaded_ = true;
        return;
      }
    }
    perContact_ = db.prepare(kC3);
  }

  // Calls fn(property, value) for each row of the contact.
  template <class Fn>
  void forEach(int64_t recordId, Fn&& fn) {
    if (preloaded_) {
      if (auto it = byContact_.find(recordId); it != byContact_.end()) {
        for (const auto& [property, value] : it->second) fn(property, value);
      }
      return;
    }
    if (!perContact_) return;
    perContact_->reset();
    perContact_->bindInt(1, recordId);
    while (perContact_->step()) fn(perContact_->integer(0), perContact_->text(2));
  }

 private:
  static bool searchedByIndex(SqliteDatabase& db) {
    std::optional<SqliteDatabase::Table> plan =
        db.getTable("explain query plan " + std::string(kC3));
    if (!plan || plan->columns == 0) return false;
    bool search = false;
    for (int row = 1; row <= plan->rows; ++row) {
      const std::string detail = plan->cell(row, plan->columns - 1).value_or("");
      if (detail.rfind("SCAN", 0) == 0) return false;
      search = search || detail.rfind("SEARCH", 0) == 0;
    }
    return search;
  }

  std::optional<SqliteStatement> perContact_;
  bool preloaded_ = false;
  std::unordered_map<int64_t, std::vector<std::pair<int64_t, std::string>>> byContact_;
};

void readPeople(SqliteDatabase& db, ScanContext& ctx) {
  std::optional<SqliteStatement> st = db.prepare(kC2);
  while (st && st->step()) {
    if (ctx.stopped()) return;
    auto contact = std::make_shared<PRContactNode>();
    if (int64_t rowid = st->integer(0); rowid != 0) contact->rowid = static_cast<int32_t>(rowid);
    assign(contact->contactName, st->text(1));
    assign(contact->contactCompany, st->text(2));
    append(contact->contactCompany, st->text(5));
    append(contact->contactCompany, st->text(6));
    append(contact->contactName, st->text(7));
    append(contact->contactName, st->text(10));
    assign(contact->contactNote, st->text(11));
    assign(contact->contactBirthday, st->text(15));
    ctx.contactArray.push_back(std::move(contact));
  }
}

// The message fields of the rows of M6: the layout of iOS 6 and every later system.
void fillFromHandleLayout(const SqliteStatement& st, PRMessageNode& m) {
  assign(m.messageContent, st.text(1));
  if (std::optional<std::string> date = GetDateTime(st.integer(2), 0)) m.messageDate = *date;
  assign(m.messagePhone, st.text(4));
  switch (st.integer(5)) {
    case 0:
      m.messageType = "Received";
      break;
    case 1:
      m.messageType = "Send";
      break;
    default:
      m.messageType = "unknown";
      break;
  }
}

// The message fields of the rows of M5 or M4 (before iOS 6); the chat columns of M5 read as
// NULL under M4.
void fillFromGroupLayout(const SqliteStatement& st, PRMessageNode& m) {
  assign(m.messageContent, st.text(3));
  if (std::optional<std::string> date = GetDateTime(st.integer(4), 0)) m.messageDate = *date;
  assign(m.messagePhone, st.text(5));
  m.messageType = messageTypeOfFlags(st.integer(7));
  if (st.integer(9) == 1) {
    m.bImessage = true;
    assign(m.messagePhone, st.text(10));
    m.messageType = messageTypeOfFlags(st.integer(12));
    std::span<const uint8_t> info = st.blob(13);
    if (!info.empty()) {
      std::vector<uint8_t> kept;
      kept.reserve(info.size());
      for (uint8_t b : info) {
        if (b != 0) kept.push_back(b);
      }
      m.messageContent = phoneText(kept);
    }
  }
}

}  // namespace

void scanContactThread(const std::string& backup, ScanContext& ctx) {
  if (backup.empty()) return;
  const fs::path folder(backup);
  if (!findStoredFile(folder, stored::kAddressBook.name)) {
    logLine("contactDB is not exist");
    return;
  }
  // The copy is checkpointed when it is made.
  std::optional<fs::path> book = privateDatabaseCopy(folder, stored::kAddressBook, ctx);
  std::unordered_map<int32_t, size_t> lastPicture = readPictures(folder, ctx);

  if (book) {
    SqliteDatabase db(*book, ctx, databaseLabel("address book", stored::kAddressBook));
    if (db.isOpen()) {
      readPeople(db, ctx);
      // How many contacts share each row id: the last one to take a picture takes it over,
      // the others get a copy, so no picture is held twice once the step is done.
      std::unordered_map<int32_t, size_t> takers;
      for (const auto& contact : ctx.contactArray) {
        if (lastPicture.count(contact->rowid)) ++takers[contact->rowid];
      }
      ContactValues values(db);
      for (const auto& contact : ctx.contactArray) {
        if (ctx.stopped()) break;
        if (auto p = lastPicture.find(contact->rowid); p != lastPicture.end()) {
          ByteRef& picture = ctx.contactImageArray[p->second]->imageData;
          if (--takers[contact->rowid] == 0) {
            contact->imageData = std::move(picture);
            picture = ByteRef();
          } else {
            contact->imageData = picture;
          }
        }
        values.forEach(contact->rowid, [&](int64_t property, std::optional<std::string> value) {
          switch (property) {
            case kPropertyPhone:
              append(contact->contactPhone, value);
              if (value) contact->phoneNumbers.push_back(*value);
              break;
            case kPropertyEmail:
              append(contact->contactEmail, value);
              break;
            case kPropertyAddress:
              append(contact->contactAdress, value);
              break;
            case kPropertyHomepage:
              append(contact->contactHomepage, value);
              break;
            default:
              break;
          }
        });
        ctx.nc.post(notify::kScanContactInfo, std::shared_ptr<PRNode>(contact));
      }
    }
  }
  ctx.nameIndex = std::make_shared<PhoneNameIndex>(ctx.contactArray);
  postProgress(ctx, 40);
}

void scanMessageThread(const std::string& backup, ScanContext& ctx) {
  if (backup.empty()) return;
  const fs::path folder(backup);
  if (!findStoredFile(folder, stored::kMessages.name)) return;

  if (std::optional<fs::path> copy = privateDatabaseCopy(folder, stored::kMessages, ctx)) {
    SqliteDatabase db(*copy, ctx, databaseLabel("messages", stored::kMessages));
    if (db.isOpen()) {
      // Every system since iOS 6 keeps messages with a handle table, whatever version the
      // backup's information names; without one the version decides.
      const bool handleLayout = db.hasTable("handle") || ctx.currentNodeIsiOS6Version;
      std::optional<SqliteStatement> st = db.prepare(handleLayout ? kM6 : kM5);
      // The columns are read as the statement that prepared gives them.
      bool handleColumns = handleLayout;
      const char* layout = handleLayout ? "iOS 6 and later" : "iOS 5";
      if (!st) {
        st = db.prepare(kM4);
        handleColumns = false;
        layout = "before iOS 5";
      }
      logDebug("messages of " + copy->string() + ": " +
               (st ? std::string("layout of ") + layout : std::string("no statement prepared")));
      if (!ctx.nameIndex) ctx.nameIndex = std::make_shared<PhoneNameIndex>(ctx.contactArray);
      const PhoneNameIndex& names = *ctx.nameIndex;
      while (st && !ctx.stopped() && st->step()) {
        auto message = std::make_shared<PRMessageNode>();
        if (handleColumns) {
          fillFromHandleLayout(*st, *message);
        } else {
          fillFromGroupLayout(*st, *message);
        }
        if (std::optional<std::string> name = names.find(message->messagePhone)) {
          message->messageName = std::move(*name);
        }
        ctx.nc.post(notify::kScanMessageInfo, std::shared_ptr<PRNode>(std::move(message)));
      }
    }
  }
  postProgress(ctx, 50);
}

}  // namespace tamsel
