// Transfers that only POSIX file systems show here: links, and moves between file systems.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/posix/fault.h"
#include "restore/entry.h"
#include "restore/transfer.h"
#include "test/posix_support.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

class PosixTransfer : public InTempRoot {};

// A link to a directory is walked: the files it reaches move, dot names stay. The link stays, and
// so does every directory it leads to, emptied or empty from the start: they are not the backup's
// to remove.
TEST_F(PosixTransfer, LinkToDirectoryIsWalked) {
  MakeTree("outside", "x=1 .d=2 empty/ emptied/y=2");
  MakeTree("backup", "lnk->../outside");
  MakeTree("install", "lnk/x=0 lnk/emptied/");
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("outside"), ".d=2 emptied/ empty/");
  EXPECT_EQ(ReadTree("backup"), "lnk->../outside");
  EXPECT_EQ(ReadTree("install"), "lnk/emptied/y=2 lnk/x=1");
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

// Root's power to write any file set aside for one scope, so that a file's mode binds the
// program as it binds every other user; restored when the scope ends.
class WithoutOverride {
 public:
  WithoutOverride() : set_aside_(Set(false)) {}
  ~WithoutOverride() {
    if (set_aside_) Set(true);
  }
  bool set_aside() const { return set_aside_; }

 private:
  static bool Set(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    constexpr unsigned kOverride = 1u << CAP_DAC_OVERRIDE;
    data[0].effective = on ? data[0].effective | kOverride : data[0].effective & ~kOverride;
    return syscall(SYS_capset, &header, data) == 0;
  }
  bool set_aside_;
};

// A file its owner may not write (mode 0444) moves across volumes as it does on one, and keeps
// its mode: the copy beside the destination is writable only while it is flushed.
TEST_F(PosixTransfer, ReadOnlyFileAcrossVolumes) {
  MakeTree("backup", "a=new d/b=new");
  MakeTree("install", "a=old d/");
  ASSERT_EQ(chmod("backup/a", 0444), 0);
  ASSERT_EQ(chmod("backup/d/b", 0555), 0);
  {
    const WithoutOverride bound;
    ASSERT_TRUE(bound.set_aside());
    SeparateDirectoryVolumes(true);
    MoveTree("backup", "install");
    SeparateDirectoryVolumes(false);
  }
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree("install"), "a=new d/b=new");
  struct stat a, b;
  ASSERT_EQ(stat("install/a", &a), 0);
  ASSERT_EQ(stat("install/d/b", &b), 0);
  EXPECT_EQ(a.st_mode & 07777, 0444u);
  EXPECT_EQ(b.st_mode & 07777, 0555u);
}

