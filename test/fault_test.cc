// Whatever single call fails during a restore, no file is lost, no installed file is left
// without its replacement, the run still ends with status 0, and a second run finishes the job.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/posix/fault.h"
#include "restore/entry.h"
#include "test/log_lines.h"
#include "test/posix_support.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

constexpr char kBackup[] = "a=n1 b/c=n2 b/d/e=n3 f=n4 .g=n5 h/i=n6 h/.j/k=n7 m/ missing/x=n8";
constexpr char kInstall[] = "a=o1 b/c=o2 b/d/ h/ keep=o9";
constexpr char kBackupRestored[] = ".g=n5 h/.j/k=n7 missing/x=n8";
constexpr char kInstallRestored[] = "a=n1 b/c=n2 b/d/e=n3 f=n4 h/i=n6 keep=o9";

// Where the backup lies relative to the installation.
enum class Volumes {
  kOne,
  kTwoFileSystems,  // The backup on another file system: files are copied across.
  kEveryDirectory,  // The layer treats each directory as a volume, so every file is copied.
  kUnopenable,      // No volume opens for a flush (no elevation), so each file is flushed.
};

struct FaultCase {
  const char* name;
  FaultPoint point;
  Volumes volumes;
  // Held through every walk of the faulted run, which asks for its replacement at the restart:
  // the path that copies it beside its destination, which the Linux build cannot queue.
  const char* held = nullptr;
};

// The cross-volume rows fail each call of the copy path in turn: the temporary file, the copy
// (before it starts and part way), the read-only attribute (of "f", whose owner may not write
// it), the flush, the identity check, the rename and the deletion.
const FaultCase kFaultCases[] = {
    {"Move", FaultPoint::kMove, Volumes::kOne},
    {"RemoveDirectory", FaultPoint::kRemoveDirectory, Volumes::kOne},
    {"FindNext", FaultPoint::kFindNext, Volumes::kOne},
    {"HeapAlloc", FaultPoint::kHeapAlloc, Volumes::kOne},
    {"MoveAcross", FaultPoint::kMove, Volumes::kTwoFileSystems},
    {"CopyAcross", FaultPoint::kCopy, Volumes::kTwoFileSystems},
    {"DeleteAcross", FaultPoint::kDeleteFile, Volumes::kTwoFileSystems},
    {"CopyFile", FaultPoint::kCopyFile, Volumes::kEveryDirectory},
    {"CopyWrite", FaultPoint::kCopy, Volumes::kEveryDirectory},
    {"SetAttributes", FaultPoint::kSetAttributes, Volumes::kEveryDirectory},
    {"CreateFile", FaultPoint::kCreateFile, Volumes::kEveryDirectory},
    {"Flush", FaultPoint::kFlush, Volumes::kEveryDirectory},
    {"FileInformation", FaultPoint::kFileInformation, Volumes::kEveryDirectory},
    {"RenameOver", FaultPoint::kMove, Volumes::kEveryDirectory},
    {"DeleteSource", FaultPoint::kDeleteFile, Volumes::kEveryDirectory},
    // Flushing: each volume opened or flushed, then each file flushed and written through.
    {"OpenVolume", FaultPoint::kOpenVolume, Volumes::kOne},
    {"FlushVolume", FaultPoint::kFlush, Volumes::kOne},
    {"FlushEachFile", FaultPoint::kFlush, Volumes::kUnopenable},
    {"OpenEachFile", FaultPoint::kCreateFile, Volumes::kUnopenable},
    {"QueueTemporary", FaultPoint::kCreateFile, Volumes::kOne, "b/c"},
    {"QueueCopy", FaultPoint::kCopyFile, Volumes::kOne, "b/c"},
    {"QueueFlush", FaultPoint::kFlush, Volumes::kUnopenable, "b/c"},
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}

