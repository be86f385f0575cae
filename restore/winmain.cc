#include "platform/win32.h"
#include "restore/entry.h"

// A windowed program's entry: nothing is shown, so no window and no message loop.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  return RestoreFromBackup(instance, previous, command_line, show);
}
