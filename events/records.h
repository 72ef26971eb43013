// The result records that scanners post and the result view keeps, and the scanners'
// working records. Records are shared (std::shared_ptr) and created by the scanner that
// posts them. A scanner fills every text and data field before it posts the record; after
// that only the user's marks change, and those are atomic so that the UI thread can tick
// a record while a scan thread reads the list. Texts start as "", ids as -1, flags false.
// Pictures, attachments and files are byte references into the input (util/byte_ref.h),
// read when they are shown, hashed or written.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disklib/disklib_api.h"
#include "events/notification_center.h"
#include "util/byte_ref.h"

namespace tamsel {

using Bytes = std::vector<uint8_t>;

// A user mark that the UI thread writes while scan or recovery threads read it.
class Flag {
 public:
  Flag(bool v = false) : v_(v) {}  // NOLINT: implicit on purpose, reads like a bool field
  Flag(const Flag& o) : v_(o.get()) {}
  Flag& operator=(const Flag& o) { return set(o.get()); }
  Flag& operator=(bool v) { return set(v); }
  operator bool() const { return get(); }  // NOLINT
  bool get() const { return v_.load(std::memory_order_acquire); }
  Flag& set(bool v) {
    v_.store(v, std::memory_order_release);
    return *this;
  }

 private:
  std::atomic<bool> v_;
};

// ---------------------------------------------------------------- iPhone backup records

struct PRPhotoAndVideoNode : PRNode {
  std::string fileNodeName;
  std::string fileNodeSize;
  std::string filePath;
  // The backup's own stored file when filePath is its clear copy in the run folder (an
  // encrypted backup); empty when filePath is the backup's file itself.
  std::string originPath;
  Flag bSelected;
  Flag bmov;
};

struct PRContactNode : PRNode {
  int32_t rowid = -1;
  std::string contactName;
  std::string contactPhone;
  std::string contactEmail;
  std::string contactHomepage;
  std::string contactCompany;
  std::string contactBirthday;
  std::string contactJobtitle;
  std::string contactNote;
  std::string contactAdress;
  // Each phone number as the address book stores it, in order (contactPhone holds them
  // joined by blanks, which numbers contain too); empty when the reader did not keep them.
  std::vector<std::string> phoneNumbers;
  ByteRef imageData;
  Flag bDeleted;
  Flag bSelected;
};

struct PRMessageNode : PRNode {
  std::string messageName;
  std::string messagePhone;
  std::string messageContent;
  std::string messageDate;
  std::string messageType;
  Flag bImessage;
  Flag bSelected;
  Flag bDeleted;
  int32_t handle_id = -1;
};

// The messageType of a message of the older layout (the flags column, or the chat flags of a
// chat message): 2 or 22 "Received", 3 or 16387 "Send", any other value "unknown".
inline const char* messageTypeOfFlags(int64_t flags) {
  if (flags == 2 || flags == 22) return "Received";
  if (flags == 3 || flags == 16387) return "Send";
  return "unknown";
}

struct PRCallHistoryNode : PRNode {
  std::string callName;
  std::string callPhone;
  std::string callDate;
  std::string callType;
  int32_t callTime = -1;
  std::string callDuration;
  std::string callService;  // "FaceTime" for FaceTime calls of newer phones, else empty
  Flag bSelected;
  Flag bDeleted;
};

struct PRNoteNode : PRNode {
  std::string noteTitle;
  std::string noteContent;
  std::string noteDate;
  int32_t uid = -1;
  Flag bLocked;  // a password-protected note: its title only, the text stays locked
  Flag bSelected;
  Flag bDeleted;
};

struct PRBookMarkNode : PRNode {
  std::string bookMarkTitle;
  std::string bookMarkURL;
  Flag bSelected;
  Flag bDeleted;
};

struct PRCalenderNode : PRNode {
  std::string calTitle;
  std::string calNote;
  std::string location;
  std::string startDate;
  std::string endDate;
  Flag bDeleted;
  Flag bSelected;
};

struct PRFaceTwitterNode : PRNode {
  std::string faceTwitterFileName;
  std::string faceTwitterFilePath;
  // As PRPhotoAndVideoNode::originPath, for faceTwitterFilePath.
  std::string originPath;
  std::string fileSize;
  Flag bSelected;
};

// ---------------------------------------------------------------- scanners' working records

struct PRTreeDirNode : PRNode {
  std::string fileDomain;
  std::string filePath;
  std::string fileKey;
};

struct PRContactImageNode : PRNode {
  int32_t rowid = -1;
  ByteRef imageData;
};

struct PRChatMessageNode : PRNode {
  int32_t rowid = -1;
  std::string phoneValue;
};

struct PRNoteValueNode : PRNode {
  int32_t uid = -1;
  std::string noteValue;
};

struct DelContactValue : PRNode {
  std::string contactValue;
  int32_t valueType = -1;
  int32_t rowID = -1;
};

// ---------------------------------------------------------------- BlackBerry records

// One entry of an IPD file's database name table.
struct PRBlackBerryDataBaseNode : PRNode {
  int32_t databaseIndex = -1;
  std::string databaseName;
  uint64_t databaseLongth = UINT64_MAX;
  int32_t dataversion = -1;
  int32_t databaseHandle = -1;
  int32_t databaseRecordID = -1;
};

// IPD terms kept as plain value types; nothing fills them yet.
struct PRBlackBerryDataBaseRecordNode : PRNode {
  int32_t databaseID = -1;
  uint64_t RecordLongth = UINT64_MAX;
  int32_t dataversion = -1;
  int32_t databaseHandle = -1;
  int32_t databaseRecordID = -1;
  std::string databaseRecordData;
};

struct PRBlackBerryFileNode : PRNode {
  std::string fileType;
  std::string fileContent;
  int32_t fileLongth = -1;
};

struct PRBlackBerryCallNode : PRNode {
  std::string CallName;
  std::string CallNumber;
  std::string CallTime;
  std::string CallType;
  std::string callDuration;
  Flag bSelected;
};

struct PRBlackBerryContactNode : PRNode {
  std::string contactName;
  std::string companyName;
  std::string titleName;
  ByteRef contactImageData;
  std::string email;
  std::string phoneNumber;
  std::string workCall;
  std::string homeCall;
  std::string mobilCall;
  std::string pinNumber;
  std::string address;
  std::string city;
  std::string provice;
  std::string country;
  std::string postZcode;
  std::string brithday;
  std::string categories;
  std::string webSite;
  std::string note;
  Flag bSelected;
};

struct PRBlackBerryMMSMessageNode : PRNode {
  std::string numberName;
  std::string contentText;
  std::string contentDataName;
  std::string contentType;
  ByteRef contentData;
  Flag bSelected;
};

struct PRBlackBerrySMSMessageNode : PRNode {
  std::string contentText;
  std::string numberString;
  Flag isUncode;
  std::string type;
  std::string dateTime;
  ByteRef contentData;
  Flag bSelected;
};

struct PRBlackBerryNoteNode : PRNode {
  std::string noteTittle;
  std::string noteContent;
  Flag bSelected;
};

struct PRBlackBerryCalenderNode : PRNode {
  std::string bbCalSubject;
  std::string bbCalInformation;
  // Where and when: the location text, and the start and end as date texts (empty when the
  // entry holds none).
  std::string bbCalLocation;
  std::string bbCalStartDate;
  std::string bbCalEndDate;
  Flag bSelected;
};

struct PRBlackBerryContentNode : PRNode {
  std::string filePathName;
  ByteRef contentData;
  std::string ContentFileType;
  std::string contentFileSize;
  Flag bSelected;
  uint64_t fileSize = 0;
};

// ---------------------------------------------------------------- raw scan records

// One file found by a raw scan. `fileinfo` is a private copy of the element the disk
// library reported; its name points into `c_pFileName`, owned by the node.
class PRScanListNode : public PRNode {
 public:
  PRScanListNode() = default;
  PRScanListNode(const PRScanListNode&) = delete;
  PRScanListNode& operator=(const PRScanListNode&) = delete;

