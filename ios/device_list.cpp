#include "ios/device_list.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "ios/property_list.h"
#include "util/fd_io.h"
#include "util/log.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;

// A property list larger than this is not a backup's: it is refused unread.
constexpr off_t kMaxPlistSize = off_t{16} << 20;

struct LoadedPlist {
  PlistPtr root;
  struct stat st {};
  std::string refused;  // why a list no backup writes (nested too deep, ...) was refused
};

// The dictionary at the top of the property list `path` (XML or binary), with the file's
// status; none when the file is missing, not a regular file, too large, unreadable or not a
// dictionary. A list whose shape no backup has comes back `refused`, without a root.
std::optional<LoadedPlist> loadDictionary(const fs::path& path) {
  // A link in place of the list is not followed out of the backup folder.
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (file.get() < 0) {
    if (errno == ELOOP) logLine(path.string() + ": a symbolic link, not followed");
    return std::nullopt;
  }
  LoadedPlist out;
  if (::fstat(file.get(), &out.st) != 0 || !S_ISREG(out.st.st_mode)) return std::nullopt;
  if (out.st.st_size > kMaxPlistSize) {
    logLine(path.string() + ": property list of " + std::to_string(out.st.st_size) +
            " bytes refused (larger than a backup's)");
    return std::nullopt;
  }
  std::string bytes(static_cast<size_t>(out.st.st_size), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    ssize_t r = ::read(file.get(), bytes.data() + got, bytes.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  bytes.resize(got);
  if (bytes.empty()) return std::nullopt;
  std::string why;
  out.root = parsePropertyList(bytes, &why);
  if (!out.root && why != "not a property list") {
    out.refused = path.filename().string() + " refused (" + why + ")";
    logLine(path.string() + ": " + out.refused);
    return out;
  }
  plist_t root = out.root.get();
  if (root == nullptr || plist_get_node_type(root) != PLIST_DICT) {
    logDebug(path.string() + ": not a property list dictionary");
    return std::nullopt;
  }
  return out;
}

std::string stringValue(plist_t dict, const char* key) {
  plist_t item = plist_dict_get_item(dict, key);
  if (item == nullptr || plist_get_node_type(item) != PLIST_STRING) return {};
  char* value = nullptr;
  plist_get_string_val(item, &value);
  std::string out(value != nullptr ? value : "");
  std::free(value);
  return out;
}

bool boolValue(plist_t dict, const char* key) {
  plist_t item = plist_dict_get_item(dict, key);
  if (item == nullptr || plist_get_node_type(item) != PLIST_BOOLEAN) return false;
  uint8_t value = 0;
  plist_get_bool_val(item, &value);
  return value != 0;
}

// "YYYY-MM-DD HH:MM" of a file time, in Coordinated Universal Time.
std::string backupTime(time_t t) {
  struct tm parts {};
  if (::gmtime_r(&t, &parts) == nullptr) return {};
  char text[64];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
  return std::string(text, n);
}

// True when `haystack` contains `needle`, ignoring ASCII case.
bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                        [&](char a, char b) { return lower(a) == lower(b); });
  return it != haystack.end();
}

// Whether `folder` has at least two entries (stops counting there).
bool hasTwoEntries(const fs::path& folder) {
  std::error_code ec;
  int count = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (++count >= 2) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> GetDevcieType(std::string_view productType) {
  if (productType.empty()) return std::string("Iphone");
  struct Rule {
    std::string_view pattern;
    std::string_view model;
  };
  // In order: the first rule whose pattern the product type contains wins.
  static constexpr std::array<Rule, 14> kRules = {{
      {"iPhone1,1", "Iphone"},
      {"iPhone1,2", "Iphone3G"},
      {"iPhone2,1", "Iphone3GS"},
      {"iPhone3,1", "Iphone 4"},
      {"iPhone3,3", "Iphone 4"},
      {"iPhone4,1", "Iphone 4S"},
      {"iPhone5", "Iphone 5"},
      {"iPod1,1", "IpodTouch"},
      {"iPod2,1", "IpodTouch2G"},
      {"iPod3,1", "IpodTouch3G"},
      {"iPod4,1", "IpodTouch4G"},
      {"iPad1,1", "Ipad 1"},
      {"iPad2,1", "Ipad 2"},
      {"iPad3", "NewIpad"},
  }};
  for (const Rule& rule : kRules) {
    if (containsIgnoreCase(productType, rule.pattern)) return std::string(rule.model);
  }
  return std::nullopt;
}

fs::path defaultBackupRoot() {
  const char* root = std::getenv("TAMSEL_BACKUP_ROOT");
  if (root != nullptr && *root != '\0') return root;
  std::string home;
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
    home = h;
  } else {
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::array<char, 4096> buf{};
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found) {
      home = found->pw_dir;
    }
  }
  return fs::path(home) / "Library/Application Support/MobileSync/Backup";
}

