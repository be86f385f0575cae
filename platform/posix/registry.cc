// The registry functions of the Win32 interface, over a registry file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/posix/fd.h"
#include "platform/posix/regfile.h"
#include "platform/win32.h"

struct HKEY__ {
  std::vector<RegValue> values;
};

namespace {

constexpr char kDefaultHive[] = "/etc/restore-backup/HKLM.reg";

// Real hives are kilobytes; anything larger is not read, so a huge file costs no memory or time.
constexpr off_t kMaxHiveBytes = 16 << 20;

// The whole hive file, or false when it cannot be read. Only a regular file of at most
// kMaxHiveBytes is read, its type and size taken from the open descriptor. The open itself must
// not block: opening a FIFO for reading waits for a writer, forever if none comes.
bool ReadHive(std::string* text) {
  const char* path = std::getenv("RESTORE_BACKUP_HKLM");
  if (path == nullptr || *path == '\0') path = kDefaultHive;
  const Fd fd(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status;
  if (fd.get() < 0 || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size > kMaxHiveBytes) {
    return false;
  }
  text->resize(static_cast<std::size_t>(status.st_size));
  for (std::size_t got = 0; got < text->size();) {
    const ssize_t n = read(fd.get(), text->data() + got, text->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // A read error, or a file that shrank while being read.
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool IsPredefined(HKEY key) {
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  return value >= 0x80000000u && value <= 0x80000006u;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  // Every hive but the machine's is empty here.
  if (key != HKEY_LOCAL_MACHINE) return ERROR_FILE_NOT_FOUND;
  try {
    std::string path = "HKEY_LOCAL_MACHINE";
    if (subkey != nullptr && *subkey != '\0') (path += '\\') += subkey;
    std::string text;
    auto opened = std::make_unique<HKEY__>();
    if (!ReadHive(&text) || !ReadRegistryKey(text, path, &opened->values)) {
      return ERROR_FILE_NOT_FOUND;
    }
    *result = opened.release();
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size) {
  if (key == nullptr || IsPredefined(key)) return ERROR_INVALID_HANDLE;
  if (reserved != nullptr || (data != nullptr && size == nullptr)) return ERROR_INVALID_PARAMETER;
  const std::string_view wanted = name ? name : "";
  for (const RegValue& value : key->values) {
    if (value.name.size() != wanted.size() ||
        strncasecmp(value.name.data(), wanted.data(), wanted.size()) != 0) {
      continue;
    }
    if (type != nullptr) *type = value.type;
    if (size == nullptr) return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(value.data.size());
    const DWORD room = *size;
    *size = needed;
    if (data == nullptr) return ERROR_SUCCESS;
    if (room < needed) return ERROR_MORE_DATA;
    std::memcpy(data, value.data.data(), needed);
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS RegFlushKey(HKEY key) {
  return key == nullptr ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (!IsPredefined(key)) delete key;
  return ERROR_SUCCESS;
}
