#include "platform/win32.h"
#include "restore/command_line.h"
#include "restore/entry.h"

// A windowed program's entry: nothing is shown, so no window and no message loop. The arguments
// are read from the system's own command line: MinGW's start-up hands over an empty one when an
// argument follows the quoted program name with no space ("C:\x\restore-backup.exe"/LOG=...),
// where Windows programs see the switch.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show) {
  char* const line = GetCommandLineA();
  return RestoreFromBackup(instance, previous, line + (SkipProgramName(line) - line), show);
}
