// The result screen's previews: beside each category's table, the fields of the selected
// record.
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/result_widget.h"

namespace tamsel {

namespace {

constexpr int kPreviewWidth = 280;

// The details block under a preview's lines: one "Label: value" line per field, each cut
// with an ellipsis at the panel's right edge so that a long path or name never widens the
// panel; the tooltip (set with the text) has them whole. As tall as its lines.
class DetailsLabel : public QLabel {
 public:
  explicit DetailsLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont small = font();
    if (small.pointSizeF() > 8) small.setPointSizeF(small.pointSizeF() - 1);
    setFont(small);
    setForegroundRole(QPalette::PlaceholderText);
  }
  QSize sizeHint() const override {
    const int n = static_cast<int>(lines().size());
    return {0, n == 0 ? 0 : n * fontMetrics().lineSpacing()};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* /*event*/) override {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    const QFontMetrics fm = fontMetrics();
    int y = fm.ascent();
    for (const QString& line : lines()) {
      p.drawText(0, y, fm.elidedText(line, Qt::ElideRight, width()));
      y += fm.lineSpacing();
    }
  }

 private:
  QStringList lines() const { return text().isEmpty() ? QStringList() : text().split('\n'); }
};

}  // namespace

QWidget* ResultWidget::buildPreview(Category c) {
  auto* box = new QWidget(this);
  box->setFixedWidth(kPreviewWidth);
  auto* v = new QVBoxLayout(box);
  v->setContentsMargins(6, 0, 0, 0);
  auto labels = [&](std::initializer_list<ResultField> fields) {
    for (ResultField f : fields) {
      QLabel* l = addLabel(f, box);
      // Long texts are cut at the right edge; the tooltip has them whole.
      l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
      v->addWidget(l);
    }
  };
  // The record's other fields, under the lines (and above a content area).
  auto details = [&] {
    auto* l = new DetailsLabel(box);
    fields_[detailsField(c)] = l;
    v->addWidget(l);
  };
  switch (c) {
    case Category::Photo:
      v->addWidget(addImage(ResultImage::photo, box, kPreviewWidth - 10));
      labels({ResultField::photoFileName, ResultField::photoFileSize});
      details();
      break;
    case Category::Contact: {
      v->addWidget(addImage(ResultImage::contact, box, 96));
      labels({ResultField::contactName});
      QFont bold = fields_[ResultField::contactName]->font();
      bold.setBold(true);
      fields_[ResultField::contactName]->setFont(bold);
      labels({ResultField::contactTitle, ResultField::contactCompany, ResultField::contactPinNumber,
              ResultField::contactAddress, ResultField::contactMobile, ResultField::contactWork,
              ResultField::contactHome, ResultField::contactEmail, ResultField::contactHomePage,
              ResultField::contactBirthday});
      details();
      v->addWidget(addTextArea(ResultField::contactNote, box), 1);
      return box;
    }
    case Category::Message:
      labels({ResultField::messageName, ResultField::messagePhone, ResultField::messageType,
              ResultField::messageDate});
      details();
      v->addWidget(addTextArea(ResultField::messageContent, box), 1);
      return box;
    case Category::MMS:
      v->addWidget(addImage(ResultImage::mms, box, 128));
      labels({ResultField::mmsNumber, ResultField::mmsAttachment, ResultField::mmsType});
      details();
      v->addWidget(addTextArea(ResultField::mmsContent, box), 1);
      return box;
    case Category::CallHistory:
      labels({ResultField::callName, ResultField::callPhone, ResultField::callType,
              ResultField::callTime, ResultField::callDate});
      details();
      break;
    case Category::Note:
      labels({ResultField::noteTitle, ResultField::noteDate, ResultField::noteNote});
      details();
      v->addWidget(addTextArea(ResultField::noteContent, box), 1);
      return box;
    case Category::BookMark:
      for (ResultField f : {ResultField::bookMarkTitle, ResultField::bookMarkURL}) {
        QLabel* l = addLabel(f, box);
        l->setWordWrap(true);
        v->addWidget(l);
      }
      details();
      break;
    case Category::Calender:
      labels({ResultField::calTitle, ResultField::calLocation, ResultField::calNote,
              ResultField::calStartDate, ResultField::calEndDate});
      details();
      break;
    case Category::FaceTwitter: {
      labels({ResultField::faceTwitterPreviewPanel, ResultField::faceTwitterFileName,
              ResultField::faceTwitterFileSize, ResultField::faceTwitterFilePath});
      details();
      auto* preview = new QPushButton(QStringLiteral("Preview"), box);
      buttons_[ResultButton::preview] = preview;
      v->addWidget(preview, 0, Qt::AlignLeft);
      break;
    }
    case Category::RawImage:
      v->addWidget(addImage(ResultImage::rawImage, box, 256));
      details();
      break;
    case Category::RawAudio:
    case Category::RawVideo:
    case Category::RawArchive:
    case Category::RawDocument:
      details();  // a found file's name, size, kind, times and state
      break;
  }
  v->addStretch(1);
  return box;
}

}  // namespace tamsel
