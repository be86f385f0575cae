#include <cstdlib>
#include <cstring>

#include "platform/posix/arguments.h"
#include "platform/win32.h"

// The process start-up: hands over to the program's entry the way the Windows runtime does,
// with no window to show, the whole command line for GetCommandLineA and the arguments after
// the program's name, each quoted as a Windows program would have received them.
int main(int argc, char** argv) {
  char* const whole = argc > 0 ? JoinCommandLine(argc, argv) : nullptr;
  SetCommandLine(whole);
  // Without heap for the line the run goes on, as with an empty one. The arguments follow the
  // name's closing quote and a space.
  char empty[] = "";
  char* const line = whole != nullptr ? std::strchr(whole + 1, '"') + 2 : empty;
  const int status = WinMain(nullptr, nullptr, line, 0);
  SetCommandLine(nullptr);
  std::free(whole);
  return status;
}
