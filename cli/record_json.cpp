#include "cli/record_json.h"

#include "util/sha256.h"

namespace tamsel::cli {
namespace {

using Json = nlohmann::ordered_json;

Json bytesJson(const Bytes& b) {
  return Json{{"size", b.size()}, {"sha256", sha256Hex(b)}};
}

Json toJson(const PRBlackBerryContactNode& r) {
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

Json toJson(const PRBlackBerryCallNode& r) {
  return Json{{"CallName", r.CallName},         {"CallNumber", r.CallNumber},
              {"CallTime", r.CallTime},         {"CallType", r.CallType},
              {"callDuration", r.callDuration}, {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerrySMSMessageNode& r) {
  return Json{{"contentText", r.contentText},  {"numberString", r.numberString},
              {"isUncode", r.isUncode.get()},  {"type", r.type},
              {"dateTime", r.dateTime},        {"contentData", bytesJson(r.contentData)},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryMMSMessageNode& r) {
  return Json{{"numberName", r.numberName},
              {"contentText", r.contentText},
              {"contentDataName", r.contentDataName},
              {"contentType", r.contentType},
              {"contentData", bytesJson(r.contentData)},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryNoteNode& r) {
  return Json{{"noteTittle", r.noteTittle},
              {"noteContent", r.noteContent},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryCalenderNode& r) {
  return Json{{"bbCalSubject", r.bbCalSubject},
              {"bbCalInformation", r.bbCalInformation},
              {"bSelected", r.bSelected.get()}};
}

Json toJson(const PRBlackBerryContentNode& r) {
  return Json{{"filePathName", r.filePathName},       {"contentData", bytesJson(r.contentData)},
              {"ContentFileType", r.ContentFileType}, {"contentFileSize", r.contentFileSize},
              {"bSelected", r.bSelected.get()},       {"fileSize", r.fileSize}};
}

Json toJson(const PRScanListNode& r) {
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

template <class T>
void addList(Json& out, const char* cls, const RecordList<T>& list) {
  if (list.empty()) return;
  Json& arr = out[cls];
  if (arr.is_null()) arr = Json::array();
  for (const auto& r : list) arr.push_back(toJson(*r));
}

}  // namespace

Json recordsToJson(const ResultLists& l) {
  Json out = Json::object();
  addList(out, "PRBlackBerryContactNode", l.bbContactArray);
  addList(out, "PRBlackBerryCallNode", l.bbCallArray);
  addList(out, "PRBlackBerrySMSMessageNode", l.bbSMSArray);
  addList(out, "PRBlackBerryMMSMessageNode", l.bbMMSArray);
  addList(out, "PRBlackBerryNoteNode", l.bbNoteArray);
  addList(out, "PRBlackBerryCalenderNode", l.bbCalderArray);
  addList(out, "PRBlackBerryContentNode", l.bbContentStoreArray);
  addList(out, "PRScanListNode", l.bbImageArray);
  addList(out, "PRScanListNode", l.bbVedioArray);
  addList(out, "PRScanListNode", l.bbAudioArray);
  addList(out, "PRScanListNode", l.bbDocumentArray);
  return out;
}

}  // namespace tamsel::cli
