#include "gui/result_widget.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "gui/icon_set.h"
#include "gui/result_table_view.h"
#include "results/result_view_controller.h"
#include "results/web_links.h"

namespace tamsel {

namespace {

QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

const char* categoryTitle(Category c) {
  switch (c) {
    case Category::Photo:
      return "Photos";
    case Category::Contact:
      return "Contacts";
    case Category::Message:
      return "Messages";
    case Category::MMS:
      return "MMS";
    case Category::Note:
      return "Notes";
    case Category::CallHistory:
      return "Call History";
    case Category::Calender:
      return "Calendar";
    case Category::BookMark:
      return "Bookmarks";
    case Category::FaceTwitter:
      return "Facebook/Twitter";
    case Category::RawImage:
      return "Images";
    case Category::RawAudio:
      return "Audios";
    case Category::RawVideo:
      return "Videos";
    case Category::RawArchive:
      return "Archives";
    case Category::RawDocument:
      return "Documents";
  }
  return "";
}

// Button order on screen: the backup row, then the raw row.
constexpr Category kButtonOrder[] = {
    Category::Photo,       Category::Contact,   Category::Message,  Category::Note,
    Category::CallHistory, Category::Calender,  Category::MMS,      Category::BookMark,
    Category::FaceTwitter, Category::RawImage,  Category::RawVideo, Category::RawAudio,
    Category::RawDocument, Category::RawArchive};

// The picture of a contact without one of its own: the "contact" picture.
QPixmap contactPlaceholder(int size) {
  return iconFor("contact").pixmap(size, size);
}

// A picture that cannot be shown: the generic "picture" icon, at most 128 x 128.
QPixmap pictureIcon(const QLabel* label) {
  const int side = std::min({label->width(), label->height(), 128});
  return iconFor("picture").pixmap(side, side);
}

}  // namespace

ResultWidget::ResultWidget(QWidget* parent)
    : QWidget(parent),
      openUrl_([](const QUrl& url) { QDesktopServices::openUrl(url); }),
      openFolder_([](const QUrl& url) { return QDesktopServices::openUrl(url); }),
      chooseFeedbackFile_([this](const QString& proposed) {
        return QFileDialog::getSaveFileName(window(), QStringLiteral("Save feedback"), proposed,
                                            QStringLiteral("Text files (*.txt)"));
      }) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 6, 8, 6);
  layout->setSpacing(4);
  buildTopBar();
  layout->addWidget(topBar_);

  categoryRow_ = new QWidget(this);
  auto* row = new QHBoxLayout(categoryRow_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  for (Category c : kButtonOrder) {
    auto* b = new QToolButton(categoryRow_);
    b->setText(QString::fromUtf8(categoryTitle(c)));
    b->setCheckable(true);
    b->setAutoRaise(false);
    // The pressed picture is the icon's On state: shown while the category is.
    b->setIcon(buttonIcon(categoryButtonImage(c, false), categoryButtonImage(c, true)));
    b->setIconSize(QSize(24, 24));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setProperty("image", QString::fromUtf8(categoryButtonImage(c, false).data()));
    categoryButtons_[static_cast<int>(c)] = b;
    row->addWidget(b);
  }
  row->addStretch(1);
  layout->addWidget(categoryRow_);

  buildCountLabels();
  layout->addWidget(countBox_);
  layout->addWidget(buildSearchRow());

  stack_ = new QStackedWidget(this);
  progressPanel_ = buildProgressPanel();
  stack_->addWidget(progressPanel_);
  for (int i = 0; i < kCategoryCount; ++i) {
    panels_[i] = buildCategoryPanel(static_cast<Category>(i));
    stack_->addWidget(panels_[i]);
  }
  layout->addWidget(stack_, 1);
  // Below the panels, so that it stays in sight whatever category is shown during a scan.
  layout->addWidget(buildProgressStrip());

  buildBottomBar();
  layout->addWidget(bottomBar_);
  connectActions();
  setUpKeyboard();
  layoutCategoryButtons(false);
}

