// Open files of the Win32 interface over POSIX descriptors: opening, writing, flushing, and a
// file's identity.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/posix/error.h"
#include "platform/posix/fault.h"
#include "platform/win32.h"

namespace {

// A handle is the descriptor plus one, so that no valid handle is null and none is
// INVALID_HANDLE_VALUE. A volume's handle also carries kVolume, a bit no descriptor reaches (the
// kernel allows at most 2^20 open descriptors a process).
constexpr std::intptr_t kVolume = std::intptr_t{1} << 30;

HANDLE ToHandle(int fd, std::intptr_t kind = 0) {
  return reinterpret_cast<HANDLE>((static_cast<std::intptr_t>(fd) + 1) | kind);
}

int ToFd(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return -1;
  return static_cast<int>((reinterpret_cast<std::intptr_t>(handle) & ~kVolume) - 1);
}

bool IsVolume(HANDLE handle) {
  return handle != INVALID_HANDLE_VALUE && (reinterpret_cast<std::intptr_t>(handle) & kVolume);
}

DWORD High(std::uint64_t value) {
  return static_cast<DWORD>(value >> 32);
}
DWORD Low(std::uint64_t value) {
  return static_cast<DWORD>(value);
}

FILETIME ToFileTime(const timespec& time) {
  // 100-nanosecond intervals since 1601, as Windows counts.
  constexpr std::uint64_t kEpochDifference = 116444736000000000ull;
  const std::uint64_t ticks = static_cast<std::uint64_t>(time.tv_sec) * 10000000ull +
                              static_cast<std::uint64_t>(time.tv_nsec) / 100 + kEpochDifference;
  return {Low(ticks), High(ticks)};
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flags, HANDLE) {
  if (FaultInjected(FaultPoint::kCreateFile)) {
    Fail(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  const bool writes = access & (GENERIC_WRITE | FILE_APPEND_DATA);
  int open_flags = (writes ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // Asked for no access to an existing file (only to learn what it is), the file is not opened
  // at all: a FIFO lets a waiting writer in on any open, and a device acts on one (a tape
  // rewinds, a watchdog is armed).
  const bool path_only = access == 0 && disposition == OPEN_EXISTING;
  if (path_only) open_flags = O_PATH | O_CLOEXEC;
  if (access & FILE_APPEND_DATA) open_flags |= O_APPEND;
  // A directory is opened for writing only to flush it, which Linux does through a read-only
  // descriptor, as Wine does.
  const bool directory = writes && (flags & FILE_FLAG_BACKUP_SEMANTICS);
  if (directory) open_flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;
  switch (disposition) {
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      open_flags |= O_CREAT;
      break;
    case CREATE_ALWAYS:
      open_flags |= O_CREAT | O_TRUNC;
      break;
    case CREATE_NEW:
      open_flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
    default:
      Fail(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  // Non-blocking: a FIFO or a device must never hold the program in open(). The type is then
  // checked on the open descriptor, never by name before it.
  const int fd = open(path, open_flags, 0644);
  if (fd < 0) {
    if (errno == EEXIST) {
      Fail(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    FailErrno();
    return INVALID_HANDLE_VALUE;
  }
  struct stat status;
  DWORD refused = ERROR_SUCCESS;
  if (fstat(fd, &status) != 0) {
    refused = Win32Error(errno);
  } else if (S_ISDIR(status.st_mode)) {
    // As on Windows: a directory opens only for reading, with backup semantics.
    if (!(flags & FILE_FLAG_BACKUP_SEMANTICS)) refused = ERROR_ACCESS_DENIED;
  } else if (!S_ISREG(status.st_mode)) {
    refused = ERROR_NOT_SUPPORTED;
  }
  if (refused != ERROR_SUCCESS) {
    close(fd);
    Fail(refused);
    return INVALID_HANDLE_VALUE;
  }
  // Only the open itself must not block; reads and writes of a regular file never do.
  if (!path_only) fcntl(fd, F_SETFL, open_flags & O_APPEND);
  return ToHandle(fd);
}

HANDLE OpenVolumeA(LPCSTR path) {
  if (FaultInjected(FaultPoint::kOpenVolume) || VolumesUnopenable()) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // Non-blocking, as every open here: a FIFO named as the directory must not hold the program.
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    FailErrno();
    return INVALID_HANDLE_VALUE;
  }
  return ToHandle(fd, kVolume);
}

BOOL IgnoresWriteThrough() {
  return FALSE;
}

BOOL CloseHandle(HANDLE handle) {
  const int fd = ToFd(handle);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE);
  return close(fd) == 0 ? TRUE : FailErrno();
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, LPDWORD written, void* overlapped) {
  const int fd = ToFd(file);
  if (written) *written = 0;
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE);
  if (overlapped != nullptr) return Fail(ERROR_INVALID_PARAMETER);
  if (FaultInjected(FaultPoint::kWriteFile)) return Fail(ERROR_DISK_FULL);
  const char* bytes = static_cast<const char*>(data);
  DWORD done = 0;
  while (done < size) {
    const ssize_t n = write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = done;
      return n < 0 ? FailErrno() : Fail(ERROR_DISK_FULL);
    }
    done += static_cast<DWORD>(n);
  }
  if (written) *written = done;
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  if (FaultInjected(FaultPoint::kFlush)) return Fail(ERROR_DISK_FULL);
  const int fd = ToFd(file);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE);
  return (IsVolume(file) ? syncfs(fd) : fsync(fd)) == 0 ? TRUE : FailErrno();
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  if (FaultInjected(FaultPoint::kFileInformation)) return Fail(ERROR_INVALID_FUNCTION);
  const int fd = ToFd(file);
  if (fd < 0) return Fail(ERROR_INVALID_HANDLE);
  struct stat status;
  if (fstat(fd, &status) != 0) return FailErrno();
  const std::uint64_t device = status.st_dev, inode = status.st_ino;
  const std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
  *information = {};
  // A file its owner may not write is read-only, as Windows' attribute: a copy of it cannot be
  // opened for writing either, by anyone but root.
  information->dwFileAttributes = S_ISDIR(status.st_mode)       ? FILE_ATTRIBUTE_DIRECTORY
                                  : !(status.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_READONLY
                                                                : FILE_ATTRIBUTE_NORMAL;
  information->ftLastAccessTime = ToFileTime(status.st_atim);
  information->ftLastWriteTime = ToFileTime(status.st_mtim);
  information->ftCreationTime = information->ftLastWriteTime;
  // The device number folded into 32 bits: volumes are told apart as Windows' serials do.
  information->dwVolumeSerialNumber = High(device) ^ Low(device);
  information->nFileSizeHigh = High(size);
  information->nFileSizeLow = Low(size);
  information->nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
  information->nFileIndexHigh = High(inode);
  information->nFileIndexLow = Low(inode);
  return TRUE;
}

DWORD GetLinkTextA(LPCSTR link, LPSTR text, DWORD size) {
  if (size == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  const ssize_t length = readlink(link, text, size);
  if (length < 0) return FailErrno();
  if (static_cast<DWORD>(length) >= size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  text[length] = '\0';
  return static_cast<DWORD>(length);
}

DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags) {
  const int fd = ToFd(file);
  if (fd < 0 || flags != 0) return Fail(ERROR_INVALID_PARAMETER);
  char link[32], resolved[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, resolved, sizeof resolved);
  if (length < 0) return FailErrno();
  if (static_cast<std::size_t>(length) >= sizeof resolved) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (static_cast<DWORD>(length) >= size) return static_cast<DWORD>(length) + 1;
  std::memcpy(path, resolved, static_cast<std::size_t>(length));
  path[length] = '\0';
  return static_cast<DWORD>(length);
}
