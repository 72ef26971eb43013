// The end-of-recovery dialog on its own (counts, failure lines, open folder and its fallback,
// copy path), the save panel's start folder and the check of a folder on the scanned device.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "gui/recovery_receipt_dialog.h"
#include "tests/fixtures/temp_folder.h"

namespace tamsel {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using Opener = std::function<bool(const QUrl&)>;
const QString kFolder = "/media/usb/Tamsel 2026-12-07";

RecoveryReport reportWithFailures() {
  RecoveryReport r;
  r.recoverPath = kFolder.toStdString();
  r.written = {r.recoverPath / "Image/a.jpg", r.recoverPath / "Image/b.jpg",
               r.recoverPath / "Image/c.jpg"};
  r.failures = {"found file d.jpg not written: /media/usb/Image/d.jpg: No space left on device",
                "found file e.jpg not written: no disk library to read the card"};
  r.reportHtml = r.recoverPath / "report.html";
  r.manifestCsv = r.recoverPath / "manifest.csv";
  return r;
}

TEST(GuiReceipt, ShowsTheCountsAndEveryFailureLine) {
  RecoveryReceiptDialog d(reportWithFailures(), nullptr);
  d.show();
  const QString summary = d.summary()->text();
  EXPECT_TRUE(summary.contains("3 files written, 2 failed.")) << summary.toStdString();
  EXPECT_TRUE(summary.contains(kFolder)) << summary.toStdString();
  EXPECT_TRUE(d.failures()->isVisible());
  EXPECT_TRUE(d.failures()->isReadOnly());
  EXPECT_EQ(d.failures()->toPlainText().toStdString(),
            reportWithFailures().failures[0] + "\n" + reportWithFailures().failures[1]);
  auto* files = d.findChild<QLabel*>("receiptFiles");
  ASSERT_NE(files, nullptr);
  EXPECT_TRUE(files->text().contains("report.html and manifest.csv"));
}

TEST(GuiReceipt, OpenFolderAndItsFallbackCopyPath) {
  // An opener that works, one that fails, none at all (counts as failing).
  for (const int opener : {1, 0, -1}) {
    std::optional<QUrl> asked;
    RecoveryReceiptDialog d(
        reportWithFailures(), opener < 0 ? Opener() : [&](const QUrl& u) {
          asked = u;
          return opener == 1;
        });
    d.show();
    d.openButton()->click();
    EXPECT_EQ(asked, opener < 0 ? std::nullopt : std::optional(QUrl::fromLocalFile(kFolder)));
    EXPECT_EQ(d.notice()->isVisible(), opener != 1) << opener;
    if (opener == 1) continue;
    EXPECT_TRUE(d.notice()->text().contains("No file manager could be opened"));
    EXPECT_TRUE(d.notice()->text().contains(kFolder));
    QApplication::clipboard()->clear();
    d.copyButton()->click();
    EXPECT_EQ(QApplication::clipboard()->text(), kFolder);
  }
}

TEST(GuiReceipt, WithoutFailuresTheListIsHidden) {
  RecoveryReport r = reportWithFailures();
  r.failures.clear();
  r.written.resize(1);
  RecoveryReceiptDialog d(r, nullptr);
  d.show();
  EXPECT_TRUE(d.summary()->text().contains("1 file written, 0 failed."));
  EXPECT_FALSE(d.failures()->isVisible());

  // A file written with unreadable parts counts as written, and says so.
  r.failures = {"found file a.jpg incomplete: 512 unreadable bytes written as zeros"};
  r.incomplete = 1;
  r.unreadableBytes = 512;
  RecoveryReceiptDialog partial(r, nullptr);
  const QString text = partial.summary()->text();
  EXPECT_TRUE(text.contains("1 file written, 0 failed.")) << text.toStdString();
  EXPECT_TRUE(text.contains("1 of them incomplete: 512 unreadable bytes")) << text.toStdString();
}

TEST(GuiSavePanel, StartsInDocumentsElseHome) {
  TempFolder t;
  const char* old = std::getenv("HOME");
  const std::string previous = old ? old : "";
  const fs::path home = t.path() / "home";
  fs::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(recoveryStartFolder(), QString::fromStdString(home.string()));  // no Documents
  fs::create_directories(home / "Documents");
  EXPECT_EQ(recoveryStartFolder(), QString::fromStdString((home / "Documents").string()));
  setenv("HOME", previous.c_str(), 1);
}

TEST(GuiSavePanel, AFolderOnTheScannedDeviceIsRecognised) {
  TempFolder t;
  const fs::path backup = t.path() / "backup";
  fs::create_directories(backup);
  testing::writeWholeFile(t.path() / "card.img", "image");
  struct Case {
    std::string folder, source;
    bool same;
  };
  std::vector<Case> cases = {
      {(t.path() / "out").string(), backup.string(), true},  // not made yet: its parent
      {(t.path() / "a/b/c").string(), (t.path() / "card.img").string(), true},
      {backup.string(), backup.string(), true},
      {(t.path() / "out").string(), "", false},
      {"", backup.string(), false},
      {(t.path() / "out").string(), (t.path() / "missing").string(), false},
  };
  // Another file system, when this machine has one at hand.
  struct stat tmpSt {
  }, shmSt{};
  if (::stat(t.path().c_str(), &tmpSt) == 0 && ::stat("/dev/shm", &shmSt) == 0 &&
      tmpSt.st_dev != shmSt.st_dev) {
    cases.push_back({"/dev/shm/tamsel-out", backup.string(), false});
  }
  for (const auto& c : cases) {
    EXPECT_EQ(onScannedDevice(c.folder, c.source), c.same) << c.folder << " / " << c.source;
  }
}

}  // namespace
}  // namespace tamsel
