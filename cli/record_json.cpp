#include "cli/record_json.h"

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
  return Json{{"bbCalSubject", r.bbCalSubject},
              {"bbCalInformation", r.bbCalInformation},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryContentNode& r, const ByteFields& bytesJson) {
  return Json{{"filePathName", r.filePathName},       {"contentData", bytesJson(r.contentData)},
              {"ContentFileType", r.ContentFileType}, {"contentFileSize", r.contentFileSize},
              {"bSelected", r.bSelected.get()},       {"fileSize", r.fileSize}};
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
              {"fileinfo",
               {{"file_start", f->file_start},
                {"file_len", f->file_len},
                {"file_name_len", f->file_name_len}}}};
}

std::string dumped(const Json& j, int indent) {
  return j.dump(indent, ' ', false, Json::error_handler_t::replace);
}

// Writes the lists of one class as `"CLASS": [ ... ]`, record by record.
class DocumentWriter {
 public:
  DocumentWriter(const std::function<bool(std::string_view)>& write, const Warn& warn)
      : write_(write), bytes_(warn) {}

  template <class T>
  bool addList(const char* cls, const RecordList<T>& list) {
    for (const auto& r : list) {
      if (!openClass(cls)) return false;
      std::string text = dumped(toJson(*r, bytes_), 2);
      // The record sits three levels deep in the document.
      std::string indented = "      ";
      indented.reserve(text.size() + text.size() / 8);
      for (char c : text) {
        indented += c;
        if (c == '\n') indented += "      ";
      }
      if (!write_(indented)) return false;
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

 private:
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

  const std::function<bool(std::string_view)>& write_;
  ByteFields bytes_;
  std::string cls_;  // the class whose array is open
  bool anyClass_ = false;
};

}  // namespace

bool writeRecordsJson(std::string_view source, std::string_view kind, const ResultLists& l,
                      const std::function<bool(std::string_view)>& write, const Warn& warn) {
  std::string head = "{\n  \"source\": " + dumped(Json(std::string(source)), -1) +
                     ",\n  \"kind\": " + dumped(Json(std::string(kind)), -1) +
                     ",\n  \"records\": {";
  if (!write(head)) return false;
  DocumentWriter doc(write, warn);
  const bool ok = doc.addList("PRBlackBerryContactNode", l.bbContactArray) &&
                  doc.addList("PRBlackBerryCallNode", l.bbCallArray) &&
                  doc.addList("PRBlackBerrySMSMessageNode", l.bbSMSArray) &&
                  doc.addList("PRBlackBerryMMSMessageNode", l.bbMMSArray) &&
                  doc.addList("PRBlackBerryNoteNode", l.bbNoteArray) &&
                  doc.addList("PRBlackBerryCalenderNode", l.bbCalderArray) &&
                  doc.addList("PRBlackBerryContentNode", l.bbContentStoreArray) &&
                  doc.addList("PRScanListNode", l.bbImageArray) &&
                  doc.addList("PRScanListNode", l.bbVedioArray) &&
                  doc.addList("PRScanListNode", l.bbAudioArray) &&
                  doc.addList("PRScanListNode", l.bbDocumentArray) && doc.closeClass();
  if (!ok) return false;
  return write(doc.anyClass() ? "\n  }\n}\n" : "}\n}\n");
}

}  // namespace tamsel::cli
