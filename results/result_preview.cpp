// Result presenter: the preview of the selected record and the preview button.
#include <algorithm>
#include <new>
#include <sstream>

#include "events/name_lookup.h"
#include "ios/backup_files.h"
#include "results/record_details.h"
#include "results/result_view_controller.h"
#include "results/result_view_detail.h"
#include "util/log.h"

namespace tamsel {

namespace {

// The raw image preview reads a whole found file into memory; larger files are not shown.
constexpr uint64_t kMaxRawPreviewBytes = uint64_t{512} << 20;
// Pictures of backup records are read from the backup when shown; larger ones are not.
constexpr uint64_t kMaxRecordPreviewBytes = uint64_t{64} << 20;
// A phone backup's stored picture is read whole for its preview; a larger file is not read.
constexpr uint64_t kMaxStoredPicturePreviewBytes = uint64_t{32} << 20;

// The bytes of a record's picture, or none (logged) when they cannot be read: the backup
// may have shrunk or gone since the scan.
Bytes pictureBytes(const ByteRef& ref, std::string_view what) {
  if (ref.empty()) return {};
  std::string error;
  if (auto bytes = ref.readAll(kMaxRecordPreviewBytes, &error)) return std::move(*bytes);
  logLine(std::string(what) + " preview skipped: " + error);
  return {};
}

// The bytes of a phone backup's stored file, or none (logged) when it is gone, not a
// regular file, larger than `maxBytes` or cut short while read.
Bytes storedFileBytes(const std::string& path, uint64_t maxBytes) {
  if (path.empty()) return {};
  std::string error;
  // Never through a link planted in the backup in place of the file or its subfolder.
  std::shared_ptr<InputFile> file = InputFile::adopt(openStoredFile(path, &error), path, &error);
  if (!file) {
    logLine("photo preview skipped: " + error);
    return {};
  }
  if (file->size() > maxBytes) {
    logLine("photo preview skipped: " + path + " holds " + std::to_string(file->size()) +
            " bytes, more than a preview reads");
    return {};
  }
  Bytes bytes(static_cast<size_t>(file->size()));
  if (!bytes.empty() && !file->readExact(0, bytes.size(), bytes.data(), nullptr, &error)) {
    logLine("photo preview skipped: " + error);
    return {};
  }
  return bytes;
}

template <class T>
const T* as(const std::shared_ptr<PRNode>& r) {
  return r ? dynamic_cast<const T*>(r.get()) : nullptr;
}

// The last component of a stored path ('/' or '\' separated).
std::string baseName(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string withoutTrailingBlanks(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The name of the first BlackBerry contact of the scan that holds `number` among its phone
// numbers (blanks, dashes and brackets ignored, as the phone steps match numbers), else "".
std::string bbContactName(const RecordList<PRBlackBerryContactNode>& contacts,
                          const std::string& number) {
  const std::string wanted = normalisePhoneNumber(number);
  if (wanted.empty()) return {};
  for (const auto& c : contacts) {
    if (!c) continue;
    for (const std::string* phones : {&c->mobilCall, &c->workCall, &c->homeCall, &c->phoneNumber}) {
      if (normalisePhoneNumber(*phones).find(wanted) != std::string::npos) {
        return withoutTrailingBlanks(c->contactName);
      }
    }
  }
  return {};
}

}  // namespace

void PRResultViewController::tableViewSelectionDidChange(const std::vector<int>& rows) {
  selectedRows_ = rows;
  if (!current_ || rows.empty()) return;
  previewRow(*current_, rows.back());
}

void PRResultViewController::previewRow(Category table, int row) {
  const ResultRows& rows = displayList(table);
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return;
  const std::shared_ptr<PRNode>& rec = rows[row];
  auto set = [this](ResultField f, const std::string& text) { view_.setText(f, text); };

  switch (table) {
    case Category::Photo:
      if (auto* c = as<PRBlackBerryContentNode>(rec)) {
        set(ResultField::photoFileName, "Name: " + baseName(c->filePathName));
        set(ResultField::photoFileSize, "Size: " + c->contentFileSize);
        // A document, a sound or a video clears the picture of the row shown before.
        view_.showImage(ResultImage::photo, c->ContentFileType == "Image"
                                                ? pictureBytes(c->contentData, "photo")
                                                : Bytes{});
      } else if (auto* p = as<PRPhotoAndVideoNode>(rec)) {
        previewPhoto(*p);
      }
      break;
    case Category::Contact:
      if (auto* c = as<PRBlackBerryContactNode>(rec)) {
        set(ResultField::contactName, c->contactName);
        view_.setFieldVisible(ResultField::contactName, !c->contactName.empty());
        set(ResultField::contactTitle, c->titleName);
        set(ResultField::contactCompany, c->companyName);
        set(ResultField::contactPinNumber, "PinNumber: " + c->pinNumber);
        set(ResultField::contactAddress, "Adress: " + c->address + " " + c->city + " " +
                                             c->provice + " " + c->country + " " + c->postZcode);
        set(ResultField::contactMobile, "Phone Mobil: " + c->mobilCall);
        set(ResultField::contactWork, "Phone Work: " + c->workCall);
        set(ResultField::contactHome, "Phone Home: " + c->homeCall);
        set(ResultField::contactEmail, "Email: " + c->email);
        set(ResultField::contactHomePage, "HomePage: " + c->webSite);
        set(ResultField::contactBirthday, "Birthday: " + c->brithday);
        set(ResultField::contactNote, "Note: " + c->note);
        view_.showImage(ResultImage::contact, pictureBytes(c->contactImageData, "contact picture"));
      } else if (auto* p = as<PRContactNode>(rec)) {
        // A phone contact keeps its numbers in one field and has no PIN: the PIN, work and
        // home lines stay empty.
        set(ResultField::contactName, p->contactName);
        view_.setFieldVisible(ResultField::contactName, !p->contactName.empty());
        set(ResultField::contactTitle, p->contactJobtitle);
        set(ResultField::contactCompany, p->contactCompany);
        set(ResultField::contactPinNumber, "");
        set(ResultField::contactAddress, "Adress: " + p->contactAdress);
        set(ResultField::contactMobile, "Phone: " + p->contactPhone);
        set(ResultField::contactWork, "");
        set(ResultField::contactHome, "");
        set(ResultField::contactEmail, "Email: " + p->contactEmail);
        set(ResultField::contactHomePage, "HomePage: " + p->contactHomepage);
        set(ResultField::contactBirthday, "Birthday: " + p->contactBirthday);
        set(ResultField::contactNote, "Note: " + p->contactNote);
        view_.showImage(ResultImage::contact, pictureBytes(p->imageData, "contact picture"));
      }
      break;
    case Category::Message:
      if (auto* m = as<PRBlackBerrySMSMessageNode>(rec)) {
        view_.setFieldVisible(ResultField::messageContent, true);
        // The sender or receiver: the contact of this backup with that number, else the
        // number itself.
        std::string name;
        {
          std::lock_guard lock(mutex_);
          name = bbContactName(lists_.bbContactArray, m->numberString);
        }
        set(ResultField::messageName, "Name: " + (name.empty() ? m->numberString : name));
        set(ResultField::messageDate, "Date: " + m->dateTime);
        set(ResultField::messagePhone, "Phone: " + m->numberString);
        set(ResultField::messageType, "Type: " + m->type);
        set(ResultField::messageContent, m->contentText);
      } else if (auto* p = as<PRMessageNode>(rec)) {
        view_.setFieldVisible(ResultField::messageContent, true);
        set(ResultField::messageName,
            "Name: " + (p->messageName.empty() ? p->messagePhone : p->messageName));
        set(ResultField::messagePhone, "Phone: " + p->messagePhone);
        set(ResultField::messageDate, "Date: " + p->messageDate);
        set(ResultField::messageType, "Type: " + p->messageType);
        set(ResultField::messageContent, p->messageContent);
      }
      break;
    case Category::CallHistory:
      if (auto* c = as<PRBlackBerryCallNode>(rec)) {
        set(ResultField::callName, "Name: " + c->CallName);
        set(ResultField::callPhone, "Phone: " + c->CallNumber);
        set(ResultField::callType, "Type: " + c->CallType);
        set(ResultField::callTime, "Duration: " + c->callDuration);
        set(ResultField::callDate, "Date: " + c->CallTime);
      } else if (auto* p = as<PRCallHistoryNode>(rec)) {
        set(ResultField::callName, "Name: " + p->callName);
        set(ResultField::callPhone, "Phone: " + p->callPhone);
        set(ResultField::callType, "Type: " + p->callType);
        set(ResultField::callTime, "Duration: " + p->callDuration);
        set(ResultField::callDate, "Date: " + p->callDate);
      }
      break;
    case Category::Note:
      if (auto* n = as<PRBlackBerryNoteNode>(rec)) {
        view_.setFieldVisible(ResultField::noteContent, true);
        set(ResultField::noteTitle, "Title: " + n->noteTittle);
        set(ResultField::noteDate, "");
        set(ResultField::noteContent, n->noteContent);
        set(ResultField::noteNote, "");  // the text is in the content area, shown once
      } else if (auto* p = as<PRNoteNode>(rec)) {
        view_.setFieldVisible(ResultField::noteContent, true);
        set(ResultField::noteTitle, "Title: " + p->noteTitle);
        set(ResultField::noteDate, "Date: " + p->noteDate);
        set(ResultField::noteContent, p->noteContent);
        set(ResultField::noteNote, "");  // the body is in the content area
      }
      break;
    case Category::BookMark:
      if (auto* b = as<PRBookMarkNode>(rec)) {
        set(ResultField::bookMarkTitle, "Title: \n" + b->bookMarkTitle);
        set(ResultField::bookMarkURL, "URL: \n" + b->bookMarkURL);
      }
      break;
    case Category::Calender:
      if (auto* b = as<PRBlackBerryCalenderNode>(rec)) {
        set(ResultField::calTitle, "Title: " + b->bbCalSubject);
        // An entry without a place or time leaves its line empty.
        auto line = [](const char* label, const std::string& v) {
          return v.empty() ? std::string() : label + v;
        };
        set(ResultField::calLocation, line("Location: ", b->bbCalLocation));
        set(ResultField::calStartDate, line("Start: ", b->bbCalStartDate));
        set(ResultField::calEndDate, line("End: ", b->bbCalEndDate));
        set(ResultField::calNote, "Note: " + b->bbCalInformation);
      } else if (auto* c = as<PRCalenderNode>(rec)) {
        set(ResultField::calTitle, "Title: " + c->calTitle);
        set(ResultField::calLocation, "Location: " + c->location);
        set(ResultField::calStartDate, "Start: " + c->startDate);
        set(ResultField::calEndDate, "End: " + c->endDate);
        set(ResultField::calNote, "Note: " + c->calNote);
      }
      break;
    case Category::FaceTwitter:
      if (auto* f = as<PRFaceTwitterNode>(rec)) {
        set(ResultField::faceTwitterFileName, "Name: " + f->faceTwitterFileName);
        set(ResultField::faceTwitterFileSize, "Size: " + f->fileSize);
        set(ResultField::faceTwitterFilePath, "Path: " + f->faceTwitterFilePath);
      }
      break;
    case Category::MMS:
      if (auto* m = as<PRBlackBerryMMSMessageNode>(rec)) {
        set(ResultField::mmsNumber, "Number: " + m->numberName);
        set(ResultField::mmsAttachment, "Attachment: " + baseName(m->contentDataName));
        set(ResultField::mmsType, "Type: " + m->contentType);
        set(ResultField::mmsContent, m->contentText);
        view_.showImage(ResultImage::mms, m->contentType == "Image"
                                              ? pictureBytes(m->contentData, "MMS picture")
                                              : Bytes{});
      }
      break;
    case Category::RawImage:
      if (auto* s = dynamic_cast<PRScanListNode*>(rec.get())) previewRawImage(*s);
      break;
    case Category::RawAudio:
    case Category::RawVideo:
    case Category::RawArchive:
    case Category::RawDocument:
      break;  // the details below are all there is
  }
  // The record's other fields with a value, under the lines above.
  set(detailsField(table), rec ? recordDetailsText(recordDetails(*rec)) : std::string());
}

// A picture is read from its stored file; a video or sound file is never read, and the
// picture view is cleared for it, as it is when the stored file cannot be read.
void PRResultViewController::previewPhoto(const PRPhotoAndVideoNode& node) {
  view_.setText(ResultField::photoFileName, "Name: " + node.fileNodeName);
  view_.setText(ResultField::photoFileSize, "Size: " + node.fileNodeSize);
  view_.showImage(
      ResultImage::photo,
      node.bmov ? Bytes{} : storedFileBytes(node.filePath, kMaxStoredPicturePreviewBytes));
}

void PRResultViewController::previewRawImage(PRScanListNode& node) {
  _rec_file_ele* ele = node.getfile();
  // The library fills file_len bytes, so the buffer is never smaller than that.
  const uint64_t size = std::max<uint64_t>(node.fileSizeNumber, ele->file_len);
  if (size > kMaxRawPreviewBytes) {
    std::ostringstream line;
    line << "image preview skipped: " << size << " bytes at 0x" << std::hex << ele->file_start;
    logLine(line.str());
    return;
  }
  Bytes buffer;
  try {
    buffer.assign(static_cast<size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    logLine("image preview: no memory for " + std::to_string(size) + " bytes");
    return;
  }
  if (!buffer.empty()) host_.readFoundFile(buffer.data(), ele);
  view_.showImage(ResultImage::rawImage, buffer);
}

void PRResultViewController::actPreView() {
  if (current_ != Category::FaceTwitter || selectedRows_.empty()) return;
  const ResultRows& rows = displayList(Category::FaceTwitter);
  const int row = selectedRows_.back();
  if (row < 0 || static_cast<size_t>(row) >= rows.size()) return;
  if (auto* f = as<PRFaceTwitterNode>(rows[row])) view_.openFile(f->faceTwitterFilePath);
}

}  // namespace tamsel