// A file system mounted for one test (root may mount; elsewhere the test is skipped), unmounted
// when it ends.
class Mount {
 public:
  // Mounts `source` at `target` with `type` and `options`, or a bind mount when `type` is null.
  Mount(const std::string& source, const std::string& target, const char* type, const char* options)
      : target_(target) {
    mounted_ = mount(source.c_str(), target.c_str(), type, type ? 0 : MS_BIND, options) == 0;
    if (!mounted_) error_ = std::strerror(errno);
  }
  ~Mount() {
    if (mounted_) umount2(target_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::string target_;
  bool mounted_ = false;
  std::string error_;
};

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The installation on a volume too small for the new file: the copy fails part way, and the
// installed file stays byte for byte as it was, with no temporary file left beside it and the
// backup's file still in the backup.
TEST_F(PosixTransfer, FullDestinationVolume) {
  MakeTree("volume", "");
  const Mount volume("tmpfs", support::Join(root_, "volume"), "tmpfs", "size=64k");
  if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << volume.error();
  const std::string old_content(30000, 'o'), new_content(80000, 'n');
  MakeTree("volume/install", "big=" + old_content);
  MakeTree("backup", "big=" + new_content);
  MoveTree("backup", "volume/install");
  EXPECT_EQ(FileText("volume/install/big"), old_content);
  EXPECT_EQ(ReadTree("volume/install"), "big=" + old_content);
  EXPECT_EQ(FileText("backup/big"), new_content);
}

class PosixRestore : public RegisteredInTempRoot {};

// A backup on a read-only volume (a disc, a write-protected stick): each file is copied into the
// installation and stays in the backup too, and the backup is not walked again, since no wait
// makes the volume writable (each walk would copy every file once more).
TEST_F(PosixRestore, BackupOnReadOnlyVolume) {
  MakeTree("volume", "");
  const std::string path = support::Join(root_, "volume");
  const Mount volume("tmpfs", path, "tmpfs", "size=64k");
  if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << volume.error();
  MakeTree("volume/backup", "a=new d/b=new");
  MakeTree("install", "a=old d/");
  ASSERT_EQ(mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  support::RegisterInstallPath(support::Join(root_, "install"));
  support::ChangeDirectory(path);
  FailNthCall(FaultPoint::kCount, 0);
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  support::ChangeDirectory(root_);
  EXPECT_EQ(FaultCalls(FaultPoint::kSleep), 0);
  EXPECT_EQ(ReadTree("volume/backup"), "a=new d/b=new");
  EXPECT_EQ(ReadTree("install"), "a=new d/b=new");
}

// The installation path reaching the backup itself through a bind mount: each move crosses
// mounts, and each file is the same file by two routes. Copying it over itself and deleting the
// source would lose the whole backup; every file must stay.
TEST_F(PosixTransfer, SameFileByTwoRoutes) {
  MakeTree("backup", "a=1 d/b=2");
  MakeTree("alias", "");
  const Mount alias(support::Join(root_, "backup"), support::Join(root_, "alias"), nullptr,
                    nullptr);
  if (!alias.mounted()) GTEST_SKIP() << "cannot bind-mount: " << alias.error();
  MoveTree("backup", "alias");
  EXPECT_EQ(ReadTree("backup"), "a=1 d/b=2");

  // The other way round: the installation, or a directory of it, mounted on a directory of the
  // backup, which the walk lists as a plain one; walked, installed files would replace each other.
  for (const auto& [install, mounted, at] :
       {std::tuple{"sub/x=inst-sub x=inst", "install", "other/sub"},
        std::tuple{"bin/core=bin bin/only=only lib/core=lib", "install/bin", "other/lib"}}) {
    MakeTree("install", install);
    MakeTree(at, "");
    {
      const Mount inside(support::Join(root_, mounted), support::Join(root_, at), nullptr, nullptr);
      MoveTree("other", "install");
    }
    EXPECT_EQ(ReadTree("install"), install) << mounted;
    support::RemoveTree("install");
    support::RemoveTree("other");
  }
}

// Trees that once hung the program or moved the wrong thing, run as the program itself with a
// time limit, so that a regression fails here instead of hanging the suite.
struct HostileCase {
  const char* name;
  std::vector<std::string> backup;  // Below the working directory's "backup".
  std::vector<std::string> install;
  std::string backup_after;
  std::string install_after;
  bool backup_elsewhere;  // The backup on another file system than the installation.
  const char* fifo;       // A FIFO made in the backup at this path, which must stay unopened.
};

// `levels` directories, each linking twice to the next, and a file in the last: 2^levels routes
// lead to it, and a walk that took each would never end.
HostileCase LinksThatBranchAndMeet(int levels) {
  HostileCase c{"LinksThatBranchAndMeet", {}, {}, "", "", false, nullptr};
  const std::string last = "d" + std::to_string(levels);
  for (int level = 0; level < levels; ++level) {
    const std::string next = "->../d" + std::to_string(level + 1);
    for (const char* link : {"/a", "/b"}) {
      c.backup.push_back("d" + std::to_string(level) + link + next);
    }
  }
  c.backup_after = support::Describe(c.backup);
  c.backup.push_back(last + "/f=new");
  c.install = {last + "/f=old"};
  c.install_after = last + "/f=new";
  return c;
}

// The installation directory holds every temporary name a cross-volume move could take
// (~rb0000.tmp to ~rbFFFF.tmp), and `files` files come from another file system: trying each
// name for each file would take minutes, and no file can be placed. Each stays in the backup.
HostileCase TemporaryNamesAllTaken(int files) {
  HostileCase c{"TemporaryNamesAllTaken", {}, {}, "", "", true, nullptr};
  char name[16];
  for (unsigned number = 0; number <= 0xFFFF; ++number) {
    std::snprintf(name, sizeof name, "~rb%04X.tmp=", number);
    c.install.push_back(name);
  }
  for (int file = 0; file < files; ++file) c.backup.push_back("f" + std::to_string(file) + "=new");
  c.backup_after = support::Describe(c.backup);
  c.install_after = support::Describe(c.install);
  return c;
}

const HostileCase kHostileCases[] = {
    // Two links to "." branch the walk at every level until the path limit: exponential.
    {"LinksToItself",
     {"a=new", "l1->.", "l2->."},
     {"a=old"},
     "l1->. l2->.",
     "a=new",
     false,
     nullptr},
    {"LinkToAncestor",
     {"d/f=1", "d/up->..", "d/e/top->../.."},
     {"d/e/"},
     "d/e/top->../.. d/up->..",
     "d/e/ d/f=1",
     false,
     nullptr},
    // Windows would address "lib." as "lib" and move the directory; "x " as "x".
    {"TrailingDotOrSpace",
     {"lib/x=1", "lib.=2", "sp =3", "ok=4"},
     {"lib/", "sp=0"},
     "lib.=2 sp =3",
     "lib/x=1 ok=4 sp=0",
     false,
     nullptr},
    {"FifoAcrossFileSystems", {"a=new"}, {"a=old"}, "", "a=new", true, "pipe"},
    // Renamed, a FIFO would replace the installed file of its name.
    {"FifoOverAnInstalledFile",
     {"a=new"},
     {"a=old", "pipe=inst"},
     "",
     "a=new pipe=inst",
     false,
     "pipe"},
    // A link to the very file it would replace: moved over it, it would leave a link to itself
    // and the installed file would be gone. A link that leads nowhere stays too.
    {"LinkToItsOwnDestination",
     {"a->../install/a", "d/b->../../install/d/b", "c=new", "e->../nowhere"},
     {"a=old", "d/b=old", "c=old", "e=old"},
     "a->../install/a d/b->../../install/d/b e->../nowhere",
     "a=old c=new d/b=old e=old",
     false,
     nullptr},
    LinksThatBranchAndMeet(30),
    TemporaryNamesAllTaken(400),
};

void PrintTo(const HostileCase& c, std::ostream* out) {
  *out << c.name;
}

class HostileTree : public RegisteredInTempRoot, public ::testing::WithParamInterface<HostileCase> {
 protected:
  void TearDown() override {
    if (writer_ > 0) {
      kill(writer_, SIGKILL);
      waitpid(writer_, nullptr, 0);
    }
    if (!elsewhere_.empty()) support::RemoveTree(elsewhere_);
    RegisteredInTempRoot::TearDown();
  }
  std::string elsewhere_;
  pid_t writer_ = -1;  // A process waiting to write to the row's FIFO.
};

// True once the process `pid` waits in open() (for a FIFO's other end), within two seconds.
bool WaitingInOpen(pid_t pid) {
  const std::string call = std::to_string(SYS_openat) + " ";
  for (int waited = 0; waited < 200; ++waited) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
    std::string line;
    if (std::getline(in, line) && line.rfind(call, 0) == 0) return true;
    usleep(10 * 1000);
  }
  return false;
}

TEST_P(HostileTree, EndsPromptlyAndMovesByTheRules) {
  const HostileCase& c = GetParam();
  std::string work = root_;
  if (c.backup_elsewhere) {
    const std::string other = support::OtherFileSystem(root_);
    if (other.empty()) GTEST_SKIP() << "no second writable file system next to " << root_;
    elsewhere_ = other + "/restore-hostile-XXXXXX";
    ASSERT_NE(mkdtemp(elsewhere_.data()), nullptr);
    work = elsewhere_;
  }
  const std::string backup = support::Join(work, "backup");
  MakeTree(backup, c.backup);
  MakeTree("install", c.install);
  // A writer waits on the FIFO: opening it, even without blocking, would let the writer in and
  // then leave it writing to nobody, as opening a device node can rewind a tape or arm a watchdog.
  if (c.fifo) {
    const std::string fifo = support::Join(backup, c.fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    writer_ = fork();
    ASSERT_GE(writer_, 0);
    if (writer_ == 0) _exit(open(fifo.c_str(), O_WRONLY) >= 0 ? 0 : 1);
    ASSERT_TRUE(WaitingInOpen(writer_));
  }
  support::RegisterInstallPath(support::Join(root_, "install"));

  const pid_t child = support::StartProgram(work);
  int status = 0;
  for (int waited = 0; waited < 200 && waitpid(child, &status, WNOHANG) == 0; ++waited) {
    usleep(100 * 1000);
  }
  if (waitpid(child, &status, WNOHANG) == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "still running after 20 s";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  if (c.fifo) {
    int writer_status = 0;
    EXPECT_EQ(waitpid(writer_, &writer_status, WNOHANG), 0) << "the FIFO was opened";
    struct stat fifo;
    EXPECT_EQ(lstat(support::Join(backup, c.fifo).c_str(), &fifo), 0);
    EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
    ASSERT_EQ(unlink(support::Join(backup, c.fifo).c_str()), 0);
  }
  EXPECT_EQ(ReadTree(backup), c.backup_after);
  EXPECT_EQ(ReadTree("install"), c.install_after);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileTree, ::testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
