// The process heap, directory enumeration, moves, copies and removals of the Win32 interface,
// over POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/posix/error.h"
#include "platform/posix/fault.h"
#include "platform/posix/fd.h"
#include "platform/win32.h"

namespace {

thread_local DWORD last_error = 0;

struct Find {
  DIR* dir;  // nullptr: a lookup of one name, whose only entry was given already.
};

// Fills `entry` for the member `name` of the directory open as `dir_fd`, of dirent type `type`.
// The directory bit comes from the type; only a link or a file system that gives no type costs
// a stat, which follows the link so that a link to a directory is walked like a directory.
void Fill(int dir_fd, const char* name, unsigned char type, WIN32_FIND_DATAA* entry) {
  std::memset(entry, 0, sizeof *entry);
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (type == DT_DIR) {
    attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else if (type == DT_FIFO || type == DT_CHR || type == DT_BLK || type == DT_SOCK) {
    attributes = FILE_ATTRIBUTE_DEVICE;
  } else if (type == DT_LNK || type == DT_UNKNOWN) {
    struct stat status;
    if (fstatat(dir_fd, name, &status, 0) == 0) {
      if (S_ISDIR(status.st_mode)) attributes = FILE_ATTRIBUTE_DIRECTORY;
      if (!S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)) attributes = FILE_ATTRIBUTE_DEVICE;
    }
    if (type == DT_LNK) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  entry->dwFileAttributes = attributes;
  // A POSIX name is at most NAME_MAX (255) bytes, so it always fits with its terminator.
  std::strncpy(entry->cFileName, name, sizeof entry->cFileName - 1);
}

// Reads the next member, or sets the last error and returns nullptr.
const dirent* Next(DIR* dir) {
  errno = 0;
  const dirent* member = readdir(dir);
  if (!member) last_error = errno ? Win32Error(errno) : ERROR_NO_MORE_FILES;
  return member;
}

// The entry of the one member named by `path`, without a wildcard.
HANDLE FindOne(LPCSTR path, WIN32_FIND_DATAA* entry) {
  struct stat status;
  if (lstat(path, &status) != 0) {
    last_error = Win32Error(errno);
    return INVALID_HANDLE_VALUE;
  }
  const char* slash = std::strrchr(path, '/');
  const char* name = slash ? slash + 1 : path;
  if (*name == '\0') {
    last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  Find* find = new (std::nothrow) Find{nullptr};
  if (!find) {
    last_error = ERROR_NOT_ENOUGH_MEMORY;
    return INVALID_HANDLE_VALUE;
  }
  const unsigned char type = S_ISDIR(status.st_mode)   ? DT_DIR
                             : S_ISLNK(status.st_mode) ? DT_LNK
                                                       : DT_REG;
  // Relative to the current directory: the link's target is resolved from the full path.
  Fill(AT_FDCWD, type == DT_LNK ? path : name, type, entry);
  std::strncpy(entry->cFileName, name, sizeof entry->cFileName - 1);
  return find;
}

// The directory part of `path`, up to its last separator ("." for none), in `directory`.
void DirectoryOf(const char* path, char (&directory)[PATH_MAX]) {
  const char* slash = std::strrchr(path, '/');
  if (!slash) {
    std::strcpy(directory, ".");
    return;
  }
  const std::size_t length = std::min<std::size_t>(slash == path ? 1 : slash - path, PATH_MAX - 1);
  std::memcpy(directory, path, length);
  directory[length] = '\0';
}

// Flushes the directory that holds `path`, so that a rename into it is on disk. On failure the
// thread's last error says why.
bool FlushDirectoryOf(const char* path) {
  if (FaultInjected(FaultPoint::kFlush)) return Fail(ERROR_DISK_FULL);
  char directory[PATH_MAX];
  DirectoryOf(path, directory);
  const Fd fd(open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0 || fsync(fd.get()) != 0) return FailErrno();
  return true;
}

// True when `from` and `to` lie in different directories (for the test build's separate
// volumes).
bool InDifferentDirectories(const char* from, const char* to) {
  char a[PATH_MAX], b[PATH_MAX];
  DirectoryOf(from, a);
  DirectoryOf(to, b);
  return std::strcmp(a, b) != 0;
}

// True when `from` and the directory of `to` lie on one file system: Linux will not rename
// between two mounts of one (a bind mount), where Windows would.
bool OneFileSystem(const char* from, const char* to) {
  char directory[PATH_MAX];
  DirectoryOf(to, directory);
  struct stat source, destination;
  return lstat(from, &source) == 0 && stat(directory, &destination) == 0 &&
         source.st_dev == destination.st_dev;
}

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

// Copies the regular file open as `in` into the file open as `out`: content, then owner where
// permitted, permission bits and times.
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
  return fchmod(out, status.st_mode & 07777) == 0 && futimens(out, times) == 0;
}

}  // namespace

DWORD Win32Error(int error) {
  // Every errno that the calls of this layer can give, each as Windows reports the same fault,
  // so that a report names the real cause.
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ENOKEY:
    case EKEYEXPIRED:
    case EKEYREVOKED:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOMEDIUM:
      return ERROR_NOT_READY;
    // A lease or a mandatory lock that another process holds.
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case EOPNOTSUPP:
    case ENOSYS:
      return ERROR_NOT_SUPPORTED;
    case ENXIO:
    case ENODEV:
      return ERROR_DEV_NOT_EXIST;
    case ENOTCONN:
    case ECONNRESET:
    case ECONNABORTED:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENOLINK:
    case ECOMM:
    case EREMOTEIO:
      return ERROR_UNEXP_NET_ERR;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ETIMEDOUT:
      return ERROR_SEM_TIMEOUT;
    case ERANGE:
      return ERROR_INSUFFICIENT_BUFFER;
    case EILSEQ:
      return ERROR_INVALID_NAME;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EFBIG:
    case EOVERFLOW:
      return ERROR_FILE_TOO_LARGE;
    case EINTR:
      return ERROR_OPERATION_ABORTED;
    case EFAULT:
      return ERROR_NOACCESS;
    case ESTALE:
      return ERROR_FILE_INVALID;
    case EIO:
      return ERROR_IO_DEVICE;
    case EMLINK:
      return ERROR_TOO_MANY_LINKS;
    case EUCLEAN:
      return ERROR_FILE_CORRUPT;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    default:
      return ERROR_WRITE_FAULT;
  }
}

