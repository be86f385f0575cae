// What the tests need of a POSIX system: the registry file that stands for HKEY_LOCAL_MACHINE,
// starting the program as a process, and a second file system.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "test/posix_support.h"
#include "test/support.h"

namespace support {
namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The machine's hive is a registry file named by RESTORE_BACKUP_HKLM; each test process gets
// one of its own in the temporary directory, removed when the process ends.
struct Hive {
  const std::string path = Utf8(std::filesystem::temp_directory_path() /
                                ("restore-test-" + std::to_string(getpid()) + ".reg"));
  ~Hive() { std::remove(path.c_str()); }
};

const std::string& HivePath() {
  static const Hive hive;
  setenv("RESTORE_BACKUP_HKLM", hive.path.c_str(), 1);
  return hive.path;
}
}  // namespace

void RegisterInstallPath(const std::string& install_path) {
  std::string escaped;
  for (char c : install_path) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  std::ofstream out(HivePath(), std::ios::trunc);
  out << "Windows Registry Editor Version 5.00\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
         "velmarok_is1]\r\n\"Inno Setup: App Path\"=\""
      << escaped << "\"\r\n";
  Check(out.good(), "write hive");
}

void Unregister() {
  std::remove(HivePath().c_str());
}

namespace {

std::string ProgramPath() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  Check(n > 0, "readlink /proc/self/exe");
  const std::string path(self, n);
  return path.substr(0, path.rfind('/')) + "/restore-backup";
}

// Starts the program in `directory` with both outputs going to `output`.
pid_t Start(const std::string& directory, const std::string& output, const std::string& arguments) {
  std::string program = ProgramPath();
  std::vector<std::string> words;
  std::istringstream split(arguments);
  for (std::string word; split >> word;) words.push_back(word);
  std::vector<char*> argv{program.data()};
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  Check(child >= 0, "fork");
  if (child == 0) {
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || chdir(directory.c_str()) != 0) {
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return child;
}

}  // namespace

pid_t StartProgram(const std::string& directory) {
  return Start(directory, "/dev/null", "");
}

Run RunProgram(const std::string& directory, const std::string& arguments) {
  const std::string output_root = MakeTempRoot(), output_path = output_root + "/output";
  const pid_t child = Start(directory, output_path, arguments);
  int status = 0;
  Check(waitpid(child, &status, 0) == child, "waitpid");
  const std::string output = ReadText(output_path);
  RemoveTree(output_root);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
}

std::string OtherFileSystem(const std::string& near) {
  struct stat here, there;
  if (stat(near.c_str(), &here) != 0) return "";
  for (const char* candidate : {"/dev/shm", "/run/user", "/var/tmp", "/tmp"}) {
    if (stat(candidate, &there) == 0 && S_ISDIR(there.st_mode) && there.st_dev != here.st_dev &&
        access(candidate, W_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

const char* const kFlushedBefore = "flushed:";
const bool kSymbolicLinks = true;
const unsigned kExitStatusMask = 0xFF;
const char* const kFlushedAfter = "flushed-install:";

}  // namespace support
