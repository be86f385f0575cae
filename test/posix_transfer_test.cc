// Transfers that only POSIX file systems show here: links, and moves between file systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "restore/transfer.h"
#include "test/posix_support.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

class PosixTransfer : public InTempRoot {};

// A link to a directory is walked: the files it reaches move, dot names stay. The link itself
// stays, since rmdir refuses a link (Windows' RemoveDirectoryA would remove the link instead).
TEST_F(PosixTransfer, LinkToDirectoryIsWalked) {
  MakeTree("outside", "x=1 .d=2");
  MakeTree("backup", "lnk->../outside");
  MakeTree("install", "lnk/x=0");
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("outside"), ".d=2");
  EXPECT_EQ(ReadTree("backup"), "lnk->../outside");
  EXPECT_EQ(ReadTree("install"), "lnk/x=1");
}

// The longest names POSIX allows (255 bytes) fit the enumeration's 260-byte name field. (The
// directory is as long as a walked source may be: "backup/" and 250 bytes.)
TEST_F(PosixTransfer, LongestNames) {
  const std::string file(255, 'f'), directory(250, 'd');
  MakeTree("backup", file + "=1 " + directory + "/" + file + "=2");
  MakeTree("install", directory + "/");
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree("install"), directory + "/" + file + "=2 " + file + "=1");
}

// Across file systems a file is copied to a temporary file beside its destination and renamed
// over it: the content, mode and times arrive, the source goes, and nothing temporary is left.
TEST_F(PosixTransfer, MovesAcrossFileSystems) {
  const std::string other = support::OtherFileSystem(root_);
  if (other.empty()) GTEST_SKIP() << "no second writable file system next to " << root_;
  std::string backup = other + "/restore-cross-XXXXXX";
  ASSERT_NE(mkdtemp(backup.data()), nullptr);
  MakeTree(backup, "a=new bin/b=2 missing/c=3");
  ASSERT_EQ(chmod(support::Join(backup, "a").c_str(), 0640), 0);
  const timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, support::Join(backup, "a").c_str(), times, 0), 0);
  MakeTree("install", "a=old bin/");

  MoveTree(backup.c_str(), "install");

  EXPECT_EQ(ReadTree(backup), "missing/c=3");
  EXPECT_EQ(ReadTree("install"), "a=new bin/b=2");
  struct stat moved;
  ASSERT_EQ(stat("install/a", &moved), 0);
  EXPECT_EQ(moved.st_mode & 07777, 0640u);
  EXPECT_EQ(moved.st_mtim.tv_sec, 1234567890);
  support::RemoveTree(backup);
}

}  // namespace