std::optional<PRIOSDeviceNode> readDeviceNode(const fs::path& folder, std::string* refused) {
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    logLine("Filepath is not exist");
    return std::nullopt;
  }
  if (!hasTwoEntries(folder)) return std::nullopt;

  std::optional<LoadedPlist> info = loadDictionary(folder / "Info.plist");
  std::optional<LoadedPlist> manifest = loadDictionary(folder / "Manifest.plist");
  // A hostile list makes the whole backup suspect: it is left out of the list.
  for (const std::optional<LoadedPlist>* list : {&info, &manifest}) {
    if (*list && !(*list)->refused.empty()) {
      if (refused) *refused = (*list)->refused;
      return std::nullopt;
    }
  }
  plist_t lockdown = nullptr;
  if (manifest) {
    lockdown = plist_dict_get_item(manifest->root.get(), "Lockdown");
    if (lockdown != nullptr && plist_get_node_type(lockdown) != PLIST_DICT) lockdown = nullptr;
  }

  PRIOSDeviceNode node;
  time_t when = 0;
  if (info) {
    plist_t d = info->root.get();
    node.strDeviceName = stringValue(d, "Device Name");
    node.strDeviceSerial = stringValue(d, "Serial Number");
    node.productType = stringValue(d, "Product Type");
    node.strIOSVersion = stringValue(d, "Product Version");
    node.itunesVersion = stringValue(d, "iTunes Version");
    node.strDeviceSize = std::to_string(info->st.st_size);
    when = info->st.st_mtime;
  } else if (lockdown != nullptr) {
    node.strDeviceName = stringValue(lockdown, "DeviceName");
    node.strDeviceSerial = stringValue(lockdown, "SerialNumber");
    node.productType = stringValue(lockdown, "ProductType");
    node.strIOSVersion = stringValue(lockdown, "ProductVersion");
    node.itunesVersion = stringValue(lockdown, "BuildVersion");
    when = manifest->st.st_mtime;
  } else {
    return std::nullopt;
  }
  node.encrypted = manifest && boolValue(manifest->root.get(), "IsEncrypted");
  node.strDeviceType = GetDevcieType(node.productType).value_or("");
  // Only the exact names get the tablet picture: "Ipad 1" and "Ipad 2" (with a blank) do not.
  const std::string& t = node.strDeviceType;
  node.deviceImage = (t == "Ipad1" || t == "Ipad2" || t == "NewIpad") ? "ipad" : "iphone";
  node.strDeviceBackUpTime = backupTime(when);
  node.backUpFilePath = folder.string();
  return node;
}

void PRIOSDeviceController::addDeviceNodeByPath(const std::string& folder) {
  std::string refused;
  if (auto node = readDeviceNode(folder, &refused)) {
    nodes_.push_back(std::make_shared<PRIOSDeviceNode>(std::move(*node)));
  } else if (!refused.empty()) {
    skipped_.push_back(folder + ": " + refused + ": the backup is skipped");
  }
}

void showIphoneDisk(const fs::path& root, PRIOSDeviceController& list) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!name.empty() && name[0] != '.') names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) list.addDeviceNodeByPath((root / name).string());
}

}  // namespace tamsel
