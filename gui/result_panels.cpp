// The result screen's previews: beside a category's table, the fields of the selected record
// for the categories that have one.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/result_widget.h"

namespace tamsel {

namespace {

constexpr int kPreviewWidth = 280;

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
  switch (c) {
    case Category::Photo:
      v->addWidget(addImage(ResultImage::photo, box, kPreviewWidth - 10));
      labels({ResultField::photoFileName, ResultField::photoFileSize});
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
      v->addWidget(addTextArea(ResultField::contactNote, box), 1);
      return box;
    }
    case Category::Message:
      labels({ResultField::messageName, ResultField::messagePhone, ResultField::messageType,
              ResultField::messageDate});
      v->addWidget(addTextArea(ResultField::messageContent, box), 1);
      return box;
    case Category::CallHistory:
      labels({ResultField::callName, ResultField::callPhone, ResultField::callType,
              ResultField::callTime, ResultField::callDate});
      break;
    case Category::Note:
      labels({ResultField::noteTitle, ResultField::noteDate, ResultField::noteNote});
      v->addWidget(addTextArea(ResultField::noteContent, box), 1);
      return box;
    case Category::BookMark:
      for (ResultField f : {ResultField::bookMarkTitle, ResultField::bookMarkURL}) {
        QLabel* l = addLabel(f, box);
        l->setWordWrap(true);
        v->addWidget(l);
      }
      break;
    case Category::Calender:
      labels({ResultField::calTitle, ResultField::calLocation, ResultField::calNote,
              ResultField::calStartDate, ResultField::calEndDate});
      break;
    case Category::FaceTwitter: {
      labels({ResultField::faceTwitterPreviewPanel, ResultField::faceTwitterFileName,
              ResultField::faceTwitterFileSize, ResultField::faceTwitterFilePath});
      auto* preview = new QPushButton(QStringLiteral("Preview"), box);
      buttons_[ResultButton::preview] = preview;
      v->addWidget(preview, 0, Qt::AlignLeft);
      break;
    }
    case Category::RawImage:
      v->addWidget(addImage(ResultImage::rawImage, box, 256));
      break;
    default:
      delete box;  // MMS and the other raw kinds have no preview
      return nullptr;
  }
  v->addStretch(1);
  return box;
}

}  // namespace tamsel
