// Holds a file open without sharing, as a virus scanner or a running program does, for the Wine
// tests of files in use: hold-file PATH WATCH MILLISECONDS READY. Once PATH is open it makes the
// file READY; once WATCH is gone (the program under test has walked past it) it holds PATH for
// MILLISECONDS more, or until it is ended when MILLISECONDS is -1. Started processes take an
// unknown time to start (Wine may run under an emulator), so no wait is counted from the start.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  HANDLE held = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 3;
  HANDLE ready = CreateFileA(argv[4], GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(ready);
  const long milliseconds = std::atol(argv[3]);
  if (milliseconds < 0) Sleep(INFINITE);
  while (GetFileAttributesA(argv[2]) != INVALID_FILE_ATTRIBUTES) Sleep(10);
  Sleep(static_cast<DWORD>(milliseconds));
  CloseHandle(held);
  return 0;
}
