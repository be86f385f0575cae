#include "platform/win32.h"

// The process start-up: hands over to the program's entry the way the Windows runtime does,
// with no window to show and the command line not consulted.
int main() {
  char command_line[] = "";
  return WinMain(nullptr, nullptr, command_line, 0);
}