ResultWidget::~ResultWidget() {
  invoker_.shutDown();
}

void ResultWidget::buildTopBar() {
  topBar_ = new QWidget(this);
  auto* bar = new QHBoxLayout(topBar_);
  bar->setContentsMargins(0, 0, 0, 0);
  // "<what is scanned> - Backup File Recovery": the source's name, then the title.
  QLabel* source = addLabel(ResultField::scanSource, topBar_);
  QLabel* title = addLabel(ResultField::scanTitle, topBar_);
  QFont f = title->font();
  f.setBold(true);
  f.setPointSize(f.pointSize() + 2);
  title->setFont(f);
  source->setFont(f);
  source->setTextFormat(Qt::PlainText);  // a device name is no markup
  source->setMaximumWidth(420);
  auto* titles = new QHBoxLayout;
  titles->setSpacing(QFontMetrics(f).horizontalAdvance(QLatin1Char(' ')));
  titles->addWidget(source);
  titles->addWidget(title, 1);
  bar->addLayout(titles, 1);
  const std::pair<ResultButton, const char*> buttons[] = {{ResultButton::feedback, "Feedback"},
                                                          {ResultButton::facebook, "Facebook"},
                                                          {ResultButton::twitter, "Twitter"},
                                                          {ResultButton::home, "Home"}};
  for (const auto& [id, text] : buttons) {
    auto* b = new QPushButton(QString::fromUtf8(text), topBar_);
    if (id != ResultButton::home) b->setFlat(true);
    buttons_[id] = b;
    // Without a configured address the social buttons would lead nowhere.
    if ((id == ResultButton::facebook && configuredWebLinks().facebook.empty()) ||
        (id == ResultButton::twitter && configuredWebLinks().twitter.empty())) {
      b->hide();
    }
    bar->addWidget(b);
  }
}

void ResultWidget::buildCountLabels() {
  countBox_ = new QWidget(this);
  auto* grid = new QGridLayout(countBox_);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(0);
  grid->addWidget(new QLabel(QStringLiteral("Found:"), countBox_), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("Deleted:"), countBox_), 1, 0);
  const std::pair<ResultField, ResultField> labels[] = {
      {ResultField::photovideoNumlab, ResultField::delPhotovideoNumlab},
      {ResultField::contactNumlab, ResultField::delContactNumlab},
      {ResultField::messageNumlab, ResultField::delMessageNumlab},
      {ResultField::noteNumlab, ResultField::delNoteNumlab},
      {ResultField::callNumlab, ResultField::delCallNumlab},
      // a card scan's, shown instead of the five above
      {ResultField::imageNumlab, ResultField::delImageNumlab},
      {ResultField::videoNumlab, ResultField::delVideoNumlab},
      {ResultField::audioNumlab, ResultField::delAudioNumlab},
      {ResultField::documentNumlab, ResultField::delDocumentNumlab},
      {ResultField::archiveNumlab, ResultField::delArchiveNumlab}};
  int column = 1;
  for (const auto& [live, deleted] : labels) {
    grid->addWidget(addLabel(live, countBox_), 0, column);
    grid->addWidget(addLabel(deleted, countBox_), 1, column);
    ++column;
  }
  grid->setColumnStretch(column, 1);
}

