#include "results/record_columns.h"

#include <algorithm>
#include <limits>

#include "results/recovery_entries.h"
#include "util/file_names.h"
#include "util/format.h"

namespace tamsel {

// ---------------------------------------------------------------- value readers

std::optional<DateParts> parseDateText(std::string_view text) {
  std::vector<int64_t> parts;
  size_t i = 0;
  while (i < text.size() && parts.size() < 6) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    int64_t v = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 9; ++i, ++digits) {
      v = v * 10 + (text[i] - '0');
    }
    parts.push_back(v);
  }
  if (parts.size() < 3) return std::nullopt;
  int64_t year, month, day;
  if (parts[0] > 31) {
    year = parts[0], month = parts[1], day = parts[2];
  } else {
    month = parts[0], day = parts[1], year = parts[2];
  }
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const int64_t hour = parts.size() > 3 ? parts[3] : 0;
  const int64_t minute = parts.size() > 4 ? parts[4] : 0;
  const int64_t second = parts.size() > 5 ? parts[5] : 0;
  return DateParts{year, month, day, hour, minute, second};
}

std::optional<int64_t> parseDurationText(std::string_view text) {
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  while (i < text.size() && (text[i] < '0' || text[i] > '9')) ++i;
  if (i == text.size()) return 0;
  int64_t n = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    n = std::min<int64_t>(n * 10 + (text[i] - '0'), std::numeric_limits<int32_t>::max());
  }
  while (i < text.size() && text[i] == ' ') ++i;
  const std::string unit = foldCase(text.substr(i));
  int64_t factor = 1;
  if (unit.starts_with("day")) {
    factor = 86400;
  } else if (unit.starts_with("hour")) {
    factor = 3600;
  } else if (unit.starts_with("min")) {
    factor = 60;
  }
  return n * factor;
}

std::string foldCase(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    const auto b = static_cast<unsigned char>(out[i]);
    if (b >= 'A' && b <= 'Z') {
      out[i] = static_cast<char>(b + 32);
    } else if (b == 0xC3 && i + 1 < out.size()) {
      // U+00C0..U+00DE, the Latin-1 capitals (U+00D7 is the multiplication sign).
      const auto next = static_cast<unsigned char>(out[i + 1]);
      if (next >= 0x80 && next <= 0x9E && next != 0x97) out[i + 1] = static_cast<char>(next + 32);
      ++i;
    }
  }
  return out;
}

// ---------------------------------------------------------------- columns

std::string RecordColumn::text(const PRNode& record) const {
  for (const Cell& c : cells_) {
    if (std::optional<std::string> t = c.text(record)) return std::move(*t);
  }
  return {};
}

std::optional<ColumnSortKey> RecordColumn::sortKey(const PRNode& record) const {
  for (const Cell& c : cells_) {
    std::optional<std::string> t = c.text(record);
    if (!t) continue;
    if (c.key) return c.key(record);
    if (t->empty()) return std::nullopt;
    switch (order) {
      case ColumnOrder::text:
        return ColumnSortKey(foldCase(*t));
      case ColumnOrder::date:
        if (std::optional<DateParts> d = parseDateText(*t)) return ColumnSortKey(*d);
        return std::nullopt;
      case ColumnOrder::size:
        return ColumnSortKey(sizeFormString(*t));
      case ColumnOrder::duration:
        if (std::optional<int64_t> s = parseDurationText(*t)) return ColumnSortKey(*s);
        return std::nullopt;
      case ColumnOrder::flag:
        return ColumnSortKey(int64_t{1});
    }
  }
  return std::nullopt;
}