  std::string nodeName;
  std::string nodeSizeString;
  std::string createTime;
  std::string modifyTime;
  std::string validaty;
  std::string valiIcon;  // resource name of the validity icon; not set by the scan
  // A text, as the scan list has it: "Yes" for a file found through a deleted folder entry,
  // else empty. createTime and modifyTime are date texts (empty when not known), validaty
  // says what is wrong with a damaged file (empty when nothing is known to be).
  std::string bDeleted;
  Flag bMarked;
  Flag bSelected;
  std::string fileType;
  uint64_t fileSizeNumber = 0;  // the file's length; fileinfo.file_len stops at 4 GiB - 1
  uint32_t foundFlags = 0;      // TAMSEL_FOUND_* of the disk library (0 from older ones)

  // Copies `ele`: the numbers, and at most file_name_len name bytes (stopping at a zero
  // byte) into a zero-filled buffer of file_name_len + 1 bytes. journal_file is not kept.
  void setfile(const _rec_file_ele& ele);
  // The node's own copy, valid while the node lives; null name before setfile.
  _rec_file_ele* getfile() { return &fileinfo; }
  const _rec_file_ele* getfile() const { return &fileinfo; }
  const std::vector<char>& c_pFileName() const { return name_; }

 private:
  _rec_file_ele fileinfo{};
  std::vector<char> name_;
};

// One row of the disk tree: a disk (deviceIndex 255) or one of its partitions.
struct PRDiskInfoNode : PRNode {
  list_disk_struct* pSys_Disk = nullptr;
  list_part_struct* pSys_Part = nullptr;
  std::string diskdev = "Untitled";
  std::string partitionName = "UnKnowPartition";
  std::string partitionSizeString = "0KB";
  std::string partitionType;  // empty: none
  std::string partitionIcon;  // resource name; empty: none
  Flag isLeaf{true};
  std::vector<std::shared_ptr<PRDiskInfoNode>> children;
  int32_t deviceIndex = -1;
  Flag bDiskFlag;
  // What the system says of the disk or partition (raw/disk_details.h); 0 / empty: unknown.
  uint64_t sizeBytes = 0;
  std::string model;       // the disk's maker and model (both kinds of row)
  std::string fileSystem;  // of the partition, or of a file system on the whole disk
  std::string volumeLabel;
  Flag bRemovable;
  Flag bSystemDisk;  // the disk holds a mounted system file system
  Flag bImageFile;

  list_disk_struct* getSysDisk() const { return pSys_Disk; }
  void setSysDisk(list_disk_struct* d) { pSys_Disk = d; }
  list_part_struct* getSysPart() const { return pSys_Part; }
  void setSysPart(list_part_struct* p) { pSys_Part = p; }
};

}  // namespace tamsel