class FaultTable : public RegisteredInTempRoot, public ::testing::WithParamInterface<FaultCase> {
 protected:
  void TearDown() override {
    FailNthCall(FaultPoint::kCount, 0);
    SeparateDirectoryVolumes(false);
    OpenNoVolumes(false);
    support::ChangeDirectory(root_);
    if (!work_.empty() && work_ != root_) support::RemoveTree(work_);
    RegisteredInTempRoot::TearDown();
  }
  // Lays the trees out afresh and runs the program's entry with the `n`-th call at the case's
  // point failing (none for 0). Returns how many calls were made at that point.
  int Run(int n) {
    support::ChangeDirectory(root_);
    support::RemoveTree(support::Join(work_, "backup"));
    support::RemoveTree("install");
    MakeTree(support::Join(work_, "backup"), kBackup);
    MakeTree("install", kInstall);
    EXPECT_EQ(chmod(support::Join(work_, "backup/f").c_str(), 0444), 0);
    support::ChangeDirectory(work_);
    FailNthCall(GetParam().point, n);
    const char* held = GetParam().held;
    if (held != nullptr) HoldFile(held, ERROR_ACCESS_DENIED, -1);
    char restart[] = "/RESTARTREPLACE";
    EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, held != nullptr ? restart : nullptr, 0), 0);
    HoldFile("", 0, 0);
    const int calls = FaultCalls(GetParam().point);
    FailNthCall(GetParam().point, 0);
    return calls;
  }
  std::string backup() { return ReadTree(support::Join(work_, "backup")); }
  std::string install() { return ReadTree(support::Join(root_, "install")); }
  std::string work_;
};

TEST_P(FaultTable, NothingLostAndSecondRunFinishes) {
  work_ = root_;
  const bool across = GetParam().volumes == Volumes::kTwoFileSystems ||
                      GetParam().volumes == Volumes::kEveryDirectory;
  SeparateDirectoryVolumes(GetParam().volumes == Volumes::kEveryDirectory);
  OpenNoVolumes(GetParam().volumes == Volumes::kUnopenable);
  if (GetParam().volumes == Volumes::kTwoFileSystems) {
    const std::string other = support::OtherFileSystem(root_);
    if (other.empty()) GTEST_SKIP() << "no second writable file system next to " << root_;
    work_ = other + "/restore-fault-XXXXXX";
    ASSERT_NE(mkdtemp(work_.data()), nullptr);
  }
  support::RegisterInstallPath(support::Join(root_, "install"));

  const int calls = Run(0);
  ASSERT_GT(calls, 0);
  if (GetParam().held != nullptr) {
    ASSERT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  }
  ASSERT_EQ(backup(), kBackupRestored);
  ASSERT_EQ(install(), kInstallRestored);

  for (int n = 1; n <= calls; ++n) {
    SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls) + " failed");
    Run(n);
    EXPECT_EQ(support::LostFiles(kBackup, kInstall, backup(), install(), across), "");
    EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(backup(), kBackupRestored);
    EXPECT_EQ(install(), kInstallRestored);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTable, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A file held by another process for a while: the run walks again after a wait, at most twice,
// and only for the errors of a held file.
struct RetryCase {
  const char* name;
  DWORD error;  // The error the held file's moves fail with.
  int moves;    // How many of its moves fail; -1 for every one.
  int walks;    // Walks that tried the held file.
  int waits;
  const char* backup_after;
  const char* install_after;
  // The held file's name is an installed directory, and nothing holds it: its moves fail with
  // the error of a held file all the same.
  bool clash = false;
  DWORD status = 1603;  // What /EXITCODE returns: a file with no directory to go to stays.
  const char* backup = "a=n1 b/c=n2 f=n4 missing/x=n8";
  // The last walk queues the held file for the restart, which the Linux build refuses.
  bool at_restart = false;
};

constexpr char kRetryInstall[] = "a=o1 b/c=o2";

