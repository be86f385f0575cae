#include <cstdlib>

#include "platform/posix/arguments.h"
#include "platform/win32.h"

// The process start-up: hands over to the program's entry the way the Windows runtime does,
// with no window to show and the arguments after the program's name as one command line,
// quoted as a Windows program would have received them.
int main(int argc, char** argv) {
  char* const line = JoinArguments(argc - 1, argv + 1);
  // Without heap for the line the run goes on, as with an empty one.
  char empty[] = "";
  const int status = WinMain(nullptr, nullptr, line != nullptr ? line : empty, 0);
  std::free(line);
  return status;
}