void ResultWidget::buildBottomBar() {
  bottomBar_ = new QWidget(this);
  auto* bar = new QHBoxLayout(bottomBar_);
  bar->setContentsMargins(0, 0, 0, 0);
  selectAll_ = new QCheckBox(QStringLiteral("Select All"), bottomBar_);
  deletedOnly_ = new QCheckBox(
      QString::fromUtf8(kDeletedOnlyTitle.data(), static_cast<qsizetype>(kDeletedOnlyTitle.size())),
      bottomBar_);
  deletedOnly_->setStyleSheet(QStringLiteral("QCheckBox { color: rgb(%1, %2, %3); }")
                                  .arg(kWarningRed)
                                  .arg(kWarningGreen)
                                  .arg(kWarningBlue));
  bar->addWidget(selectAll_);
  bar->addWidget(deletedOnly_);
  bar->addStretch(1);
  bar->addWidget(addLabel(ResultField::selecteFilelab, bottomBar_));
  auto* stop = new QPushButton(QStringLiteral("Stop"), bottomBar_);
  auto* save = new QPushButton(QStringLiteral("Recover"), bottomBar_);
  save->setDefault(true);
  buttons_[ResultButton::stop] = stop;
  buttons_[ResultButton::save] = save;
  bar->addWidget(stop);
  bar->addWidget(save);
}

QWidget* ResultWidget::buildProgressPanel() {
  auto* panel = new QWidget(this);
  auto* v = new QVBoxLayout(panel);
  v->addStretch(1);
  QLabel* info = addLabel(ResultField::scanInfo, panel);
  info->setText(QStringLiteral("Scanning, please wait..."));
  info->setAlignment(Qt::AlignCenter);
  v->addWidget(info);
  v->addStretch(2);
  return panel;
}

QLabel* ResultWidget::addLabel(ResultField f, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  fields_[f] = label;
  return label;
}

QWidget* ResultWidget::addTextArea(ResultField f, QWidget* parent) {
  auto* area = new QPlainTextEdit(parent);
  area->setReadOnly(true);
  fields_[f] = area;
  return area;
}

QLabel* ResultWidget::addImage(ResultImage i, QWidget* parent, int size) {
  auto* label = new QLabel(parent);
  label->setFixedSize(size, size);
  label->setAlignment(Qt::AlignCenter);
  images_[i] = label;
  return label;
}

void ResultWidget::connectActions() {
  auto act = [this](auto member) {
    return [this, member] {
      if (PRResultViewController* p = presenter()) (p->*member)();
    };
  };
  connect(buttons_[ResultButton::stop], &QPushButton::clicked, this,
          act(&PRResultViewController::CilckStop));
  connect(buttons_[ResultButton::home], &QPushButton::clicked, this,
          act(&PRResultViewController::actHome));
  connect(buttons_[ResultButton::save], &QPushButton::clicked, this,
          act(&PRResultViewController::actRecovery));
  connect(buttons_[ResultButton::preview], &QPushButton::clicked, this,
          act(&PRResultViewController::actPreView));
  connect(buttons_[ResultButton::facebook], &QPushButton::clicked, this,
          act(&PRResultViewController::clickFacebook));
  connect(buttons_[ResultButton::twitter], &QPushButton::clicked, this,
          act(&PRResultViewController::clickTwitter));
  connect(buttons_[ResultButton::feedback], &QPushButton::clicked, this,
          act(&PRResultViewController::clickFeedBack));
  connect(selectAll_, &QCheckBox::clicked, this, [this](bool on) {
    if (PRResultViewController* p = presenter()) p->ClickSelectAll(on);
  });
  connect(deletedOnly_, &QCheckBox::clicked, this, [this](bool on) {
    if (PRResultViewController* p = presenter()) p->actCheck(on);
  });
  for (int i = 0; i < kCategoryCount; ++i) {
    const auto c = static_cast<Category>(i);
    connect(categoryButtons_[i], &QToolButton::clicked, this, [this, c] {
      if (PRResultViewController* p = presenter()) {
        p->showCategory(c);
      } else {
        setCategoryButtonPressed(c, false);
      }
    });
    connect(tables_[i]->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, c] { selectionChangedByUser(c); });
    connect(tables_[i]->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this, c](int section) {
              PRResultViewController* p = presenter();
              if (!p || p->currentCategory() != c || section < 0 ||
                  section >= models_[static_cast<int>(c)]->columnCount()) {
                return;
              }
              p->tableViewDidClickTableColumn(models_[static_cast<int>(c)]->columnId(section));
            });
  }
}

