#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/transfer.h"
#include "test/names.h"
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
// bytes: a 257-byte source is walked, a 258-byte one is left untouched. Bytes, not characters:
// in UTF-8 a CJK character takes three, so fewer of them fit. (On Windows only the CJK row: 257
// ASCII characters below the temporary directory lie past MAX_PATH UTF-16 units from the drive's
// root, where neither Windows' A functions nor MinGW's std::filesystem reach.)
#ifdef _WIN32
constexpr const char* kPatternCharacters[] = {"日"};
#else
constexpr const char* kPatternCharacters[] = {"f", "日"};
#endif

TEST_F(Transfer, SearchPatternLimit) {
  for (const char* character : kPatternCharacters) {
    SCOPED_TRACE(character);
    const std::size_t room = 257 - std::string("backup/").size();
    const std::string fits = names::FillBytes(room, character);
    const std::string too_long = names::FillBytes(room + 1, character);
    MakeTree("backup", fits + "/a=1 " + too_long + "/b=2");
    MakeTree("i", fits + "/ " + too_long + "/");
    MoveTree("backup", "i");
    EXPECT_EQ(ReadTree("backup"), too_long + "/b=2");
    EXPECT_EQ(ReadTree("i"), support::Describe({fits + "/a=1", too_long + "/"}));
    support::RemoveTree("backup");
    support::RemoveTree("i");
  }
}

// Every name arrives unchanged: each file is restored over the installed one, which keeps
// nothing of its old content, and dot names stay.
class NamesTable : public InTempRoot, public ::testing::WithParamInterface<names::Name> {};

TEST_P(NamesTable, RestoredAndDotNamesKept) {
  const names::Trees trees = names::LayOut({GetParam().text});
  MakeTree("backup", trees.backup);
  MakeTree("install", trees.install);
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), support::Describe(trees.backup_after));
  EXPECT_EQ(ReadTree("install"), support::Describe(trees.install_after));
}

INSTANTIATE_TEST_SUITE_P(Rows, NamesTable, ::testing::ValuesIn(names::kNames),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
