// Whatever single call fails during a restore, no file is lost, no installed file is left
// without its replacement, the run still ends with status 0, and a second run finishes the job.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "platform/posix/fault.h"
#include "restore/entry.h"
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

struct FaultCase {
  const char* name;
  FaultPoint point;
  bool across;  // The backup lies on another file system, so files are copied.
};

const FaultCase kFaultCases[] = {
    {"Move", FaultPoint::kMove, false},
    {"RemoveDirectory", FaultPoint::kRemoveDirectory, false},
    {"FindNext", FaultPoint::kFindNext, false},
    {"HeapAlloc", FaultPoint::kHeapAlloc, false},
    {"MoveAcross", FaultPoint::kMove, true},
    {"CopyAcross", FaultPoint::kCopy, true},
};

void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}

class FaultTable : public RegisteredInTempRoot, public ::testing::WithParamInterface<FaultCase> {
 protected:
  void TearDown() override {
    FailNthCall(FaultPoint::kCount, 0);
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
    support::ChangeDirectory(work_);
    FailNthCall(GetParam().point, n);
    EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
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
  if (GetParam().across) {
    const std::string other = support::OtherFileSystem(root_);
    if (other.empty()) GTEST_SKIP() << "no second writable file system next to " << root_;
    work_ = other + "/restore-fault-XXXXXX";
    ASSERT_NE(mkdtemp(work_.data()), nullptr);
  }
  support::RegisterInstallPath(support::Join(root_, "install"));

  const int calls = Run(0);
  ASSERT_GT(calls, 0);
  ASSERT_EQ(backup(), kBackupRestored);
  ASSERT_EQ(install(), kInstallRestored);

  for (int n = 1; n <= calls; ++n) {
    SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(calls) + " failed");
    Run(n);
    EXPECT_EQ(support::LostFiles(kBackup, kInstall, backup(), install()), "");
    EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(backup(), kBackupRestored);
    EXPECT_EQ(install(), kInstallRestored);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultTable, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
