#include "gui/record_table_model.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include "results/result_view_controller.h"

namespace tamsel {

namespace {

// One text field of record class T; other classes read as empty.
template <class T>
std::function<QString(const PRNode&)> field(std::string T::*member) {
  return [member](const PRNode& n) {
    const T* t = dynamic_cast<const T*>(&n);
    return t ? QString::fromStdString(t->*member) : QString();
  };
}

// The last path component of a text field (content-store and attachment names).
template <class T>
std::function<QString(const PRNode&)> baseName(std::string T::*member) {
  return [member](const PRNode& n) {
    const T* t = dynamic_cast<const T*>(&n);
    if (!t) return QString();
    const std::string& s = t->*member;
    const size_t slash = s.find_last_of('/');
    return QString::fromStdString(slash == std::string::npos ? s : s.substr(slash + 1));
  };
}

// A column that reads a BlackBerry record's field or, for a phone-backup record of the same
// category, its field.
std::function<QString(const PRNode&)> either(std::function<QString(const PRNode&)> first,
                                             std::function<QString(const PRNode&)> second) {
  return [first = std::move(first), second = std::move(second)](const PRNode& n) {
    QString text = first(n);
    return text.isEmpty() ? second(n) : text;
  };
}

template <class T>
const Flag* tickIf(const PRNode& n) {
  const T* t = dynamic_cast<const T*>(&n);
  return t ? &t->bSelected : nullptr;
}

RecordTableModel::Column col(std::string_view id, const char* title,
                             std::function<QString(const PRNode&)> text) {
  return {std::string(id), QString::fromUtf8(title), std::move(text)};
}

RecordTableModel::Column phoneCol(std::string_view id, const char* title,
                                  std::function<QString(const PRNode&)> text) {
  return {std::string(id), QString::fromUtf8(title), std::move(text), true};
}

// The kind of a phone-backup media file: "Picture", or "Audio/Video" for the sound and video
// files (bmov).
QString mediaKind(const PRNode& n) {
  const auto* p = dynamic_cast<const PRPhotoAndVideoNode*>(&n);
  if (!p) return {};
  return p->bmov.get() ? QStringLiteral("Audio/Video") : QStringLiteral("Picture");
}

std::vector<RecordTableModel::Column> rawColumns() {
  using N = PRScanListNode;
  return {col(kColumnName, "Name", field(&N::nodeName)),
          col(kColumnSize, "Size", field(&N::nodeSizeString)),
          col("Created", "Created", field(&N::createTime)),
          col("Modified", "Modified", field(&N::modifyTime)),
          col("Deleted", "Deleted", field(&N::bDeleted)),
          col("Validity", "Validity", field(&N::validaty))};
}

}  // namespace

std::vector<RecordTableModel::Column> RecordTableModel::columnsFor(Category category) {
  std::vector<Column> c{col(kColumnTick, "", nullptr)};
  auto add = [&c](std::vector<Column> more) {
    for (auto& m : more) c.push_back(std::move(m));
  };
  switch (category) {
    case Category::Photo: {
      using N = PRBlackBerryContentNode;
      using P = PRPhotoAndVideoNode;
      add({col(kColumnName, "Name", either(baseName(&N::filePathName), field(&P::fileNodeName))),
           col("Type", "Type", either(field(&N::ContentFileType), mediaKind)),
           col(kColumnSize, "Size", either(field(&N::contentFileSize), field(&P::fileNodeSize)))});
      break;
    }
    case Category::Contact: {
      using N = PRBlackBerryContactNode;
      using P = PRContactNode;
      add({col(kColumnName, "Name", either(field(&N::contactName), field(&P::contactName))),
           col("Company", "Company", either(field(&N::companyName), field(&P::contactCompany))),
           col(kColumnPhone, "Mobile", either(field(&N::mobilCall), field(&P::contactPhone))),
           col("Email", "Email", either(field(&N::email), field(&P::contactEmail)))});
      break;
    }
    case Category::Message: {
      using N = PRBlackBerrySMSMessageNode;
      using P = PRMessageNode;
      add({phoneCol("Contact", "Name", field(&P::messageName)),
           col(kColumnPhone, "Phone", either(field(&N::numberString), field(&P::messagePhone))),
           col("Type", "Type", either(field(&N::type), field(&P::messageType))),
           col(kColumnDate, "Date", either(field(&N::dateTime), field(&P::messageDate))),
           col(kColumnContent, "Content",
               either(field(&N::contentText), field(&P::messageContent)))});
      break;
    }
    case Category::MMS: {
      using N = PRBlackBerryMMSMessageNode;
      add({col(kColumnPhone, "Number", field(&N::numberName)),
           col(kColumnName, "Attachment", baseName(&N::contentDataName)),
           col("Type", "Type", field(&N::contentType)),
           col(kColumnContent, "Text", field(&N::contentText))});
      break;
    }
    case Category::Note: {
      using N = PRBlackBerryNoteNode;
      using P = PRNoteNode;
      add({col(kColumnName, "Title", either(field(&N::noteTittle), field(&P::noteTitle))),
           col(kColumnContent, "Content", either(field(&N::noteContent), field(&P::noteContent))),
           phoneCol(kColumnDate, "Date", field(&P::noteDate))});
      break;
    }
    case Category::CallHistory: {
      using N = PRBlackBerryCallNode;
      using P = PRCallHistoryNode;
      add({col(kColumnName, "Name", either(field(&N::CallName), field(&P::callName))),
           col(kColumnPhone, "Phone", either(field(&N::CallNumber), field(&P::callPhone))),
           col("Type", "Type", either(field(&N::CallType), field(&P::callType))),
           col("Duration", "Duration", either(field(&N::callDuration), field(&P::callDuration))),
           col(kColumnDate, "Date", either(field(&N::CallTime), field(&P::callDate)))});
      break;
    }
    case Category::Calender: {
      using N = PRBlackBerryCalenderNode;
      using P = PRCalenderNode;
      add({col(kColumnName, "Subject", either(field(&N::bbCalSubject), field(&P::calTitle))),
           phoneCol("Location", "Location", field(&P::location)),
           phoneCol(kColumnDate, "Start", field(&P::startDate)),
           phoneCol("End", "End", field(&P::endDate)),
           col(kColumnContent, "Information",
               either(field(&N::bbCalInformation), field(&P::calNote)))});
      break;
    }
    case Category::BookMark: {
      using N = PRBookMarkNode;
      add({col(kColumnName, "Title", field(&N::bookMarkTitle)),
           col("URL", "URL", field(&N::bookMarkURL))});
      break;
    }
    case Category::FaceTwitter: {
      using N = PRFaceTwitterNode;
      add({col(kColumnName, "Name", field(&N::faceTwitterFileName)),
           col(kColumnSize, "Size", field(&N::fileSize))});
      break;
    }
    case Category::RawImage:
    case Category::RawAudio:
    case Category::RawVideo:
    case Category::RawArchive:
    case Category::RawDocument:
      add(rawColumns());
      break;
  }
  return c;
}

const Flag* RecordTableModel::tickOf(const PRNode& n) {
  const Flag* f = nullptr;
  (f = tickIf<PRBlackBerryContentNode>(n)) || (f = tickIf<PRBlackBerryContactNode>(n)) ||
      (f = tickIf<PRBlackBerrySMSMessageNode>(n)) || (f = tickIf<PRBlackBerryMMSMessageNode>(n)) ||
      (f = tickIf<PRBlackBerryNoteNode>(n)) || (f = tickIf<PRBlackBerryCallNode>(n)) ||
      (f = tickIf<PRBlackBerryCalenderNode>(n)) || (f = tickIf<PRBookMarkNode>(n)) ||
      (f = tickIf<PRFaceTwitterNode>(n)) || (f = tickIf<PRScanListNode>(n)) ||
      (f = tickIf<PRPhotoAndVideoNode>(n)) || (f = tickIf<PRContactNode>(n)) ||
      (f = tickIf<PRMessageNode>(n)) || (f = tickIf<PRNoteNode>(n)) ||
      (f = tickIf<PRCallHistoryNode>(n)) || (f = tickIf<PRCalenderNode>(n));
  return f;
}

bool RecordTableModel::isPhoneRecord(const PRNode& n) {
  return dynamic_cast<const PRPhotoAndVideoNode*>(&n) || dynamic_cast<const PRContactNode*>(&n) ||
         dynamic_cast<const PRMessageNode*>(&n) || dynamic_cast<const PRNoteNode*>(&n) ||
         dynamic_cast<const PRCallHistoryNode*>(&n) || dynamic_cast<const PRBookMarkNode*>(&n) ||
         dynamic_cast<const PRCalenderNode*>(&n) || dynamic_cast<const PRFaceTwitterNode*>(&n);
}

RecordTableModel::RecordTableModel(Category category, PresenterSource presenter, QObject* parent)
    : QAbstractTableModel(parent),
      category_(category),
      presenter_(std::move(presenter)),
      columns_(columnsFor(category)) {}

void RecordTableModel::setRows(const ResultRows& rows) {
  beginResetModel();
  rows_ = rows;
  // One scan's lists hold records of one kind, so the first record tells.
  phoneRows_ = false;
  for (const auto& r : rows_) {
    if (!r) continue;
    phoneRows_ = isPhoneRecord(*r);
    break;
  }
  endResetModel();
}

bool RecordTableModel::columnShown(int column) const {
  if (column < 0 || column >= static_cast<int>(columns_.size())) return false;
  return !columns_[column].phoneOnly || phoneRows_;
}

void RecordTableModel::refresh() {
  if (rows_.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

int RecordTableModel::columnOf(std::string_view id) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const std::shared_ptr<PRNode>& rec = rows_[index.row()];
  if (!rec) return {};
  const Column& c = columns_[index.column()];
  const bool tick = c.id == kColumnTick;
  switch (role) {
    case Qt::CheckStateRole:
      if (!tick) return {};
      if (const Flag* f = tickOf(*rec)) return f->get() ? Qt::Checked : Qt::Unchecked;
      return {};
    case Qt::DisplayRole:
    case Qt::ToolTipRole: {
      if (tick) return {};
      QString text = c.text(*rec);
      // One line per row; the tooltip keeps the whole text.
      if (role == Qt::DisplayRole) text.replace(QLatin1Char('\n'), QLatin1Char(' '));
      return text;
    }
    case Qt::FontRole:
    case Qt::ForegroundRole: {
      PRResultViewController* p = presenter_ ? presenter_() : nullptr;
      const CellStyle style = p ? p->tableViewWillDisplayCell(category_, index.row()) : CellStyle{};
      if (role == Qt::FontRole) {
        QFont font(QString::fromUtf8(style.font.data(), static_cast<qsizetype>(style.font.size())));
        font.setPointSize(style.pointSize);
        return font;
      }
      if (style.warning) return QBrush(QColor(kWarningRed, kWarningGreen, kWarningBlue));
      return {};
    }
    default:
      return {};
  }
}

QVariant RecordTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= columnCount()) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return columns_[section].title;
}

Qt::ItemFlags RecordTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && columns_[index.column()].id == kColumnTick) f |= Qt::ItemIsUserCheckable;
  return f;
}

bool RecordTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole ||
      !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid) ||
      columns_[index.column()].id != kColumnTick) {
    return false;
  }
  PRResultViewController* p = presenter_ ? presenter_() : nullptr;
  if (!p) return false;
  const bool on = value.toInt() == Qt::Checked;
  // The presenter ticks every selected row and asks for a redraw (refresh).
  p->tableViewSetObjectValue(on ? 1 : 0, index.row());
  return true;
}

}  // namespace tamsel