void ResultWidget::selectionChangedByUser(Category c) {
  if (applyingSelection_) return;
  PRResultViewController* p = presenter();
  if (!p || p->currentCategory() != c) return;
  QTableView* t = table(c);
  std::vector<int> rows;
  for (const QModelIndex& i : t->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  // The row the user selected last goes last: it is the one previewed.
  const QModelIndex current = t->selectionModel()->currentIndex();
  if (current.isValid()) {
    auto it = std::find(rows.begin(), rows.end(), current.row());
    if (it != rows.end()) std::rotate(it, it + 1, rows.end());
  }
  p->tableViewSelectionDidChange(rows);
}

std::optional<Category> ResultWidget::shownCategory() const {
  for (int i = 0; i < kCategoryCount; ++i) {
    if (stack_->currentWidget() == panels_[i]) return static_cast<Category>(i);
  }
  return std::nullopt;
}

QAbstractButton* ResultWidget::categoryButton(Category c) const {
  return categoryButtons_[static_cast<int>(c)];
}

QWidget* ResultWidget::fieldWidget(ResultField f) const {
  auto it = fields_.find(f);
  return it == fields_.end() ? nullptr : it->second;
}

QString ResultWidget::fieldText(ResultField f) const {
  QWidget* w = fieldWidget(f);
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* area = qobject_cast<QPlainTextEdit*>(w)) return area->toPlainText();
  return {};
}

QPushButton* ResultWidget::button(ResultButton b) const {
  auto it = buttons_.find(b);
  return it == buttons_.end() ? nullptr : it->second;
}

QCheckBox* ResultWidget::check(ResultCheck c) const {
  return c == ResultCheck::selectAll ? selectAll_ : deletedOnly_;
}

