#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "test/posix_support.h"
#include "test/support.h"

namespace support {
namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0755);
  }
  Check(mkdir(path.c_str(), 0755) == 0 || errno == EEXIST, "mkdir " + path);
}

void Collect(const std::string& root, const std::string& prefix, std::vector<std::string>* out) {
  DIR* dir = opendir(root.c_str());
  Check(dir != nullptr, "opendir " + root);
  bool empty = true;
  while (const dirent* member = readdir(dir)) {
    const std::string name = member->d_name;
    if (name == "." || name == "..") continue;
    empty = false;
    const std::string path = root + "/" + name, relative = prefix + name;
    struct stat status;
    Check(lstat(path.c_str(), &status) == 0, "lstat " + path);
    if (S_ISLNK(status.st_mode)) {
      char target[4096];
      const ssize_t n = readlink(path.c_str(), target, sizeof target);
      out->push_back(relative + "->" + std::string(target, n > 0 ? n : 0));
    } else if (S_ISDIR(status.st_mode)) {
      Collect(path, relative + "/", out);
    } else {
      std::ifstream in(path, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      out->push_back(relative + "=" + content.str());
    }
  }
  closedir(dir);
  if (empty && !prefix.empty()) out->push_back(prefix);
}

}  // namespace

std::string MakeTempRoot() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/restore-test-XXXXXX";
  Check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
  return pattern;
}

std::string Join(const std::string& directory, std::string_view relative) {
  return directory + "/" + std::string(relative);
}

void MakeTree(const std::string& root, const std::vector<std::string>& entries) {
  MakeDirectories(root);
  for (const std::string& entry : entries) {
    const std::size_t equals = entry.find('='), arrow = entry.find("->");
    const std::string path = Join(root, entry.substr(0, std::min(equals, arrow)));
    if (entry.back() == '/' && equals == std::string::npos && arrow == std::string::npos) {
      MakeDirectories(path);
      continue;
    }
    MakeDirectories(path.substr(0, path.rfind('/')));
    if (arrow < equals) {
      Check(symlink(entry.substr(arrow + 2).c_str(), path.c_str()) == 0, "symlink " + path);
    } else {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << entry.substr(equals + 1);
      Check(out.good(), "write " + path);
    }
  }
}

std::string ReadTree(const std::string& root) {
  struct stat status;
  if (lstat(root.c_str(), &status) != 0) return "-";
  std::vector<std::string> entries;
  Collect(root, "", &entries);
  return Describe(std::move(entries));
}

void RemoveTree(const std::string& root) {
  const std::string command = "rm -rf '" + root + "'";
  Check(std::system(command.c_str()) == 0, command);
}

void ChangeDirectory(const std::string& directory) {
  Check(chdir(directory.c_str()) == 0, "chdir " + directory);
}

std::string CurrentDirectory() {
  char path[4096];
  Check(getcwd(path, sizeof path) != nullptr, "getcwd");
  return path;
}

// The machine's hive is a registry file named by RESTORE_BACKUP_HKLM; each test process gets
// one of its own, in a directory removed when the process ends.
namespace {
std::string HivePath() {
  static const std::string directory = MakeTempRoot();
  static const std::string path = directory + "/HKLM.reg";
  static const bool removed_at_exit = std::atexit([] {
                                        std::remove(path.c_str());
                                        rmdir(directory.c_str());
                                      }) == 0;
  Check(removed_at_exit, "atexit");
  setenv("RESTORE_BACKUP_HKLM", path.c_str(), 1);
  return path;
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
  std::ifstream in(output_path, std::ios::binary);
  std::ostringstream output;
  output << in.rdbuf();
  RemoveTree(output_root);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output.str()};
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

}  // namespace support
