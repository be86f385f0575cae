// Transfers whose outcome depends on Windows' own rules for files in use and read-only files.
#include <gtest/gtest.h>
#include <windows.h>

#include "restore/log.h"
#include "restore/transfer.h"
#include "test/log_lines.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

class WindowsTransfer : public InTempRoot {};

// A file open without delete sharing, as a running program's files are, can be neither
// replaced nor moved. Whichever side is in use, the installed file must stay intact and its
// replacement stay in the backup for the next run. (Deleting the installed file first, then
// moving, loses it whenever the backup's file is the one in use.)
// The log names the error of the side in use: replacing a held file is refused (5), moving one
// is a sharing violation (32).
TEST_F(WindowsTransfer, FileInUseKeepsInstalledFile) {
  for (const auto& [in_use_path, error] :
       {std::pair{"install\\a", "5"}, std::pair{"backup\\a", "32"}}) {
    SCOPED_TRACE(in_use_path);
    MakeTree("backup", "a=new b=new");
    MakeTree("install", "a=old b=old");
    HANDLE in_use =
        CreateFileA(in_use_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(in_use, INVALID_HANDLE_VALUE);
    {
      Log log;
      ASSERT_TRUE(log.Open("log.txt", ""));
      MoveTree("backup", "install", &log);
    }
    CloseHandle(in_use);
    EXPECT_EQ(ReadTree("backup"), "a=new");
    EXPECT_EQ(ReadTree("install"), "a=old b=new");
    EXPECT_EQ(logtest::Events(logtest::Lines(logtest::ReadText("log.txt"))),
              logtest::Expected(std::string("not-moved:a:") + error + " moved:b left::145"));
    DeleteFileA("log.txt");

    MoveTree("backup", "install");
    EXPECT_EQ(ReadTree("backup"), "-");
    EXPECT_EQ(ReadTree("install"), "a=new b=new");
  }
}

// Windows refuses to replace a read-only file; Wine 8 replaces it. Either way no file may be
// lost: the file is either replaced and gone from the backup, or kept with its replacement
// still in the backup.
TEST_F(WindowsTransfer, ReadOnlyInstalledFileIsNeverLost) {
  MakeTree("backup", "a=new");
  MakeTree("install", "a=old");
  ASSERT_TRUE(SetFileAttributesA("install\\a", FILE_ATTRIBUTE_READONLY));
  MoveTree("backup", "install");
  const std::string backup = ReadTree("backup"), install = ReadTree("install");
  EXPECT_TRUE((backup == "-" && install == "a=new") || (backup == "a=new" && install == "a=old"))
      << "backup: " << backup << ", install: " << install;
}

// Hidden and system attributes do not matter: only a leading dot keeps a member in place.
TEST_F(WindowsTransfer, AttributesOtherThanDirectoryIgnored) {
  MakeTree("backup", "h=1 s/f=2");
  MakeTree("install", "s/");
  ASSERT_TRUE(SetFileAttributesA("backup\\h", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA("backup\\s", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree("install"), "h=1 s/f=2");
}

}  // namespace
