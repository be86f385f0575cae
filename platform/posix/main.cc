#include <cstdlib>

#include "platform/posix/arguments.h"
#include "platform/win32.h"

// The process start-up: hands over to the program's entry the way the Windows runtime does,
// with no window to show, the whole command line for GetCommandLineA and the arguments after
// the program's name as one line, each quoted as a Windows program would have received them.
int main(int argc, char** argv) {
  char* const whole = argc > 0 ? JoinCommandLine(argc, argv) : nullptr;
  char* const line = JoinArguments(argc - 1, argv + 1);
  SetCommandLine(whole);
  // Without heap for the lines the run goes on, as with empty ones.
  char empty[] = "";
  const int status = WinMain(nullptr, nullptr, line != nullptr ? line : empty, 0);
  SetCommandLine(nullptr);
  std::free(line);
  std::free(whole);
  return status;
}
