#include "results/picture_source.h"

#include <algorithm>
#include <memory>
#include <new>
#include <sstream>

#include "ios/backup_files.h"
#include "results/result_view_controller.h"
#include "util/byte_ref.h"

namespace tamsel {

namespace {

void setWhy(std::string* why, std::string text) {
  if (why) *why = std::move(text);
}

Bytes contentStoreBytes(const PRBlackBerryContentNode& node, uint64_t limit, std::string* why) {
  std::string error;
  if (auto bytes = node.contentData.readAll(limit, &error)) return std::move(*bytes);
  setWhy(why, node.filePathName + ": " + error);
  return {};
}

Bytes storedFileBytes(const std::string& path, uint64_t limit, std::string* why) {
  std::string error;
  // Never through a link planted in the backup in place of the file or its subfolder.
  std::shared_ptr<InputFile> file = InputFile::adopt(openStoredFile(path, &error), path, &error);
  if (!file) {
    setWhy(why, error);
    return {};
  }
  if (file->size() > limit) {
    setWhy(why, path + " holds " + std::to_string(file->size()) + " bytes, more than " +
                    std::to_string(limit));
    return {};
  }
  Bytes bytes(static_cast<size_t>(file->size()));
  if (!bytes.empty() && !file->readExact(0, bytes.size(), bytes.data(), nullptr, &error)) {
    setWhy(why, error);
    return {};
  }
  return bytes;
}

Bytes foundFileBytes(PRScanListNode& node, uint64_t limit, const FoundFileReader& readFound,
                     std::string* why) {
  _rec_file_ele* ele = node.getfile();
  // The library fills file_len bytes, so the buffer is never smaller than that.
  const uint64_t size = std::max<uint64_t>(node.fileSizeNumber, ele->file_len);
  if (size > limit) {
    std::ostringstream line;
    line << node.nodeName << ": " << size << " bytes at 0x" << std::hex << ele->file_start
         << ", more than " << std::dec << limit;
    setWhy(why, line.str());
    return {};
  }
  if (size == 0) {
    setWhy(why, node.nodeName + ": empty file");
    return {};
  }
  if (!readFound) {
    setWhy(why, node.nodeName + ": no disk library to read it");
    return {};
  }
  Bytes buffer;
  try {
    buffer.assign(static_cast<size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    setWhy(why, node.nodeName + ": no memory for " + std::to_string(size) + " bytes");
    return {};
  }
  if (!readFound(buffer.data(), ele)) {
    setWhy(why, node.nodeName + ": the disk library cannot read it");
    return {};
  }
  return buffer;
}

}  // namespace

PictureSource pictureSourceOf(const PRNode& record) {
  if (const auto* c = dynamic_cast<const PRBlackBerryContentNode*>(&record)) {
    return c->ContentFileType == "Image" ? PictureSource::contentStore : PictureSource::none;
  }
  if (const auto* p = dynamic_cast<const PRPhotoAndVideoNode*>(&record)) {
    return p->bmov.get() || p->filePath.empty() ? PictureSource::none : PictureSource::storedFile;
  }
  if (dynamic_cast<const PRScanListNode*>(&record)) return PictureSource::foundFile;
  return PictureSource::none;
}

uint64_t PictureLimits::of(PictureSource source) const {
  switch (source) {
    case PictureSource::contentStore:
      return contentStore;
    case PictureSource::storedFile:
      return storedFile;
    case PictureSource::foundFile:
      return foundFile;
    case PictureSource::none:
      break;
  }
  return 0;
}

FoundFileReader foundFileReaderOf(ResultHost& host) {
  const export_function_table* table = host.diskTable();
  list_disk_struct* disk = table && table->readFoundFile ? host.currentDisk() : nullptr;
  if (table && table->readFoundFile && disk) {
    return [table, disk](void* buffer, _rec_file_ele* ele) {
      table->readFoundFile(disk, buffer, ele);
      return true;
    };
  }
  return [&host](void* buffer, _rec_file_ele* ele) { return host.readFoundFile(buffer, ele); };
}

Bytes readPictureBytes(PRNode& record, const PictureLimits& limits,
                       const FoundFileReader& readFound, std::string* why) {
  const PictureSource source = pictureSourceOf(record);
  const uint64_t limit = limits.of(source);
  switch (source) {
    case PictureSource::contentStore:
      return contentStoreBytes(static_cast<const PRBlackBerryContentNode&>(record), limit, why);
    case PictureSource::storedFile:
      return storedFileBytes(static_cast<const PRPhotoAndVideoNode&>(record).filePath, limit, why);
    case PictureSource::foundFile:
      return foundFileBytes(static_cast<PRScanListNode&>(record), limit, readFound, why);
    case PictureSource::none:
      break;
  }
  setWhy(why, "not a picture");
  return {};
}

}  // namespace tamsel