const RetryCase kRetryCases[] = {
    {"SharingViolationOnFirstWalk", ERROR_SHARING_VIOLATION, 1, 2, 1, "missing/x=n8",
     "a=n1 b/c=n2 f=n4"},
    {"AccessDeniedOnFirstWalk", ERROR_ACCESS_DENIED, 1, 2, 1, "missing/x=n8", "a=n1 b/c=n2 f=n4"},
    {"LockViolationOnTwoWalks", ERROR_LOCK_VIOLATION, 2, 3, 2, "missing/x=n8", "a=n1 b/c=n2 f=n4"},
    {"HeldThroughout", ERROR_SHARING_VIOLATION, -1, 3, 2, "b/c=n2 missing/x=n8",
     "a=n1 b/c=o2 f=n4"},
    {"OtherErrorIsNotRetried", ERROR_WRITE_FAULT, -1, 1, 0, "b/c=n2 missing/x=n8",
     "a=n1 b/c=o2 f=n4"},
    {"MissingDirectoryAloneIsNotRetried", ERROR_SHARING_VIOLATION, 0, 1, 0, "missing/x=n8",
     "a=n1 b/c=n2 f=n4"},
    {"NameClashIsNotRetried", ERROR_ACCESS_DENIED, -1, 1, 0, "b/c=n2 missing/x=n8",
     "a=n1 b/c/ f=n4", true},
    {"HeldOnceThenInstalled", ERROR_SHARING_VIOLATION, 1, 2, 1, "-", "a=n1 b/c=n2 f=n4", false, 0,
     "a=n1 b/c=n2 f=n4"},
    {"HeldThroughoutTellsHeld", ERROR_SHARING_VIOLATION, -1, 3, 2, "b/c=n2", "a=n1 b/c=o2 f=n4",
     false, 1618, "a=n1 b/c=n2 f=n4"},
    {"HeldAtRestartIsNotQueued", ERROR_ACCESS_DENIED, -1, 3, 2, "b/c=n2", "a=n1 b/c=o2 f=n4", false,
     1618, "a=n1 b/c=n2 f=n4", true},
};

void PrintTo(const RetryCase& c, std::ostream* out) {
  *out << c.name;
}

class RetryTable : public RegisteredInTempRoot, public ::testing::WithParamInterface<RetryCase> {
 protected:
  void TearDown() override {
    HoldFile("", 0, 0);
    RegisteredInTempRoot::TearDown();
  }
};

// The log records each walk, why the next one began, and the held file's error on each walk
// that could not move it.
TEST_P(RetryTable, WalksAgainOnlyForHeldFiles) {
  const RetryCase& c = GetParam();
  const std::string install = support::Join(root_, "install");
  MakeTree("backup", c.backup);
  MakeTree("install", c.clash ? "a=o1 b/c/" : kRetryInstall);
  support::RegisterInstallPath(install);
  FailNthCall(FaultPoint::kCount, 0);
  HoldFile("b/c", c.error, c.clash ? 0 : c.moves);
  std::string command_line =
      c.at_restart ? "/LOG=log.txt /EXITCODE /RestartReplace" : "/LOG=log.txt /exitcode";
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, command_line.data(), 0), c.status);
  EXPECT_EQ(HeldFileMoves(), c.walks);
  EXPECT_EQ(FaultCalls(FaultPoint::kSleep), c.waits);
  EXPECT_EQ(ReadTree("backup"), c.backup_after);
  EXPECT_EQ(ReadTree("install"), c.install_after);

  std::vector<std::string> walks, expected_walks, held, expected_held;
  for (const std::string& line : logtest::Lines(logtest::ReadText("log.txt"))) {
    if (line.rfind("walk ", 0) == 0 || line.rfind("waiting ", 0) == 0) walks.push_back(line);
    if (line.find("/b/c -> ") != std::string::npos) held.push_back(logtest::WithoutMessage(line));
  }
  const char* const waits[] = {"0.5", "2.0"};
  for (int walk = 1; walk <= c.walks; ++walk) {
    if (walk > 1) {
      expected_walks.push_back(std::string("waiting ") + waits[walk - 2] +
                               " s to walk again, since a file was held by another process");
    }
    expected_walks.push_back("walk " + std::to_string(walk) + ": backup -> " + install);
    const bool failed = c.moves < 0 || walk <= c.moves;
    if (failed && c.at_restart && walk == 3) {
      expected_held.push_back(
          "not queued to replace at the next restart: " + support::Join("backup", "b/c") + " -> " +
          support::Join(install, "b/c") + ": error 87");
    }
    expected_held.push_back((failed ? "not moved: " : "moved: ") + support::Join("backup", "b/c") +
                            " -> " + support::Join(install, "b/c") +
                            (failed ? ": error " + std::to_string(c.error) : ""));
  }
  EXPECT_EQ(walks, expected_walks);
  EXPECT_EQ(held, expected_held);
}

INSTANTIATE_TEST_SUITE_P(Rows, RetryTable, ::testing::ValuesIn(kRetryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
