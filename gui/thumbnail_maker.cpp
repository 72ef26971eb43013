#include "gui/thumbnail_maker.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <climits>

#include "util/log.h"

namespace tamsel {

ThumbnailMaker::ThumbnailMaker(QSize box, PictureLimits limits, Delivery deliver, QObject* parent)
    : QObject(parent), box_(box), limits_(limits), deliver_(std::move(deliver)) {}

ThumbnailMaker::~ThumbnailMaker() {
  stop();
}

void ThumbnailMaker::want(std::vector<Job> jobs) {
  {
    std::lock_guard lock(m_);
    if (stopping_) return;
    queue_.clear();
    for (Job& job : jobs) {
      const PRNode* key = job.record.get();
      if (!key || key == inHand_ || onTheWay_.count(key)) continue;
      queue_.push_back(std::move(job));
    }
    if (queue_.empty()) return;
    if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
  }
  cv_.notify_one();
}

void ThumbnailMaker::reset() {
  std::lock_guard lock(m_);
  queue_.clear();
  onTheWay_.clear();
  ++generation_;
}

void ThumbnailMaker::stop() {
  {
    std::lock_guard lock(m_);
    stopping_ = true;
    queue_.clear();
    onTheWay_.clear();
    ++generation_;
  }
  cv_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool ThumbnailMaker::busy() const {
  std::lock_guard lock(m_);
  return !queue_.empty() || inHand_ != nullptr || !onTheWay_.empty();
}

int ThumbnailMaker::madeCount() const {
  std::lock_guard lock(m_);
  return made_;
}

void ThumbnailMaker::run() {
  std::unique_lock lock(m_);
  for (;;) {
    cv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    inHand_ = job.record.get();
    const uint64_t generation = generation_;
    lock.unlock();

    std::string why;
    const Bytes bytes = readPictureBytes(*job.record, limits_, job.readFound, &why);
    if (bytes.empty()) logLine("thumbnail skipped: " + why);
    QImage image = decodeScaled(bytes, box_);

    lock.lock();
    inHand_ = nullptr;
    ++made_;
    if (stopping_) return;
    if (generation != generation_) continue;
    onTheWay_.insert(job.record.get());
    // Queued to this object: runs on the UI thread, and not at all once the maker is gone
    // (its destructor waits for this thread first).
    QMetaObject::invokeMethod(
        this,
        [this, record = std::move(job.record), image = std::move(image), generation] {
          deliver(record, image, generation);
        },
        Qt::QueuedConnection);
  }
}

void ThumbnailMaker::deliver(const std::shared_ptr<PRNode>& record, const QImage& image,
                             uint64_t generation) {
  {
    std::lock_guard lock(m_);
    if (generation != generation_) return;
    onTheWay_.erase(record.get());
  }
  if (deliver_) deliver_(record, image);
}

QImage ThumbnailMaker::decodeScaled(const Bytes& bytes, QSize box) {
  if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX) || box.isEmpty()) return {};
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<qsizetype>(bytes.size()));
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAutoTransform(true);  // the camera's orientation
  const QSize full = reader.size();
  if (full.isValid() && !full.isEmpty()) {
    // The box is square, so a rotation by the orientation tag keeps the fit.
    QSize scaled = full.scaled(box, Qt::KeepAspectRatio);
    if (scaled.width() > full.width() || scaled.height() > full.height()) scaled = full;
    reader.setScaledSize(scaled.expandedTo(QSize(1, 1)));
  }
  QImage image = reader.read();
  if (image.isNull()) return {};
  // A format that cannot tell its size in advance is decoded whole and scaled here.
  if (image.width() > box.width() || image.height() > box.height()) {
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

}  // namespace tamsel
