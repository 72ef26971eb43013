// Makes the thumbnails of the picture grid on a worker thread: reads a record's picture
// (results/picture_source.h, bounded), decodes it at the thumbnail's size and hands the
// image to the UI thread.
//
// Threads: want(), reset() and stop() are called on the UI thread; the deliveries run there
// too, queued to this object, so none runs once it is gone. The worker holds the records it
// works on (they are shared), never a model or a widget.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "results/picture_source.h"

namespace tamsel {

class ThumbnailMaker : public QObject {
 public:
  struct Job {
    std::shared_ptr<PRNode> record;
    FoundFileReader readFound;  // for a memory card's found file
  };
  // The thumbnail of `record`, or a null image when it has no picture that decodes.
  using Delivery = std::function<void(const std::shared_ptr<PRNode>& record, const QImage& image)>;

  ThumbnailMaker(QSize box, PictureLimits limits, Delivery deliver, QObject* parent = nullptr);
  ~ThumbnailMaker() override;
  ThumbnailMaker(const ThumbnailMaker&) = delete;
  ThumbnailMaker& operator=(const ThumbnailMaker&) = delete;

  // The waiting jobs become `jobs`, made in this order; a record being made or on its way to
  // the UI thread is not made again. Starts the worker on first use.
  void want(std::vector<Job> jobs);
  // Drops the waiting jobs; what is being made now is not delivered.
  void reset();
  // Stops the worker and waits for it (for the picture in hand at most); later calls to
  // want() are ignored.
  void stop();
  // Jobs waiting or in hand (for tests).
  bool busy() const;
  // Thumbnails decoded since this maker was made (for tests).
  int madeCount() const;

  // `bytes` decoded at the largest size that fits in `box` with the picture's proportions
  // (never enlarged). Formats that can (JPEG) are decoded at that size rather than whole. A
  // null image when the bytes do not decode.
  static QImage decodeScaled(const Bytes& bytes, QSize box);

 private:
  void run();
  void deliver(const std::shared_ptr<PRNode>& record, const QImage& image, uint64_t generation);

  const QSize box_;
  const PictureLimits limits_;
  Delivery deliver_;

  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<Job> queue_;
  // The record in hand and those decoded but not yet taken by the UI thread.
  const PRNode* inHand_ = nullptr;
  std::unordered_set<const PRNode*> onTheWay_;
  uint64_t generation_ = 0;  // bumped by reset(): older results are dropped
  bool stopping_ = false;
  int made_ = 0;
  std::thread worker_;
};

}  // namespace tamsel