namespace {

using Cell = RecordColumn::Cell;

// A cell of record class T: `text` reads the record's text, `key` (when given) its key.
template <class T, class TextFn>
Cell cell(TextFn text) {
  return {[text](const PRNode& n) -> std::optional<std::string> {
            const T* t = dynamic_cast<const T*>(&n);
            if (!t) return std::nullopt;
            return std::string(text(*t));
          },
          nullptr};
}

template <class T, class TextFn, class KeyFn>
Cell cell(TextFn text, KeyFn key) {
  Cell c = cell<T>(std::move(text));
  c.key = [key](const PRNode& n) -> std::optional<ColumnSortKey> {
    const T* t = dynamic_cast<const T*>(&n);
    if (!t) return std::nullopt;
    return key(*t);
  };
  return c;
}

// One text field of record class T.
template <class T>
Cell field(std::string T::*member) {
  return cell<T>([member](const T& t) -> const std::string& { return t.*member; });
}

// The last path component of a text field (content-store and attachment names).
template <class T>
Cell baseName(std::string T::*member) {
  return cell<T>([member](const T& t) { return lastPathComponent(t.*member); });
}

// The deleted mark of a phone-backup record: "Yes" or "", deleted rows sorting last.
template <class T>
Cell deleted(Flag T::*member) {
  return cell<T>([member](const T& t) { return (t.*member).get() ? "Yes" : ""; },
                 [member](const T& t) { return ColumnSortKey(int64_t{(t.*member).get()}); });
}

RecordColumn column(std::string_view id, std::string_view title, ColumnOrder order,
                    std::vector<Cell> cells) {
  return RecordColumn(id, title, order, false, std::move(cells));
}

RecordColumn phoneColumn(std::string_view id, std::string_view title, ColumnOrder order,
                         std::vector<Cell> cells) {
  return RecordColumn(id, title, order, true, std::move(cells));
}

constexpr auto kText = ColumnOrder::text;
constexpr auto kDate = ColumnOrder::date;
constexpr auto kSize = ColumnOrder::size;

std::vector<RecordColumn> photoColumns() {
  using N = PRBlackBerryContentNode;
  using P = PRPhotoAndVideoNode;
  // A phone-backup media file is a "Picture", or "Audio/Video" for sound and video (bmov).
  auto mediaKind = [](const P& p) { return p.bmov.get() ? "Audio/Video" : "Picture"; };
  return {column(kColumnName, "Name", kText, {baseName(&N::filePathName), field(&P::fileNodeName)}),
          column(kColumnType, "Type", kText, {field(&N::ContentFileType), cell<P>(mediaKind)}),
          column(kColumnSize, "Size", kSize,
                 {cell<N>([](const N& n) { return n.contentFileSize; },
                          [](const N& n) { return ColumnSortKey(uint64_t{n.fileSize}); }),
                  field(&P::fileNodeSize)})};
}

std::vector<RecordColumn> contactColumns() {
  using N = PRBlackBerryContactNode;
  using P = PRContactNode;
  return {column(kColumnName, "Name", kText, {field(&N::contactName), field(&P::contactName)}),
          column("Company", "Company", kText, {field(&N::companyName), field(&P::contactCompany)}),
          column(kColumnPhone, "Mobile", kText, {field(&N::mobilCall), field(&P::contactPhone)}),
          column("Email", "Email", kText, {field(&N::email), field(&P::contactEmail)}),
          phoneColumn(kColumnDeleted, "Deleted", ColumnOrder::flag, {deleted(&P::bDeleted)})};
}

std::vector<RecordColumn> messageColumns() {
  using N = PRBlackBerrySMSMessageNode;
  using P = PRMessageNode;
  return {
      phoneColumn("Contact", "Name", kText, {field(&P::messageName)}),
      column(kColumnPhone, "Phone", kText, {field(&N::numberString), field(&P::messagePhone)}),
      column(kColumnType, "Type", kText, {field(&N::type), field(&P::messageType)}),
      column(kColumnDate, "Date", kDate, {field(&N::dateTime), field(&P::messageDate)}),
      column(kColumnContent, "Content", kText, {field(&N::contentText), field(&P::messageContent)}),
      phoneColumn(kColumnDeleted, "Deleted", ColumnOrder::flag, {deleted(&P::bDeleted)})};
}

std::vector<RecordColumn> mmsColumns() {
  using N = PRBlackBerryMMSMessageNode;
  auto size = [](const N& n) {
    return n.contentData.size() ? size_to_unit(n.contentData.size()) : "";
  };
  auto bytes = [](const N& n) -> std::optional<ColumnSortKey> {
    if (n.contentData.size() == 0) return std::nullopt;
    return ColumnSortKey(uint64_t{n.contentData.size()});
  };
  return {column(kColumnPhone, "Number", kText, {field(&N::numberName)}),
          column(kColumnName, "Attachment", kText, {baseName(&N::contentDataName)}),
          column(kColumnType, "Type", kText, {field(&N::contentType)}),
          column(kColumnContent, "Text", kText, {field(&N::contentText)}),
          column(kColumnSize, "Size", kSize, {cell<N>(size, bytes)})};
}

std::vector<RecordColumn> noteColumns() {
  using N = PRBlackBerryNoteNode;
  using P = PRNoteNode;
  return {
      column(kColumnName, "Title", kText, {field(&N::noteTittle), field(&P::noteTitle)}),
      column(kColumnContent, "Content", kText, {field(&N::noteContent), field(&P::noteContent)}),
      phoneColumn(kColumnDate, "Date", kDate, {field(&P::noteDate)}),
      phoneColumn(kColumnDeleted, "Deleted", ColumnOrder::flag, {deleted(&P::bDeleted)})};
}

std::vector<RecordColumn> callColumns() {
  using N = PRBlackBerryCallNode;
  using P = PRCallHistoryNode;
  // A phone call keeps its length in seconds; a missed or cancelled one has 0.
  auto seconds = [](const P& p) -> std::optional<ColumnSortKey> {
    if (p.callTime >= 0) return ColumnSortKey(int64_t{p.callTime});
    if (std::optional<int64_t> s = parseDurationText(p.callDuration)) return ColumnSortKey(*s);
    return std::nullopt;
  };
  return {
      column(kColumnName, "Name", kText, {field(&N::CallName), field(&P::callName)}),
      column(kColumnPhone, "Phone", kText, {field(&N::CallNumber), field(&P::callPhone)}),
      column(kColumnType, "Type", kText, {field(&N::CallType), field(&P::callType)}),
      column(kColumnDuration, "Duration", ColumnOrder::duration,
             {field(&N::callDuration),
              cell<P>([](const P& p) -> const std::string& { return p.callDuration; }, seconds)}),
      column(kColumnDate, "Date", kDate, {field(&N::CallTime), field(&P::callDate)}),
      phoneColumn(kColumnDeleted, "Deleted", ColumnOrder::flag, {deleted(&P::bDeleted)})};
}

std::vector<RecordColumn> calendarColumns() {
  using N = PRBlackBerryCalenderNode;
  using P = PRCalenderNode;
  return {column(kColumnName, "Subject", kText, {field(&N::bbCalSubject), field(&P::calTitle)}),
          column("Location", "Location", kText, {field(&N::bbCalLocation), field(&P::location)}),
          column(kColumnDate, "Start", kDate, {field(&N::bbCalStartDate), field(&P::startDate)}),
          column("End", "End", kDate, {field(&N::bbCalEndDate), field(&P::endDate)}),
          column(kColumnContent, "Information", kText,
                 {field(&N::bbCalInformation), field(&P::calNote)}),
          phoneColumn(kColumnDeleted, "Deleted", ColumnOrder::flag, {deleted(&P::bDeleted)})};
}

std::vector<RecordColumn> bookmarkColumns() {
  using N = PRBookMarkNode;
  return {column(kColumnName, "Title", kText, {field(&N::bookMarkTitle)}),
          column("URL", "URL", kText, {field(&N::bookMarkURL)}),
          column(kColumnDeleted, "Deleted", ColumnOrder::flag, {deleted(&N::bDeleted)})};
}

std::vector<RecordColumn> appFileColumns() {
  using N = PRFaceTwitterNode;
  return {column(kColumnName, "Name", kText, {field(&N::faceTwitterFileName)}),
          column(kColumnSize, "Size", kSize, {field(&N::fileSize)})};
}

std::vector<RecordColumn> rawColumns() {
  using N = PRScanListNode;
  return {column(kColumnName, "Name", kText, {field(&N::nodeName)}),
          column(kColumnSize, "Size", kSize,
                 {cell<N>([](const N& n) -> const std::string& { return n.nodeSizeString; },
                          [](const N& n) { return ColumnSortKey(uint64_t{n.fileSizeNumber}); })}),
          column(kColumnCreated, "Created", kDate, {field(&N::createTime)}),
          column(kColumnModified, "Modified", kDate, {field(&N::modifyTime)}),
          column(kColumnDeleted, "Deleted", ColumnOrder::flag, {field(&N::bDeleted)}),
          column("Validity", "Validity", kText, {field(&N::validaty)})};
}

std::vector<RecordColumn> columnsOf(Category c) {
  switch (c) {
    case Category::Photo:
      return photoColumns();
    case Category::Contact:
      return contactColumns();
    case Category::Message:
      return messageColumns();
    case Category::MMS:
      return mmsColumns();
    case Category::Note:
      return noteColumns();
    case Category::CallHistory:
      return callColumns();
    case Category::Calender:
      return calendarColumns();
    case Category::BookMark:
      return bookmarkColumns();
    case Category::FaceTwitter:
      return appFileColumns();
    case Category::RawImage:
    case Category::RawAudio:
    case Category::RawVideo:
    case Category::RawArchive:
    case Category::RawDocument:
      return rawColumns();
  }
  return {};
}

}  // namespace

std::span<const RecordColumn> recordColumns(Category c) {
  // Built once, read-only afterwards (any thread).
  static const auto all = [] {
    std::array<std::vector<RecordColumn>, kCategoryCount> a;
    for (int i = 0; i < kCategoryCount; ++i) a[i] = columnsOf(static_cast<Category>(i));
    return a;
  }();
  const int i = static_cast<int>(c);
  if (i < 0 || i >= kCategoryCount) return {};
  return all[i];
}

const RecordColumn* findRecordColumn(Category c, std::string_view id) {
  for (const RecordColumn& col : recordColumns(c)) {
    if (col.id == id) return &col;
  }
  return nullptr;
}

}  // namespace tamsel
