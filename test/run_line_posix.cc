// Starting the program with a command line as Windows would hand it over, on POSIX: the line is
// split by Windows' rules into the process's arguments.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "restore/command_line.h"
#include "test/support.h"

namespace support {

Run RunProgramWithCommandLine(const std::string& directory, const std::string& command_line) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) throw std::runtime_error("readlink /proc/self/exe");
  std::string program(self, static_cast<std::size_t>(n));
  program = program.substr(0, program.rfind('/')) + "/restore-backup";

  std::vector<std::string> arguments;
  std::vector<char> argument(command_line.size() + 1);
  std::size_t length = 0;
  for (const char* rest = command_line.c_str();
       (rest = NextArgument(rest, argument.data(), argument.size(), &length)) != nullptr;) {
    arguments.emplace_back(argument.data(), length);
  }
  std::vector<char*> argv{program.data()};
  for (std::string& each : arguments) argv.push_back(each.data());
  argv.push_back(nullptr);

  const std::string output_root = MakeTempRoot(), output_path = output_root + "/output";
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || chdir(directory.c_str()) != 0) {
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) throw std::runtime_error("waitpid");
  std::ifstream in(output_path, std::ios::binary);
  std::ostringstream output;
  output << in.rdbuf();
  RemoveTree(output_root);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output.str()};
}

}  // namespace support
