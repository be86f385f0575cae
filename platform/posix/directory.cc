// The process's directories: the current one and the temporary one.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/posix/error.h"
#include "platform/win32.h"

namespace {

// Copies `length` bytes of `text` into `buffer` if they fit with a terminator, as the Win32
// path queries do: the length written, or the size needed.
DWORD CopyOut(const char* text, std::size_t length, DWORD size, LPSTR buffer) {
  if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

}  // namespace

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
  const char* directory = std::getenv("TMPDIR");
  if (directory == nullptr || *directory == '\0') directory = "/tmp";
  const std::size_t length = std::strlen(directory);
  const bool separator = directory[length - 1] != '/';
  if (buffer == nullptr || length + separator + 1 > size) {
    return static_cast<DWORD>(length + separator + 1);
  }
  std::memcpy(buffer, directory, length);
  if (separator) buffer[length] = '/';
  buffer[length + separator] = '\0';
  return static_cast<DWORD>(length + separator);
}

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  char path[PATH_MAX];
  if (getcwd(path, sizeof path) == nullptr) {
    FailErrno();
    return 0;
  }
  return CopyOut(path, std::strlen(path), size, buffer);
}
