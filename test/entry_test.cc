// The program as its users start it: a process of its own in the directory that holds "backup".
#include <gtest/gtest.h>

#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::Join;
using support::MakeTree;
using support::ReadTree;

class Program : public RegisteredInTempRoot {
 protected:
  void SetUp() override {
    RegisteredInTempRoot::SetUp();
    MakeTree("backup", "app.exe=new lib/a.dll=new lib/new.dll=1 .hidden=h");
    MakeTree("install", "app.exe=old lib/a.dll=old unins000.exe=u");
  }
  void ExpectRestored() {
    EXPECT_EQ(ReadTree("backup"), ".hidden=h");
    EXPECT_EQ(ReadTree("install"), "app.exe=new lib/a.dll=new lib/new.dll=1 unins000.exe=u");
  }
  void ExpectUntouched() {
    EXPECT_EQ(ReadTree("backup"), ".hidden=h app.exe=new lib/a.dll=new lib/new.dll=1");
    EXPECT_EQ(ReadTree("install"), "app.exe=old lib/a.dll=old unins000.exe=u");
  }
};

TEST_F(Program, RestoresSilentlyAndIgnoresArguments) {
  support::RegisterInstallPath(Join(root_, "install"));
  const support::Run run = support::RunProgram(root_, "/verysilent --help x");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, "");
  ExpectRestored();
}

// The installer records the path as the user typed it: a trailing separator doubles at each join,
// which the file system accepts.
TEST_F(Program, InstallPathWithTrailingSeparator) {
  support::RegisterInstallPath(Join(root_, "install/"));
  EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
  ExpectRestored();
}

TEST_F(Program, UnregisteredProductChangesNothing) {
  support::Unregister();
  const support::Run run = support::RunProgram(root_);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, "");
  ExpectUntouched();
}

// "backup" is looked for in the current directory only.
TEST_F(Program, NoBackupInCurrentDirectory) {
  support::RegisterInstallPath(Join(root_, "install"));
  MakeTree("elsewhere", "");
  EXPECT_EQ(support::RunProgram(Join(root_, "elsewhere")).exit_status, 0);
  ExpectUntouched();
}

}  // namespace
