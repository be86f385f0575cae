#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/transfer.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

struct TransferCase {
  const char* name;
  const char* backup;   // nullptr: no such directory.
  const char* install;  // nullptr: no such directory.
  const char* backup_after;
  const char* install_after;
};

const TransferCase kTransferCases[] = {
    {"ReplacesSameNamedFile", "a=new", "a=old b=keep", "-", "a=new b=keep"},
    {"MovesNewFile", "bin/x=1", "bin/", "-", "bin/x=1"},
    {"MergesNestedDirectories", "bin/a=1 bin/lib/b=2 c=3", "bin/a=0 bin/lib/ bin/old=9 c=0", "-",
     "bin/a=1 bin/lib/b=2 bin/old=9 c=3"},
    {"KeepsDotNamesAndTheirParents", ".git/h=1 .p=2 sub/.keep=3 sub/f=4 sub/d/.x/y=5 sub/d/z=6",
     "sub/d/", ".git/h=1 .p=2 sub/.keep=3 sub/d/.x/y=5", "sub/d/z=6 sub/f=4"},
    {"RemovesEmptyDirectoriesCreatesNone", "e/ e/f/ g/", "", "-", ""},
    {"NeverCreatesMissingDirectory", "bin/x=1 bin/empty/ top=2", "", "bin/x=1", "top=2"},
    {"FileDoesNotReplaceDirectory", "a=1", "a/b=2", "a=1", "a/b=2"},
    {"DirectoryDoesNotMergeIntoFile", "a/b=1", "a=2", "a/b=1", "a=2"},
    {"EmptyBackupIsRemoved", "", "x=1", "-", "x=1"},
    {"MissingBackupChangesNothing", nullptr, "x=1", "-", "x=1"},
    {"MissingInstallDirectoryKeepsFiles", "a=1 d/b=2 e/", nullptr, "a=1 d/b=2", "-"},
};

void PrintTo(const TransferCase& c, std::ostream* out) {
  *out << c.name;
}

class TransferTable : public InTempRoot, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferTable, LeavesExpectedTrees) {
  const TransferCase& c = GetParam();
  if (c.backup) MakeTree("backup", c.backup);
  if (c.install) MakeTree("install", c.install);
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), c.backup_after);
  EXPECT_EQ(ReadTree("install"), c.install_after);
}

INSTANTIATE_TEST_SUITE_P(Rows, TransferTable, ::testing::ValuesIn(kTransferCases),
                         [](const auto& info) { return std::string(info.param.name); });

class Transfer : public InTempRoot {};

TEST_F(Transfer, SecondRunFinishesPartialRestore) {
  MakeTree("backup", "bin/x=1 y=2");
  MakeTree("install", "");
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), "bin/x=1");
  MakeTree("install", "bin/");
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree("install"), "bin/x=1 y=2");
}

// The search pattern is the source path, a separator, "*" and a terminator in MAX_PATH (260)
// bytes: a 257-character source is walked, a 258-character one is left untouched.
TEST_F(Transfer, SearchPatternLimit) {
  const std::string fits(257 - std::string("backup/").size(), 'f');
  const std::string too_long(258 - std::string("backup/").size(), 'l');
  MakeTree("backup", fits + "/a=1 " + too_long + "/b=2");
  MakeTree("i", fits + "/ " + too_long + "/");
  MoveTree("backup", "i");
  EXPECT_EQ(ReadTree("backup"), too_long + "/b=2");
  EXPECT_EQ(ReadTree("i"), fits + "/a=1 " + too_long + "/");
}

}  // namespace

namespace {

// Names pass through untouched: spaces, "%" (never read as a format), bytes outside ASCII (on
// Windows, characters of the ANSI code page).
TEST_F(Transfer, UnusualNames) {
  const std::vector<std::string> names = {"with space",        "100%",  "%s%n%x", "caf\xe9",
                                          "\xc3\xa9t\xc3\xa9", "a.b.c", "-"};
  std::vector<std::string> backup, install, expected;
  for (const std::string& name : names) {
    backup.push_back(name + "=" + name);
    backup.push_back("dir/" + name + "/x=" + name);
    install.push_back("dir/" + name + "/");
    expected.push_back(name + "=" + name);
    expected.push_back("dir/" + name + "/x=" + name);
  }
  MakeTree("backup", backup);
  MakeTree("install", install);
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree("install"), support::Describe(expected));
}

}  // namespace
