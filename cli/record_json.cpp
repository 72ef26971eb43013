#include "cli/record_json.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

namespace tamsel::cli {
namespace {

using Json = nlohmann::ordered_json;

using Warn = std::function<void(const std::string&)>;

// {"size": n, "sha256": ...} of a byte field, hashed from the input in chunks; a field whose
// bytes can no longer be read gets a null digest and the reason, and is reported.
class ByteFields {
 public:
  explicit ByteFields(const Warn& warn) : warn_(warn) {}
  Json operator()(const ByteRef& b) const {
    std::string error;
    if (auto digest = b.sha256Hex(&error)) return Json{{"size", b.size()}, {"sha256", *digest}};
    if (warn_) warn_("bytes not hashed: " + error);
    return Json{{"size", b.size()}, {"sha256", nullptr}, {"readError", error}};
  }

 private:
  const Warn& warn_;
};

Json toJson(const PRBlackBerryContactNode& r, const ByteFields& bytesJson) {
  return Json{{"contactName", r.contactName},
              {"companyName", r.companyName},
              {"titleName", r.titleName},
              {"contactImageData", bytesJson(r.contactImageData)},
              {"email", r.email},
              {"phoneNumber", r.phoneNumber},
              {"workCall", r.workCall},
              {"homeCall", r.homeCall},
              {"mobilCall", r.mobilCall},
              {"pinNumber", r.pinNumber},
              {"address", r.address},
              {"city", r.city},
              {"provice", r.provice},
              {"country", r.country},
              {"postZcode", r.postZcode},
              {"brithday", r.brithday},
              {"categories", r.categories},
              {"webSite", r.webSite},
              {"note", r.note},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryCallNode& r, const ByteFields&) {
  return Json{{"CallName", r.CallName},         {"CallNumber", r.CallNumber},
              {"CallTime", r.CallTime},         {"CallType", r.CallType},
              {"callDuration", r.callDuration}, {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerrySMSMessageNode& r, const ByteFields& bytesJson) {
  return Json{{"contentText", r.contentText},  {"numberString", r.numberString},
              {"isUncode", r.isUncode.get()},  {"type", r.type},
              {"dateTime", r.dateTime},        {"contentData", bytesJson(r.contentData)},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryMMSMessageNode& r, const ByteFields& bytesJson) {
  return Json{{"numberName", r.numberName},
              {"contentText", r.contentText},
              {"contentDataName", r.contentDataName},
              {"contentType", r.contentType},
              {"contentData", bytesJson(r.contentData)},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryNoteNode& r, const ByteFields&) {
  return Json{{"noteTittle", r.noteTittle},
              {"noteContent", r.noteContent},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryCalenderNode& r, const ByteFields&) {
  return Json{{"bbCalSubject", r.bbCalSubject},   {"bbCalInformation", r.bbCalInformation},
              {"bbCalLocation", r.bbCalLocation}, {"bbCalStartDate", r.bbCalStartDate},
              {"bbCalEndDate", r.bbCalEndDate},   {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryContentNode& r, const ByteFields& bytesJson) {
  return Json{{"filePathName", r.filePathName},       {"contentData", bytesJson(r.contentData)},
              {"ContentFileType", r.ContentFileType}, {"contentFileSize", r.contentFileSize},
              {"bSelected", r.bSelected.get()},       {"fileSize", r.fileSize}};
}

Json toJson(const PRContactNode& r, const ByteFields& bytesJson) {
  return Json{{"rowid", r.rowid},
              {"contactName", r.contactName},
              {"contactPhone", r.contactPhone},
              {"contactEmail", r.contactEmail},
              {"contactHomepage", r.contactHomepage},
              {"contactCompany", r.contactCompany},
              {"contactBirthday", r.contactBirthday},
              {"contactJobtitle", r.contactJobtitle},
              {"contactNote", r.contactNote},
              {"contactAdress", r.contactAdress},
              {"phoneNumbers", r.phoneNumbers},
              {"imageData", bytesJson(r.imageData)},
              {"bDeleted", r.bDeleted.get()},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRMessageNode& r, const ByteFields&) {
  return Json{{"messageName", r.messageName},
              {"messagePhone", r.messagePhone},
              {"messageContent", r.messageContent},
              {"messageDate", r.messageDate},
              {"messageType", r.messageType},
              {"bImessage", r.bImessage.get()},
              {"bSelected", r.bSelected.get()},
              {"bDeleted", r.bDeleted.get()},
              {"handle_id", r.handle_id}};
}

Json toJson(const PRCallHistoryNode& r, const ByteFields&) {
  return Json{{"callName", r.callName},       {"callPhone", r.callPhone},
              {"callDate", r.callDate},       {"callType", r.callType},
              {"callTime", r.callTime},       {"callDuration", r.callDuration},
              {"callService", r.callService}, {"bSelected", r.bSelected.get()},
              {"bDeleted", r.bDeleted.get()}};
}

Json toJson(const PRNoteNode& r, const ByteFields&) {
  return Json{{"noteTitle", r.noteTitle},    {"noteContent", r.noteContent},
              {"noteDate", r.noteDate},      {"uid", r.uid},
              {"bLocked", r.bLocked.get()},  {"bSelected", r.bSelected.get()},
              {"bDeleted", r.bDeleted.get()}};
}

Json toJson(const PRBookMarkNode& r, const ByteFields&) {
  return Json{{"bookMarkTitle", r.bookMarkTitle},
              {"bookMarkURL", r.bookMarkURL},
              {"bSelected", r.bSelected.get()},
              {"bDeleted", r.bDeleted.get()}};
}

Json toJson(const PRCalenderNode& r, const ByteFields&) {
  return Json{{"calTitle", r.calTitle},        {"calNote", r.calNote},
              {"location", r.location},        {"startDate", r.startDate},
              {"endDate", r.endDate},          {"bDeleted", r.bDeleted.get()},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRPhotoAndVideoNode& r, const ByteFields&) {
  return Json{{"fileNodeName", r.fileNodeName}, {"fileNodeSize", r.fileNodeSize},
              {"filePath", r.filePath},         {"originPath", r.originPath},
              {"bSelected", r.bSelected.get()}, {"bmov", r.bmov.get()}};
}

Json toJson(const PRFaceTwitterNode& r, const ByteFields&) {
  return Json{{"faceTwitterFileName", r.faceTwitterFileName},
              {"faceTwitterFilePath", r.faceTwitterFilePath},
              {"originPath", r.originPath},
              {"fileSize", r.fileSize},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRScanListNode& r, const ByteFields&) {
  const _rec_file_ele* f = r.getfile();
  return Json{{"nodeName", r.nodeName},
              {"nodeSizeString", r.nodeSizeString},
              {"createTime", r.createTime},
              {"modifyTime", r.modifyTime},
              {"validaty", r.validaty},
              {"bDeleted", r.bDeleted},
              {"bMarked", r.bMarked.get()},
              {"bSelected", r.bSelected.get()},
              {"fileType", r.fileType},
              {"fileSizeNumber", r.fileSizeNumber},
              {"foundFlags", r.foundFlags},
              {"fileinfo",
               {{"file_start", f->file_start},
                {"file_len", f->file_len},
                {"file_name_len", f->file_name_len}}}};
}

std::string dumped(const Json& j, int indent) {
  return j.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// One record as it stands in the document: three levels deep.
template <class T>
std::string recordText(const T& r, const ByteFields& bytes) {
  std::string text = dumped(toJson(r, bytes), 2);
  std::string indented = "      ";
  indented.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    indented += c;
    if (c == '\n') indented += "      ";
  }
  return indented;
}

std::string documentHead(std::string_view source, std::string_view kind,
                         std::string_view device = {}) {
  std::string head = "{\n  \"source\": " + dumped(Json(std::string(source)), -1) +
                     ",\n  \"kind\": " + dumped(Json(std::string(kind)), -1);
  if (!device.empty()) head.append(",\n  \"device\": ").append(device);
  return head + ",\n  \"records\": {";
}

std::string_view documentTail(bool anyClass) {
  return anyClass ? "\n  }\n}\n" : "}\n}\n";
}

// Writes the lists of one class as `"CLASS": [ ... ]`, record by record.
class DocumentWriter {
 public:
  DocumentWriter(const std::function<bool(std::string_view)>& write, const Warn& warn)
      : write_(write), bytes_(warn) {}

  template <class T>
  bool addList(const char* cls, const RecordList<T>& list) {
    for (const auto& r : list) {
      if (!openClass(cls) || !write_(recordText(*r, bytes_))) return false;
    }
    return true;
  }
  // Ends the class being written, if any.
  bool closeClass() {
    if (cls_.empty()) return true;
    cls_.clear();
    return write_("\n    ]");
  }
  bool anyClass() const { return anyClass_; }
  // Opens the array of `cls` (or, when it is open already, separates the next record).
  bool openClass(const char* cls) {
    if (cls_ == cls) return write_(",\n");
    if (!closeClass()) return false;
    std::string head = anyClass_ ? ",\n    " : "\n    ";
    head += dumped(Json(cls), -1);
    head += ": [\n";
    cls_ = cls;
    anyClass_ = true;
    return write_(head);
  }

 private:
  const std::function<bool(std::string_view)>& write_;
  ByteFields bytes_;
  std::string cls_;  // the class whose array is open
  bool anyClass_ = false;
};

}  // namespace

std::string deviceMember(const PRIOSDeviceNode& d) {
  const Json j{{"strDeviceName", d.strDeviceName},
               {"strDeviceSize", d.strDeviceSize},
               {"strDeviceBackUpTime", d.strDeviceBackUpTime},
               {"strDeviceSerial", d.strDeviceSerial},
               {"strDeviceType", d.strDeviceType},
               {"strIOSVersion", d.strIOSVersion},
               {"deviceImage", d.deviceImage},
               {"itunesVersion", d.itunesVersion},
               {"backUpFilePath", d.backUpFilePath},
               {"productType", d.productType},
               {"encrypted", d.encrypted}};
  // One level deep in the document.
  std::string text = dumped(j, 2);
  std::string indented;
  indented.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    indented += c;
    if (c == '\n') indented += "  ";
  }
  return indented;
}

bool writeRecordsJson(std::string_view source, std::string_view kind, const ResultLists& l,
                      const std::function<bool(std::string_view)>& write, const Warn& warn) {
  if (!write(documentHead(source, kind))) return false;
  DocumentWriter doc(write, warn);
  const bool ok = doc.addList("PRBlackBerryContactNode", l.bbContactArray) &&
                  doc.addList("PRBlackBerryCallNode", l.bbCallArray) &&
                  doc.addList("PRBlackBerrySMSMessageNode", l.bbSMSArray) &&
                  doc.addList("PRBlackBerryMMSMessageNode", l.bbMMSArray) &&
                  doc.addList("PRBlackBerryNoteNode", l.bbNoteArray) &&
                  doc.addList("PRBlackBerryCalenderNode", l.bbCalderArray) &&
                  doc.addList("PRBlackBerryContentNode", l.bbContentStoreArray) &&
                  doc.addList("PRContactNode", l.contactArray) &&
                  doc.addList("PRMessageNode", l.messageArray) &&
                  doc.addList("PRCallHistoryNode", l.callHistoryArray) &&
                  doc.addList("PRNoteNode", l.noteArray) &&
                  doc.addList("PRBookMarkNode", l.bookMarkArray) &&
                  doc.addList("PRCalenderNode", l.calenderArray) &&
                  doc.addList("PRPhotoAndVideoNode", l.photoAndVideoArray) &&
                  doc.addList("PRFaceTwitterNode", l.faceTwitterArray) &&
                  doc.addList("PRScanListNode", l.bbImageArray) &&
                  doc.addList("PRScanListNode", l.bbVedioArray) &&
                  doc.addList("PRScanListNode", l.bbAudioArray) &&
                  doc.addList("PRScanListNode", l.bbDocumentArray) &&
                  doc.addList("PRScanListNode", l.bbArchiveArray) && doc.closeClass();
  if (!ok) return false;
  return write(documentTail(doc.anyClass()));
}

// ---------------------------------------------------------------- spooled while scanning

namespace {

// The BlackBerry and phone classes in the document's order.
constexpr const char* kSpoolClasses[RecordJsonSpool::kClassCount] = {"PRBlackBerryContactNode",
                                                                     "PRBlackBerryCallNode",
                                                                     "PRBlackBerrySMSMessageNode",
                                                                     "PRBlackBerryMMSMessageNode",
                                                                     "PRBlackBerryNoteNode",
                                                                     "PRBlackBerryCalenderNode",
                                                                     "PRBlackBerryContentNode",
                                                                     "PRContactNode",
                                                                     "PRMessageNode",
                                                                     "PRCallHistoryNode",
                                                                     "PRNoteNode",
                                                                     "PRBookMarkNode",
                                                                     "PRCalenderNode",
                                                                     "PRPhotoAndVideoNode",
                                                                     "PRFaceTwitterNode"};

// The class index of a record, and its text when `text` is given; -1 for other classes.
int classOf(const PRNode& r, const ByteFields& bytes, std::string* text) {
  int index = 0;
  auto match = [&](auto* typed) {
    if (typed == nullptr) return false;
    if (text) *text = recordText(*typed, bytes);
    return true;
  };
  if (match(dynamic_cast<const PRBlackBerryContactNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBlackBerryCallNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBlackBerrySMSMessageNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBlackBerryMMSMessageNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBlackBerryNoteNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBlackBerryCalenderNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBlackBerryContentNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRContactNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRMessageNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRCallHistoryNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRNoteNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRBookMarkNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRCalenderNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRPhotoAndVideoNode*>(&r))) return index;
  ++index;
  if (match(dynamic_cast<const PRFaceTwitterNode*>(&r))) return index;
  return -1;
}

// Sets the deleted mark of a phone record, as the result presenter does when it lists one.
void markDeleted(PRNode& r) {
  if (auto* c = dynamic_cast<PRContactNode*>(&r)) c->bDeleted = true;
  if (auto* m = dynamic_cast<PRMessageNode*>(&r)) m->bDeleted = true;
  if (auto* n = dynamic_cast<PRNoteNode*>(&r)) n->bDeleted = true;
  if (auto* call = dynamic_cast<PRCallHistoryNode*>(&r)) call->bDeleted = true;
  if (auto* b = dynamic_cast<PRBookMarkNode*>(&r)) b->bDeleted = true;
  if (auto* e = dynamic_cast<PRCalenderNode*>(&r)) e->bDeleted = true;
}

// An unnamed file in `dir` (gone when closed, never seen by another run), else one in the
// system's temporary folder.
std::FILE* openSpoolFile(const std::filesystem::path& dir) {
  if (!dir.empty()) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (std::FILE* f = ::fdopen(fd, "w+b")) return f;
      ::close(fd);
    }
  }
  return std::tmpfile();
}

}  // namespace

const char* RecordJsonSpool::className(int i) {
  return kSpoolClasses[i];
}

RecordJsonSpool::RecordJsonSpool(std::function<std::filesystem::path()> spoolDir, Warn warn,
                                 bool writeJson)
    : spoolDir_(std::move(spoolDir)), warn_(std::move(warn)), writeJson_(writeJson) {}

RecordJsonSpool::~RecordJsonSpool() {
  for (std::FILE* f : spools_) {
    if (f) std::fclose(f);
  }
}

void RecordJsonSpool::add(PRNode& record, bool deleted) {
  if (deleted) {
    if (keys_.admitDeleted(record) != DeletedRecordKeys::Verdict::listed) return;
    markDeleted(record);
  } else {
    keys_.noteLive(record);
  }
  ByteFields bytes(warn_);
  std::string text;
  const int i = classOf(record, bytes, writeJson_ ? &text : nullptr);
  if (i < 0) return;
  const size_t n = ++counts_[i];
  if (!writeJson_ || !error_.empty()) return;
  if (spools_[i] == nullptr) {
    spools_[i] = openSpoolFile(spoolDir_ ? spoolDir_() : std::filesystem::path());
    if (spools_[i] == nullptr) {
      error_ = std::string("no spool file: ") + std::strerror(errno);
      return;
    }
  }
  if ((n > 1 && std::fputs(",\n", spools_[i]) == EOF) ||
      std::fwrite(text.data(), 1, text.size(), spools_[i]) != text.size()) {
    error_ = std::string("cannot write a spool file: ") + std::strerror(errno);
  }
}

bool RecordJsonSpool::finish(std::string_view source, std::string_view kind,
                             const std::function<bool(std::string_view)>& write,
                             std::string_view device) {
  if (!error_.empty() || !write(documentHead(source, kind, device))) return false;
  bool anyClass = false;
  std::vector<char> buffer(size_t{1} << 20);
  for (int i = 0; i < kClassCount; ++i) {
    if (counts_[i] == 0 || spools_[i] == nullptr) continue;
    std::string head = anyClass ? ",\n    " : "\n    ";
    head += dumped(Json(kSpoolClasses[i]), -1) + ": [\n";
    anyClass = true;
    if (std::fflush(spools_[i]) != 0 || std::fseek(spools_[i], 0, SEEK_SET) != 0) {
      error_ = std::string("cannot read a spool file: ") + std::strerror(errno);
      return false;
    }
    if (!write(head)) return false;
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), spools_[i])) > 0) {
      if (!write(std::string_view(buffer.data(), got))) return false;
    }
    if (std::ferror(spools_[i])) {
      error_ = "cannot read a spool file";
      return false;
    }
    if (!write("\n    ]")) return false;
  }
  return write(documentTail(anyClass));
}

}  // namespace tamsel::cli