QLabel* ResultWidget::imageLabel(ResultImage i) const {
  auto it = images_.find(i);
  return it == images_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- ResultView

void ResultWidget::showResultScreen() {
  if (isWindow()) show();
}

void ResultWidget::hideResultScreen() {
  if (isWindow()) hide();
  clearThumbnails();  // the results are left
}

void ResultWidget::fixWindowSize(int width, int height) {
  window()->setFixedSize(width, height);
}

void ResultWidget::layoutCategoryButtons(bool rawScan) {
  for (int i = 0; i < kCategoryCount; ++i) {
    categoryButtons_[i]->setVisible(isRawCategory(static_cast<Category>(i)) == rawScan);
  }
}

void ResultWidget::showScanProgressPanel() {
  stack_->setCurrentWidget(progressPanel_);
  clearThumbnails();  // a new scan starts
}

void ResultWidget::showCategoryPanel(Category c) {
  stack_->setCurrentWidget(panels_[static_cast<int>(c)]);
}

void ResultWidget::setText(ResultField field, const std::string& text) {
  QWidget* w = fieldWidget(field);
  if (auto* label = qobject_cast<QLabel*>(w)) {
    // A long source name is cut in the middle; the tooltip keeps it whole.
    label->setText(
        field == ResultField::scanSource
            ? label->fontMetrics().elidedText(qs(text), Qt::ElideMiddle, label->maximumWidth())
            : qs(text));
    label->setToolTip(label->wordWrap() ? QString() : qs(text));
  } else if (auto* area = qobject_cast<QPlainTextEdit*>(w)) {
    area->setPlainText(qs(text));
  }
}

void ResultWidget::setFieldVisible(ResultField field, bool visible) {
  if (QWidget* w = fieldWidget(field)) w->setVisible(visible);
}

void ResultWidget::setButtonEnabled(ResultButton b, bool enabled) {
  if (QPushButton* w = button(b)) w->setEnabled(enabled);
}

void ResultWidget::setButtonVisible(ResultButton b, bool visible) {
  if (QPushButton* w = button(b)) w->setVisible(visible);
}

void ResultWidget::setCategoryButtonEnabled(Category c, bool enabled) {
  categoryButtons_[static_cast<int>(c)]->setEnabled(enabled);
}

void ResultWidget::setCategoryButtonPressed(Category c, bool pressed) {
  QToolButton* b = categoryButtons_[static_cast<int>(c)];
  b->setChecked(pressed);
  b->setProperty("image", QString::fromUtf8(categoryButtonImage(c, pressed).data()));
}

void ResultWidget::setCheckState(ResultCheck c, bool on) {
  check(c)->setChecked(on);
}

void ResultWidget::setCheckVisible(ResultCheck c, bool visible) {
  check(c)->setVisible(visible);
}

void ResultWidget::setProgressValue(int value) {
  progressBar_->setValue(std::clamp(value, 0, 100));
}

void ResultWidget::setProgressBarVisible(bool visible) {
  progressBar_->setVisible(visible);
}

void ResultWidget::showImage(ResultImage image, const Bytes& bytes) {
  QLabel* label = imageLabel(image);
  if (!label) return;
  QImage decoded;
  if (!bytes.empty() && bytes.size() <= static_cast<size_t>(INT_MAX)) {
    decoded = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
  }
  QPixmap pm;
  if (!decoded.isNull()) {
    pm = QPixmap::fromImage(
        decoded.scaled(label->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  } else if (image == ResultImage::contact) {
    pm = contactPlaceholder(label->width());
  } else if (image == ResultImage::rawImage || (image == ResultImage::photo && !bytes.empty())) {
    // A picture Qt cannot decode (HEIC photos without a plug-in, damaged files) shows the
    // generic picture icon rather than nothing.
    pm = pictureIcon(label);
  }
  label->setPixmap(pm);
  label->setVisible(true);
}

void ResultWidget::setImageVisible(ResultImage image, bool visible) {
  if (QLabel* label = imageLabel(image)) label->setVisible(visible);
}

void ResultWidget::setColumnWidth(Category t, std::string_view column, int width) {
  const int i = models_[static_cast<int>(t)]->columnOf(column);
  // The most the column gets while the others want room (result_tables.cpp).
  if (i >= 0) {
    static_cast<ResultTableView*>(tables_[static_cast<int>(t)])->setPreferredWidth(i, width);
  }
}

void ResultWidget::setTableRows(Category t, const ResultRows& rows) {
  RecordTableModel* m = models_[static_cast<int>(t)];
  QTableView* view = tables_[static_cast<int>(t)];
  applyingSelection_ = true;
  m->setRows(rows);
  applyingSelection_ = false;
  for (int col = 0; col < m->columnCount(); ++col) view->setColumnHidden(col, !m->columnShown(col));
  static_cast<ResultTableView*>(view)->fitColumns();
}

void ResultWidget::setSelectedRows(Category t, const std::vector<int>& rows) {
  RecordTableModel* m = models_[static_cast<int>(t)];
  QTableView* view = tables_[static_cast<int>(t)];
  applyingSelection_ = true;
  QItemSelection sel;
  int last = -1;
  for (int r : rows) {
    if (r < 0 || r >= m->rowCount()) continue;
    sel.select(m->index(r, 0), m->index(r, m->columnCount() - 1));
    last = r;
  }
  view->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
  if (last >= 0) {
    view->selectionModel()->setCurrentIndex(m->index(last, 0), QItemSelectionModel::NoUpdate);
    view->scrollTo(m->index(last, 0));
  }
  applyingSelection_ = false;
}

void ResultWidget::redrawTable(Category t) {
  models_[static_cast<int>(t)]->refresh();
}

void ResultWidget::runOnUiThread(std::function<void()> fn) {
  invoker_.post(std::move(fn));
}

void ResultWidget::runOnUiThreadAndWait(std::function<void()> fn) {
  invoker_.postAndWait(std::move(fn));
}

}  // namespace tamsel
