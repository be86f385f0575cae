// The calls the program makes beyond Win32's own: opening a volume to flush it whole, and
// knowing a system that does not flush as asked.
#include <cstring>

#include "platform/win32.h"

HANDLE OpenVolumeA(LPCSTR path) {
  char mount[MAX_PATH];
  if (!GetVolumePathNameA(path, mount, MAX_PATH)) return INVALID_HANDLE_VALUE;
  char device[MAX_PATH];
  if (std::strlen(mount) == 3 && mount[1] == ':' && mount[2] == '\\') {
    // "C:\" is the device "\\.\C:": with the final separator the name is the root directory.
    std::memcpy(device, "\\\\.\\", 4);
    std::memcpy(device + 4, mount, 2);
    device[6] = '\0';
  } else {
    // A volume mounted in a folder is known by its GUID name; a share has none and fails here.
    if (!GetVolumeNameForVolumeMountPointA(mount, device, MAX_PATH)) return INVALID_HANDLE_VALUE;
    device[std::strlen(device) - 1] = '\0';
  }
  // Flushing a volume needs write access to it, which only an administrator is given.
  return CreateFileA(device, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

DWORD GetLinkTextA(LPCSTR, LPSTR, DWORD) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}

BOOL IgnoresWriteThrough() {
  // No system call: both look in the process's own module list.
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