BOOL Fail(DWORD error) {
  last_error = error;
  return FALSE;
}

BOOL FailErrno() {
  return Fail(Win32Error(errno));
}

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
  // "<directory>/*" (or "*" for the current directory) enumerates; anything else names one.
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
    return FindOne(pattern, entry);
  }

  DIR* dir = opendir(directory);
  if (!dir) {
    // The directory is a step of the pattern's path, so Windows reports it as a path not found.
    last_error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32Error(errno);
    return INVALID_HANDLE_VALUE;
  }
  const dirent* member = Next(dir);
  Find* find = member ? new (std::nothrow) Find{dir} : nullptr;
  if (!find) {
    if (member) last_error = ERROR_NOT_ENOUGH_MEMORY;
    closedir(dir);
    return INVALID_HANDLE_VALUE;
  }
  Fill(dirfd(dir), member->d_name, member->d_type, entry);
  return find;
}

BOOL FindNextFileA(HANDLE handle, WIN32_FIND_DATAA* entry) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  DIR* dir = static_cast<Find*>(handle)->dir;
  if (!dir) return Fail(ERROR_NO_MORE_FILES);
  if (FaultInjected(FaultPoint::kFindNext)) return Fail(ERROR_WRITE_FAULT);
  const dirent* member = Next(dir);
  if (!member) return FALSE;
  Fill(dirfd(dir), member->d_name, member->d_type, entry);
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  Find* find = static_cast<Find*>(handle);
  if (find->dir) closedir(find->dir);
  delete find;
  return TRUE;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) return Fail(ERROR_INVALID_PARAMETER);
  if (FaultInjected(FaultPoint::kMove)) return Fail(ERROR_DISK_FULL);
  if (const DWORD held = HeldFileError(from)) return Fail(held);
  if (DirectoriesAreVolumes() && InDifferentDirectories(from, to)) {
    return Fail(ERROR_NOT_SAME_DEVICE);
  }
  const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  // A file's own mode does not stop its replacement here, unlike Windows' read-only attribute:
  // on POSIX that is the directory's to decide.
  const int result =
      replace ? rename(from, to) : renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
  if (result != 0) {
    // A missing destination directory, as Windows tells it apart from a missing file.
    struct stat status;
    if (errno == ENOENT && lstat(from, &status) == 0) return Fail(ERROR_PATH_NOT_FOUND);
    // Two routes into one file system: a copy between them could copy one installed file over
    // another (the installation bind-mounted inside the backup), so none is offered.
    if (errno == EXDEV && OneFileSystem(from, to)) return Fail(ERROR_NOT_SUPPORTED);
    return FailErrno();
  }
  if ((flags & MOVEFILE_WRITE_THROUGH) && !FlushDirectoryOf(to)) return FALSE;
  return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
  if (FaultInjected(FaultPoint::kRemoveDirectory)) return Fail(ERROR_WRITE_PROTECT);
  return rmdir(path) == 0 ? TRUE : FailErrno();
}

BOOL DeleteFileA(LPCSTR path) {
  if (FaultInjected(FaultPoint::kDeleteFile)) return Fail(ERROR_WRITE_PROTECT);
  return unlink(path) == 0 ? TRUE : FailErrno();
}

BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL fail_if_exists) {
  if (FaultInjected(FaultPoint::kCopyFile)) return Fail(ERROR_DISK_FULL);
  // Non-blocking, and the type checked on the open descriptor: a FIFO would block a plain open,
  // and a check by name before it could be raced.
  Fd in(open(from, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (in.get() < 0) return FailErrno();
  struct stat status;
  if (fstat(in.get(), &status) != 0) return FailErrno();
  if (!S_ISREG(status.st_mode)) return Fail(ERROR_NOT_SUPPORTED);
  Fd out(open(to,
              O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC |
                  (fail_if_exists ? O_EXCL : O_TRUNC),
              0600));
  if (out.get() < 0) return FailErrno();
  struct stat target;
  if (fstat(out.get(), &target) != 0) return FailErrno();
  if (!S_ISREG(target.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (!CopyContent(in.get(), out.get(), status) || !out.Close()) return FailErrno();
  return TRUE;
}

BOOL SetFileAttributesA(LPCSTR path, DWORD attributes) {
  if (FaultInjected(FaultPoint::kSetAttributes)) return Fail(ERROR_WRITE_PROTECT);
  struct stat status;
  if (stat(path, &status) != 0) return FailErrno();
  const mode_t mode =
      attributes & FILE_ATTRIBUTE_READONLY ? status.st_mode & ~0222 : status.st_mode | S_IWUSR;
  return chmod(path, mode & 07777) == 0 ? TRUE : FailErrno();
}

DWORD GetFileAttributesA(LPCSTR path) {
  struct stat status;
  if (lstat(path, &status) != 0) {
    last_error = Win32Error(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (S_ISDIR(status.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (!S_ISLNK(status.st_mode)) return FILE_ATTRIBUTE_NORMAL;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode)
             ? FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT
             : FILE_ATTRIBUTE_REPARSE_POINT;
}
