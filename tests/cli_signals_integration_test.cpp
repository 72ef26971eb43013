// tamsel-cli ended by a signal while it holds an encrypted phone backup open: the run folder
// (the decrypted index, databases and media) goes with it, and the exit status says which
// signal ended it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/fixtures/ios_encrypted_backup_writer.h"
#include "tests/fixtures/ios_sample_backup.h"
#include "tests/fixtures/temp_folder.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tamsel {
namespace {

using testing::listTree;

// The run folders in the work folder, by name.
std::vector<std::string> runFolders(const fs::path& work) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(work, ec)) {
    if (e.path().filename().string().starts_with("run-")) names.push_back(e.path().filename());
  }
  return names;
}

// The command line scanning `backup` with TAMSEL_WORK_DIR set to `work`; its JSON goes into a
// pipe of one page that nobody reads, so once the scan has ended it waits there.
struct Child {
  pid_t pid = -1;
  int output = -1;  // the pipe's read end
  int capacity = 0;

  Child(const fs::path& backup, const fs::path& password, const fs::path& work,
        const fs::path& errors) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    output = fds[0];
    capacity = ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> args = {
        TAMSEL_CLI_PATH,   "-q",           "scan", "--json", "-", "--password-file",
        password.string(), backup.string()};
    std::vector<std::string> env = {"TAMSEL_WORK_DIR=" + work.string()};
    for (char** e = environ; *e != nullptr; ++e) {
      if (!std::string_view(*e).starts_with("TAMSEL_WORK_DIR=")) env.emplace_back(*e);
    }
    auto pointers = [](std::vector<std::string>& strings) {
      std::vector<char*> p;
      for (std::string& s : strings) p.push_back(s.data());
      p.push_back(nullptr);
      return p;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
  }
  ~Child() {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (output >= 0) ::close(output);
  }

  // Waits until `ready` holds; false (with the status in `status`) when the child ended first.
  template <class Ready>
  bool waitUntil(Ready ready, int* status) {
    while (!ready()) {
      if (::waitpid(pid, status, WNOHANG) == pid) {
        pid = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  bool outputFull() const {
    int queued = 0;
    return ::ioctl(output, FIONREAD, &queued) == 0 && queued >= capacity;
  }
};

TEST(CliSignals, RunFolderGoesWithTheProgram) {
  testing::TempFolder t;
  testing::SampleBackupOptions sample;
  sample.layout = testing::IosBackupWriter::Layout::subfolders;
  sample.index = testing::IosBackupWriter::Index::manifestDb;
  sample.version = "10.3.1";
  testing::writeSampleBackup(t.path() / "clear", sample);
  const fs::path password = t.path() / "password.txt";
  testing::writeWholeFile(password, testing::EncryptionOptions().password + "\n");

  const struct {
    int signal;
    bool whileDeriving;  // else once the decrypted copy is made and the scan has ended
    bool inLeftoverFolder;
  } cases[] = {
      {SIGTERM, true, false},
      {SIGINT, false, false},
      {SIGHUP, false, true},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(strsignal(c.signal));
    const fs::path work = t.path() / ("work" + std::to_string(++round));
    // A backup inside a run folder that an earlier run left: that folder is no run of this
    // program and stays.
    const fs::path backup = c.inLeftoverFolder ? work / "run-left" / "backup"
                                               : t.path() / ("backup" + std::to_string(round));
    testing::EncryptionOptions options;
    // Many rounds: the key is still being derived when the run folder appears.
    if (c.whileDeriving) options.dpIterations = 1000000;
    testing::encryptBackup(t.path() / "clear", backup, options);
    const std::set<std::string> before = listTree(backup);

    Child child(backup, password, work, t.path() / "stderr.txt");
    ASSERT_GT(child.pid, 0);
    ASSERT_GE(child.capacity, 4096);
    int status = 0;
    const size_t leftover = c.inLeftoverFolder ? 1 : 0;
    const bool reached =
        c.whileDeriving
            ? child.waitUntil([&] { return runFolders(work).size() > leftover; }, &status)
            : child.waitUntil([&] { return child.outputFull(); }, &status);
    ASSERT_TRUE(reached) << "ended before the signal: "
                         << testing::readWholeFile(t.path() / "stderr.txt");
    std::vector<std::string> runs = runFolders(work);
    ASSERT_EQ(runs.size(), leftover + 1);
    if (!c.whileDeriving) {
      // The decrypted copy is there until the signal.
      size_t copies = 0;
      for (const std::string& run : runs) {
        for (const auto& e : fs::directory_iterator(work / run)) {
          copies += e.path().filename().string().starts_with("clear-backup-") &&
                    fs::exists(e.path() / "Manifest.db");
        }
      }
      EXPECT_EQ(copies, 1u);
    }

    ASSERT_EQ(::kill(child.pid, c.signal), 0);
    ASSERT_EQ(::waitpid(child.pid, &status, 0), child.pid);
    child.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << "status " << status;
    EXPECT_EQ(runFolders(work), c.inLeftoverFolder ? std::vector<std::string>{"run-left"}
                                                   : std::vector<std::string>{});
    EXPECT_EQ(listTree(backup), before);
  }
}

}  // namespace
}  // namespace tamsel
