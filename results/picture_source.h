// Where the picture of a result record comes from, read whole and bounded: a BlackBerry
// content-store picture's stored bytes, a phone backup photo's stored file, or a memory-card
// image read through the disk library. The preview and the thumbnail grid both show these.
//
// Threads: readPictureBytes may run on any thread; it reads the record's own fields and the
// files they name, never the controller's state. A found-file reader made by
// foundFileReaderOf looks the disk library and disk up when it is made, so call that on the
// UI thread and hand the reader to a worker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "events/records.h"

namespace tamsel {

class ResultHost;

// What makes a record's picture.
enum class PictureSource {
  none,          // no picture: a video or sound, a content-store file of another kind
  contentStore,  // PRBlackBerryContentNode::contentData of an "Image"
  storedFile,    // PRPhotoAndVideoNode::filePath of a picture (not bmov)
  foundFile,     // a memory card's found file (PRScanListNode)
};
PictureSource pictureSourceOf(const PRNode& record);

// The most bytes read for one picture, per source; a larger picture is not read.
struct PictureLimits {
  uint64_t contentStore = uint64_t{64} << 20;
  uint64_t storedFile = uint64_t{32} << 20;
  uint64_t foundFile = uint64_t{512} << 20;

  // The same bound for every source.
  static PictureLimits uniform(uint64_t maxBytes) { return {maxBytes, maxBytes, maxBytes}; }
  uint64_t of(PictureSource source) const;
};

// Reads a found file (the disk library's readFoundFile) into `buffer` of at least
// ele->file_len bytes; false when it cannot be read at all.
using FoundFileReader = std::function<bool(void* buffer, _rec_file_ele* ele)>;

// A reader through the host's disk library and current disk, looked up now (so that a worker
// using it never reads the controller's disk list); a host without a loaded library or disk
// (a test host) is asked through its own readFoundFile.
FoundFileReader foundFileReaderOf(ResultHost& host);

// The bytes of `record`'s picture. Empty, with `why` set (for the log), when it has none,
// when it is larger than its limit, when its file is gone, not regular or cut short, or
// when a found file cannot be read (`readFound` empty or failing). Found files are read into
// a buffer of the record's size, as the disk library requires.
Bytes readPictureBytes(PRNode& record, const PictureLimits& limits,
                       const FoundFileReader& readFound, std::string* why = nullptr);

}  // namespace tamsel
