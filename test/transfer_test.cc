#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/log.h"
#include "restore/transfer.h"
#include "test/log_lines.h"
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
  // What the log says, as logtest::Expected reads it: each file moved or not (with the error
  // that decided it), each dot-named member kept, each directory removed or left.
  const char* logged;
};

const TransferCase kTransferCases[] = {
    {"ReplacesSameNamedFile", "a=new", "a=old b=keep", "-", "a=new b=keep", "moved:a removed:"},
    {"MovesNewFile", "bin/x=1", "bin/", "-", "bin/x=1", "moved:bin/x removed:bin removed:"},
    {"MergesNestedDirectories", "bin/a=1 bin/lib/b=2 c=3", "bin/a=0 bin/lib/ bin/old=9 c=0", "-",
     "bin/a=1 bin/lib/b=2 bin/old=9 c=3",
     "moved:bin/a moved:bin/lib/b moved:c removed:bin/lib removed:bin removed:"},
    {"KeepsDotNamesAndTheirParents", ".git/h=1 .p=2 sub/.keep=3 sub/f=4 sub/d/.x/y=5 sub/d/z=6",
     "sub/d/", ".git/h=1 .p=2 sub/.keep=3 sub/d/.x/y=5", "sub/d/z=6 sub/f=4",
     "kept:.git kept:.p kept:sub/.keep kept:sub/d/.x moved:sub/f moved:sub/d/z left:sub/d:145 "
     "left:sub:145 left::145"},
    {"RemovesEmptyDirectoriesCreatesNone", "e/ e/f/ g/", "", "-", "",
     "removed:e/f removed:e removed:g removed:"},
    // Windows reports a missing directory on the way to a file as a path not found (3).
    {"NeverCreatesMissingDirectory", "bin/x=1 bin/empty/ top=2", "", "bin/x=1", "top=2",
     "not-moved:bin/x:3 removed:bin/empty left:bin:145 moved:top left::145"},
    // U+FFFD stands in for a name the system cannot spell: the path would name another file.
    {"ReplacementCharacterNameStays", "caf\xef\xbf\xbd.txt=1 b=2", "caf\xc3\xa8.txt=0",
     "caf\xef\xbf\xbd.txt=1", "b=2 caf\xc3\xa8.txt=0",
     "kept-fffd:caf\xef\xbf\xbd.txt moved:b left::145"},
    {"FileDoesNotReplaceDirectory", "a=1", "a/b=2", "a=1", "a/b=2", "not-moved:a:5 left::145"},
    {"DirectoryDoesNotMergeIntoFile", "a/b=1", "a=2", "a/b=1", "a=2",
     "not-moved:a/b:3 left:a:145 left::145"},
    {"EmptyBackupIsRemoved", "", "x=1", "-", "x=1", "removed:"},
    {"MissingBackupChangesNothing", nullptr, "x=1", "-", "x=1", "not-listed::3"},
    {"MissingInstallDirectoryKeepsFiles", "a=1 d/b=2 e/", nullptr, "a=1 d/b=2", "-",
     "not-moved:a:3 not-moved:d/b:3 left:d:145 removed:e left::145"},
};

void PrintTo(const TransferCase& c, std::ostream* out) {
  *out << c.name;
}

class TransferTable : public InTempRoot, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferTable, LeavesExpectedTreesAndLog) {
  const TransferCase& c = GetParam();
  if (c.backup) MakeTree("backup", c.backup);
  if (c.install) MakeTree("install", c.install);
  {
    Log log;
    ASSERT_TRUE(log.Open("log.txt", ""));
    // No file is held here, so no row is worth another walk.
    EXPECT_FALSE(MoveTree("backup", "install", &log).held);
  }
  EXPECT_EQ(ReadTree("backup"), c.backup_after);
  EXPECT_EQ(ReadTree("install"), c.install_after);
  EXPECT_EQ(logtest::Events(logtest::Lines(logtest::ReadText("log.txt"))),
            logtest::Expected(c.logged));
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
    {
      Log log;
      ASSERT_TRUE(log.Open("log.txt", ""));
      MoveTree("backup", "i", &log);
    }
    EXPECT_EQ(ReadTree("backup"), too_long + "/b=2");
    EXPECT_EQ(ReadTree("i"), support::Describe({fits + "/a=1", too_long + "/"}));
    EXPECT_EQ(logtest::Events(logtest::Lines(logtest::ReadText("log.txt"))),
              logtest::Expected(
                  "moved:" + fits + "/a removed:" + fits + " no-room:" + too_long + " left::145",
                  "backup", "i"));
    support::RemoveTree("backup");
    support::RemoveTree("i");
    support::RemoveTree("log.txt");
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
