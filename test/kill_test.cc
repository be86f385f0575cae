// The program killed at random moments of a large restore: every file is always in exactly one
// place with its whole content (or, across file systems, also in both: copied, not yet deleted),
// and a later run completes the restore.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test/posix_support.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::ReadTree;

// The installation's tree without the temporary copies ("~rbXXXX.tmp") that a kill part way
// through a cross-volume move may leave beside their destinations.
std::string InstalledTree(const std::string& install) {
  std::istringstream entries(ReadTree(install));
  std::vector<std::string> kept;
  for (std::string entry; entries >> entry;) {
    const std::size_t name = entry.rfind('/', entry.find('=')) + 1;
    if (entry.compare(name, 3, "~rb") != 0 || entry.compare(name + 7, 5, ".tmp=") != 0) {
      kept.push_back(entry);
    }
  }
  return support::Describe(kept);
}

class KillSafety : public RegisteredInTempRoot {
 protected:
  // Lays out `directories` directories of `files` files of `bytes` bytes, half replacing installed
  // ones, with the installation at `install`, then kills the program 8 times part way.
  void KillRepeatedly(const std::string& install, int directories, int files, std::size_t bytes) {
    std::vector<std::string> backup, installed;
    for (int d = 0; d < directories; ++d) {
      const std::string directory = "d" + std::to_string(d) + "/";
      installed.push_back(directory);
      for (int f = 0; f < files; ++f) {
        const std::string name = directory + "f" + std::to_string(f);
        backup.push_back(name + "=new-" + name + std::string(bytes, 'x'));
        if (f % 2 == 0) installed.push_back(name + "=old-" + name);
      }
    }
    support::MakeTree("backup", backup);
    support::MakeTree(install, installed);
    const std::string backup_before = ReadTree("backup"), install_before = ReadTree(install);
    const bool across = install.rfind(root_, 0) != 0;
    support::RegisterInstallPath(install);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> microseconds(0, 20000);
    for (int kill_number = 0; kill_number < 8; ++kill_number) {
      const pid_t child = support::StartProgram(root_);
      usleep(microseconds(random));
      kill(child, SIGKILL);
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_EQ(support::LostFiles(backup_before, install_before, ReadTree("backup"),
                                   InstalledTree(install), across),
                "");
    }
    EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
    EXPECT_EQ(ReadTree("backup"), "-");
    EXPECT_EQ(support::LostFiles(backup_before, install_before, "-", InstalledTree(install)), "");
  }
};

TEST_F(KillSafety, EveryFileInExactlyOnePlace) {
  KillRepeatedly(support::Join(root_, "install"), 20, 250, 200);
}

// The installation on another file system: every file is copied, flushed and renamed over its
// destination before its source is deleted, so a kill never leaves an installed file truncated.
TEST_F(KillSafety, AcrossFileSystems) {
  const std::string other = support::OtherFileSystem(root_);
  if (other.empty()) GTEST_SKIP() << "no second writable file system next to " << root_;
  std::string install = other + "/restore-kill-XXXXXX";
  ASSERT_NE(mkdtemp(install.data()), nullptr);
  KillRepeatedly(install, 4, 25, 256 * 1024);
  support::RemoveTree(install);
}

}  // namespace
