// The fields of a result record that its preview lines leave out.
#include "results/record_details.h"

#include <string_view>

#include "util/format.h"

namespace tamsel {

namespace {

std::string trimmed(std::string_view s) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
  };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// The last component of a stored path ('/' or '\' separated).
std::string_view baseName(std::string_view path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

class Lines {
 public:
  Lines& text(const char* label, std::string_view value) {
    std::string v = trimmed(value);
    if (!v.empty()) lines_.push_back({label, std::move(v)});
    return *this;
  }
  Lines& flag(const char* label, bool on) { return on ? text(label, "Yes") : *this; }
  Lines& size(const char* label, uint64_t bytes) {
    return bytes == 0 ? *this : text(label, size_to_unit(bytes));
  }
  std::vector<DetailLine> take() { return std::move(lines_); }

 private:
  std::vector<DetailLine> lines_;
};

template <class T>
const T* as(const PRNode& r) {
  return dynamic_cast<const T*>(&r);
}

}  // namespace

std::vector<DetailLine> recordDetails(const PRNode& r) {
  Lines l;
  // Each class gives the fields its preview lines leave out; the BlackBerry call, memo and
  // calendar records leave none out, and the phone's app files only the backup's own file
  // when one is read from an encrypted backup's copy (the panel shows the copy's path).
  if (auto* p = as<PRPhotoAndVideoNode>(r)) {
    // A file of an encrypted backup is read from a copy that goes with the run: the path
    // shown is the backup's own.
    l.text("Kind", p->bmov ? "Video" : "Picture")
        .text("Path", p->originPath.empty() ? p->filePath : p->originPath);
  } else if (auto* app = as<PRFaceTwitterNode>(r)) {
    l.text("Backup file", app->originPath);
  } else if (auto* c = as<PRContactNode>(r)) {
    l.size("Picture", c->imageData.size()).flag("Deleted", c->bDeleted);
  } else if (auto* m = as<PRMessageNode>(r)) {
    l.text("Service", m->bImessage ? "iMessage" : "").flag("Deleted", m->bDeleted);
  } else if (auto* call = as<PRCallHistoryNode>(r)) {
    l.text("Service", call->callService).flag("Deleted", call->bDeleted);
  } else if (auto* n = as<PRNoteNode>(r)) {
    l.flag("Locked", n->bLocked).flag("Deleted", n->bDeleted);
  } else if (auto* b = as<PRBookMarkNode>(r)) {
    l.flag("Deleted", b->bDeleted);
  } else if (auto* e = as<PRCalenderNode>(r)) {
    l.flag("Deleted", e->bDeleted);
  } else if (auto* bc = as<PRBlackBerryContactNode>(r)) {
    l.text("Categories", bc->categories).size("Picture", bc->contactImageData.size());
  } else if (auto* sms = as<PRBlackBerrySMSMessageNode>(r)) {
    l.flag("Unicode", sms->isUncode);
  } else if (auto* mms = as<PRBlackBerryMMSMessageNode>(r)) {
    // The panel shows the attachment's base name; a stored folder is worth a line.
    if (baseName(mms->contentDataName) != mms->contentDataName) {
      l.text("Attachment path", mms->contentDataName);
    }
    l.size("Attachment size", mms->contentData.size());
  } else if (auto* content = as<PRBlackBerryContentNode>(r)) {
    l.text("Kind", content->ContentFileType).text("Path", content->filePathName);
  } else if (auto* f = as<PRScanListNode>(r)) {
    // A card's found file: its panel has no lines of its own.
    l.text("Name", f->nodeName);
    if (!trimmed(f->nodeSizeString).empty()) {
      l.text("Size", f->nodeSizeString);
    } else {
      l.size("Size", f->fileSizeNumber);
    }
    l.text("Kind", f->fileType)
        .flag("Deleted", !trimmed(f->bDeleted).empty())
        .text("Created", f->createTime)
        .text("Modified", f->modifyTime)
        .text("Damage", f->validaty);
  }
  return l.take();
}

std::string recordDetailsText(const std::vector<DetailLine>& lines) {
  std::string out;
  for (const DetailLine& line : lines) {
    if (!out.empty()) out += '\n';
    out += line.label;
    out += ": ";
    for (char ch : line.value) out += (ch == '\n' || ch == '\r') ? ' ' : ch;
  }
  return out;
}

}  // namespace tamsel
