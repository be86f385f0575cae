// The process heap, directory enumeration and moves of the Win32 interface, over POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/posix/fault.h"
#include "platform/win32.h"

namespace {

thread_local DWORD last_error = 0;

DWORD Win32Error(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_WRITE_FAULT;
  }
}

// Records `error` as the thread's last error and returns the failure value.
BOOL Fail(DWORD error) {
  last_error = error;
  return FALSE;
}
BOOL FailErrno() {
  return Fail(Win32Error(errno));
}

struct Find {
  DIR* dir;
};

// Fills `entry` from `member` of `dir`. The directory bit comes from d_type; only a link or a
// file system that gives no type costs a stat, which follows the link so that a link to a
// directory is walked like a directory.
void Fill(DIR* dir, const dirent& member, WIN32_FIND_DATAA* entry) {
  std::memset(entry, 0, sizeof *entry);
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (member.d_type == DT_DIR) {
    attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else if (member.d_type == DT_LNK || member.d_type == DT_UNKNOWN) {
    struct stat status;
    if (fstatat(dirfd(dir), member.d_name, &status, 0) == 0 && S_ISDIR(status.st_mode)) {
      attributes = FILE_ATTRIBUTE_DIRECTORY;
    }
    if (member.d_type == DT_LNK) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  entry->dwFileAttributes = attributes;
  // A POSIX name is at most NAME_MAX (255) bytes, so it always fits with its terminator.
  std::strncpy(entry->cFileName, member.d_name, sizeof entry->cFileName - 1);
}

// Reads the next member, or sets the last error and returns nullptr.
const dirent* Next(DIR* dir) {
  errno = 0;
  const dirent* member = readdir(dir);
  if (!member) last_error = errno ? Win32Error(errno) : ERROR_NO_MORE_FILES;
  return member;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, reporting the error a delayed write may only show here.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, ssize_t length) {
  while (length > 0) {
    if (FaultInjected(FaultPoint::kCopy)) {
      errno = ENOSPC;
      return false;
    }
    const ssize_t written = write(fd, data, static_cast<size_t>(length));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    length -= written;
  }
  return true;
}

// Copies the regular file open as `in` into the new file `out`: content, then owner where
// permitted, permission bits and times, then flushes it to disk.
bool CopyContent(int in, int out, const struct stat& status) {
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (!WriteAll(out, buffer, got)) return false;
  }
  // The owner first: changing it afterwards would clear set-id bits. Only root may give a file
  // away, so a refusal leaves the file the caller's own, as a copy by anyone else would.
  if (fchown(out, status.st_uid, status.st_gid) != 0 && errno != EPERM) return false;
  const timespec times[2] = {status.st_atim, status.st_mtim};
  return fchmod(out, status.st_mode & 07777) == 0 && futimens(out, times) == 0 && fsync(out) == 0;
}

// Moves the regular file `from` to `to` on another file system. The copy goes to a temporary
// file beside `to` and is renamed over it only once complete and on disk, so `to` is either the
// old file or the whole new one; on failure the temporary file is removed and `from` stays.
BOOL MoveAcross(const char* from, const char* to, bool replace) {
  Fd in(open(from, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (in.get() < 0) return FailErrno();
  struct stat status;
  if (fstat(in.get(), &status) != 0) return FailErrno();
  // Windows copies only files across volumes; a link, device or socket stays where it is.
  if (!S_ISREG(status.st_mode)) return Fail(ERROR_NOT_SAME_DEVICE);

  const char* slash = std::strrchr(to, '/');
  const std::size_t directory_length = slash ? static_cast<std::size_t>(slash - to + 1) : 0;
  static constexpr char kTemporaryName[] = ".restore-backup-XXXXXX";
  std::unique_ptr<char[]> temporary(
      new (std::nothrow) char[directory_length + sizeof kTemporaryName]);
  if (!temporary) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(temporary.get(), to, directory_length);
  std::memcpy(temporary.get() + directory_length, kTemporaryName, sizeof kTemporaryName);

  // A missing destination directory fails here: it is never made.
  Fd out(mkostemp(temporary.get(), O_CLOEXEC));
  if (out.get() < 0) return FailErrno();
  const bool copied = CopyContent(in.get(), out.get(), status);
  int error = errno;
  bool placed = false;
  if (copied && out.Close()) {
    placed = replace ? rename(temporary.get(), to) == 0
                     : renameat2(AT_FDCWD, temporary.get(), AT_FDCWD, to, RENAME_NOREPLACE) == 0;
    error = errno;
  } else if (copied) {
    error = errno;
  }
  if (!placed) {
    unlink(temporary.get());
    return Fail(Win32Error(error));
  }
  // The rename must be on disk before the source goes: the two are on different file systems,
  // and a crash between them must not keep the removal and lose the rename. Until then, and if
  // the source cannot be removed, the file is in both places, never in neither.
  temporary[directory_length] = '\0';
  Fd directory(open(directory_length ? temporary.get() : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() < 0 || fsync(directory.get()) != 0) return FailErrno();
  if (unlink(from) != 0) return FailErrno();
  return TRUE;
}

}  // namespace

DWORD GetLastError() {
  return last_error;
}
void SetLastError(DWORD error) {
  last_error = error;
}

HANDLE GetProcessHeap() {
  static char heap;
  return &heap;
}

LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
  if (FaultInjected(FaultPoint::kHeapAlloc)) return nullptr;
  return std::malloc(bytes ? bytes : 1);
}

BOOL HeapFree(HANDLE, DWORD, LPVOID block) {
  std::free(block);
  return TRUE;
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* entry) {
  // Only "<directory>/*" (or "*" for the current directory) is understood.
  const std::size_t length = std::strlen(pattern);
  char directory[PATH_MAX];
  if (length == 1 && pattern[0] == '*') {
    std::strcpy(directory, ".");
  } else if (length >= 2 && pattern[length - 1] == '*' && pattern[length - 2] == '/') {
    if (length - 1 >= sizeof directory) {
      last_error = ERROR_FILENAME_EXCED_RANGE;
      return INVALID_HANDLE_VALUE;
    }
    // Keeps the separator, so that "/*" names the root.
    std::memcpy(directory, pattern, length - 1);
    directory[length - 1] = '\0';
  } else {
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }

  DIR* dir = opendir(directory);
  if (!dir) {
    last_error = Win32Error(errno);
    return INVALID_HANDLE_VALUE;
  }
  const dirent* member = Next(dir);
  Find* find = member ? new (std::nothrow) Find{dir} : nullptr;
  if (!find) {
    if (member) last_error = ERROR_NOT_ENOUGH_MEMORY;
    closedir(dir);
    return INVALID_HANDLE_VALUE;
  }
  Fill(dir, *member, entry);
  return find;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* entry) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  DIR* dir = static_cast<Find*>(handle)->dir;
  if (FaultInjected(FaultPoint::kFindNext)) return Fail(ERROR_WRITE_FAULT);
  const dirent* member = Next(dir);
  if (!member) return FALSE;
  Fill(dir, *member, entry);
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  Find* find = static_cast<Find*>(handle);
  closedir(find->dir);
  delete find;
  return TRUE;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (FaultInjected(FaultPoint::kMove)) return Fail(ERROR_SHARING_VIOLATION);
  const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  // A file's own mode does not stop its replacement here, unlike Windows' read-only attribute:
  // on POSIX that is the directory's to decide.
  const int result =
      replace ? rename(from, to) : renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
  if (result == 0) return TRUE;
  if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED)) return MoveAcross(from, to, replace);
  return FailErrno();
}

BOOL RemoveDirectoryA(LPCSTR path) {
  if (FaultInjected(FaultPoint::kRemoveDirectory)) return Fail(ERROR_SHARING_VIOLATION);
  return rmdir(path) == 0 ? TRUE : FailErrno();
}
