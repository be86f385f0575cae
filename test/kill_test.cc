// The program killed at random moments of a large restore: every file is always in exactly one
// place with its whole content, and a later run completes the restore.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "test/posix_support.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::ReadTree;

class KillSafety : public RegisteredInTempRoot {};

TEST_F(KillSafety, EveryFileInExactlyOnePlace) {
  std::vector<std::string> backup, install;
  for (int d = 0; d < 20; ++d) {
    const std::string directory = "d" + std::to_string(d) + "/";
    install.push_back(directory);
    for (int f = 0; f < 250; ++f) {
      const std::string name = directory + "f" + std::to_string(f);
      backup.push_back(name + "=new-" + name + std::string(200, 'x'));
      if (f % 2 == 0) install.push_back(name + "=old-" + name);
    }
  }
  support::MakeTree("backup", backup);
  support::MakeTree("install", install);
  const std::string backup_before = ReadTree("backup"), install_before = ReadTree("install");
  support::RegisterInstallPath(support::Join(root_, "install"));

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
    ASSERT_EQ(
        support::LostFiles(backup_before, install_before, ReadTree("backup"), ReadTree("install")),
        "");
  }
  EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(support::LostFiles(backup_before, install_before, "-", ReadTree("install")), "");
}

}  // namespace
