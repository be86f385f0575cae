// The program as its users start it: a process of its own in the directory that holds "backup".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/entry.h"
#include "test/names.h"
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

// Every name at once, into an installation directory whose own path is in other scripts, as its
// installer registered it (on Windows a REG_SZ in UTF-16).
class ProgramNames : public RegisteredInTempRoot {};

TEST_F(ProgramNames, RestoresEveryName) {
  std::vector<std::string> all;
  for (const names::Name& name : names::kNames) all.push_back(name.text);
  const names::Trees trees = names::LayOut(all);
  const std::string install = Join(root_, "Программы/日本 😀 cafe\xcc\x81");
  MakeTree("backup", trees.backup);
  MakeTree(install, trees.install);
  support::RegisterInstallPath(install);
  EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
  EXPECT_EQ(ReadTree("backup"), support::Describe(trees.backup_after));
  EXPECT_EQ(ReadTree(install), support::Describe(trees.install_after));
}

// The installation path is read into 260 bytes, terminator included, and in UTF-8 a character of
// another script takes two to four: a path that fits is used whole, and one that does not moves
// nothing, never into the directory that the same path cut short would name.
struct PathLimitCase {
  const char* name;
  const char* character;  // The path ends in as many of these as fit.
  std::size_t bytes;      // The whole path's, without its terminator.
  bool moves;
};

const PathLimitCase kPathLimitCases[] = {
    {"Fits", "日", 259, true},
    {"FitsWithSurrogatePairs", "😀", 259, true},
    {"NoRoomForTerminator", "日", 260, false},
    {"CharacterAcrossTheEnd", "日", 261, false},
    {"SurrogatePairAcrossTheEnd", "😀", 262, false},
    {"FarTooLong", "日", 280, false},
};

void PrintTo(const PathLimitCase& c, std::ostream* out) {
  *out << c.name;
}

class PathLimitTable : public RegisteredInTempRoot,
                       public ::testing::WithParamInterface<PathLimitCase> {};

TEST_P(PathLimitTable, MovesOnlyIntoTheWholePath) {
  const PathLimitCase& c = GetParam();
  const std::string parent = Join(root_, "");
  ASSERT_LT(parent.size() + 8, c.bytes) << "temporary directory too long: " << root_;
  const std::string install = parent + names::FillBytes(c.bytes - parent.size(), c.character);
  // The longest part of the path that would fit, cut where a character starts.
  std::size_t cut = std::min<std::size_t>(install.size(), 259);
  while ((install[cut] & 0xC0) == 0x80) --cut;
  const std::string shortened = install.substr(0, cut);
  MakeTree("backup", "f=new");
  MakeTree(install, "f=old");
  if (shortened != install) MakeTree(shortened, "f=old");
  support::RegisterInstallPath(install);
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadTree("backup"), c.moves ? "-" : "f=new");
  EXPECT_EQ(ReadTree(install), c.moves ? "f=new" : "f=old");
  EXPECT_EQ(ReadTree(shortened), shortened == install ? ReadTree(install) : "f=old");
}

INSTANTIATE_TEST_SUITE_P(Rows, PathLimitTable, ::testing::ValuesIn(kPathLimitCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
