#include "raw/volume_names.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>

#include "util/log.h"

extern char** environ;

namespace tamsel {

std::optional<std::string> runProgramOutput(const std::vector<std::string>& argv, size_t maxBytes) {
  if (argv.empty()) return std::nullopt;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    ::close(fds[0]);
    return std::nullopt;
  }
  std::string out;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t keep = std::min(static_cast<size_t>(n), maxBytes - std::min(maxBytes, out.size()));
    out.append(buffer, keep);  // past maxBytes the rest is read and dropped
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

int sysfsPartitionNumber(const std::string& kernelName) {
  if (kernelName.empty() || kernelName.find('/') != std::string::npos || kernelName[0] == '.') {
    return -1;
  }
  std::ifstream in("/sys/class/block/" + kernelName + "/partition");
  int n = -1;
  if (!(in >> n) || n < 0) return -1;
  return n;
}

std::vector<std::string> volumeNamesFromLsblk(
    std::string_view text, const std::function<int(const std::string& name)>& partitionNumber) {
  using nlohmann::json;
  json doc = json::parse(text.begin(), text.end(), nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return {};
  auto devices = doc.find("blockdevices");
  if (devices == doc.end() || !devices->is_array() || devices->empty()) return {};
  const json& disk = (*devices)[0];
  if (!disk.is_object()) return {};
  auto label = [](const json& d) {
    auto it = d.find("label");
    return it != d.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  std::vector<std::string> names{label(disk)};
  auto children = disk.find("children");
  if (children == disk.end() || !children->is_array()) return names;
  for (const json& child : *children) {
    if (!child.is_object()) continue;
    auto name = child.find("name");
    if (name == child.end() || !name->is_string()) continue;
    int n = partitionNumber(name->get<std::string>());
    if (n <= 0 || n >= 255) continue;
    if (names.size() <= static_cast<size_t>(n)) names.resize(static_cast<size_t>(n) + 1);
    names[static_cast<size_t>(n)] = label(child);
  }
  return names;
}

std::vector<std::string> getDiskInfo_aux(const std::string& devicePath) {
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
  std::optional<std::string> out =
      runProgramOutput({"lsblk", "--json", "-o", "NAME,LABEL,TYPE", "--", devicePath});
  if (!out) {
    logLine("lsblk could not list " + devicePath + "; its partitions show no names");
    return {};
  }
  return volumeNamesFromLsblk(*out, sysfsPartitionNumber);
}

}  // namespace tamsel
