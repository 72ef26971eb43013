// The list of phone backups: one node per backup folder under the backup root, read from the
// folder's Info.plist (or, without it, Manifest.plist's "Lockdown" dictionary).
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel {

struct PRIOSDeviceNode {
  std::string strDeviceName;
  std::string strDeviceSize;        // decimal byte size of Info.plist ("" without it)
  std::string strDeviceBackUpTime;  // "YYYY-MM-DD HH:MM", UTC
  std::string strDeviceSerial;
  std::string strDeviceType;  // model name ("" when the product type matches no rule)
  std::string strIOSVersion;
  std::string deviceImage;  // picture name: "ipad" or "iphone"
  std::string itunesVersion;
  std::string backUpFilePath;
  std::string productType;  // the product type as stored ("iPhone5,2")
  bool encrypted = false;   // Manifest.plist says IsEncrypted
};

// The model name of a product type (first matching rule, ignoring case); "Iphone" for an
// empty type; none when no rule matches.
std::optional<std::string> GetDevcieType(std::string_view productType);

// The backup root: $TAMSEL_BACKUP_ROOT when set and not empty, otherwise
// "$HOME/Library/Application Support/MobileSync/Backup".
std::filesystem::path defaultBackupRoot();

// The node of one backup folder, or none (logged when the folder does not exist; silent for
// folders that hold no backup). Reads only property lists and file sizes. A folder whose
// property list no backup could have written (nested too deep, too many values: see
// ios/property_list.h) gives none, with `refused` (when given) set to why.
std::optional<PRIOSDeviceNode> readDeviceNode(const std::filesystem::path& folder,
                                              std::string* refused = nullptr);

class PRIOSDeviceController {
 public:
  void removeAll() {
    nodes_.clear();
    skipped_.clear();
  }
  // Appends at most one node for `folder` (see readDeviceNode); a folder left out for a
  // refused property list adds a line to skipped().
  void addDeviceNodeByPath(const std::string& folder);
  const std::vector<std::string>& skipped() const { return skipped_; }
  size_t count() const { return nodes_.size(); }
  const std::shared_ptr<PRIOSDeviceNode>& at(size_t i) const { return nodes_.at(i); }
  const std::vector<std::shared_ptr<PRIOSDeviceNode>>& nodes() const { return nodes_; }

 private:
  std::vector<std::shared_ptr<PRIOSDeviceNode>> nodes_;
  std::vector<std::string> skipped_;
};

// Lists `root` and adds every entry whose name does not begin with "." (in name order) to
// `list`; nothing when the root cannot be listed.
void showIphoneDisk(const std::filesystem::path& root, PRIOSDeviceController& list);

}  // namespace tamsel
