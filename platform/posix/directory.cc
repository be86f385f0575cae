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

DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* file_part) {
  if (file_part != nullptr || path == nullptr || *path == '\0') {
    Fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char joined[2 * PATH_MAX];
  std::size_t length = 0;
  if (path[0] != '/') {
    if (getcwd(joined, PATH_MAX) == nullptr) {
      FailErrno();
      return 0;
    }
    length = std::strlen(joined);
  }
  const std::size_t path_length = std::strlen(path);
  if (length + 1 + path_length >= sizeof joined) {
    Fail(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  joined[length] = '/';
  std::memcpy(joined + length + 1, path, path_length + 1);
  // Each element in turn onto `full`: "." and empty ones dropped, ".." taking the last one off.
  char full[sizeof joined];
  std::size_t used = 0;
  for (const char* element = joined; *element != '\0';) {
    while (*element == '/') ++element;
    const char* end = element;
    while (*end != '\0' && *end != '/') ++end;
    const std::size_t element_length = static_cast<std::size_t>(end - element);
    if (element_length == 2 && element[0] == '.' && element[1] == '.') {
      while (used > 0 && full[used - 1] != '/') --used;
      if (used > 0) --used;
    } else if (element_length > 0 && !(element_length == 1 && element[0] == '.')) {
      full[used++] = '/';
      std::memcpy(full + used, element, element_length);
      used += element_length;
    }
    element = end;
  }
  if (used == 0) full[used++] = '/';
  return CopyOut(full, used, size, buffer);
}
