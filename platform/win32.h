// The Win32 names the program calls, and nothing else.
//
// On Windows they are the system's own. Elsewhere the POSIX layer in platform/posix provides the
// same types, constants and functions, with the subset of Win32 behaviour the program relies on
// (each function's contract is stated below). Only this header knows which system it is on.
#pragma once

#ifdef _WIN32

#include <windows.h>

// The separator that joins a directory path and a name.
inline constexpr char kPathSeparator = '\\';
// The end of a line of text.
inline constexpr char kLineEnd[] = "\r\n";
// Whether the file system takes two names that differ only in ASCII case for one.
inline constexpr bool kNamesIgnoreCase = true;

#else

#include <cstdarg>
#include <cstddef>
#include <cstdint>

inline constexpr char kPathSeparator = '/';
inline constexpr char kLineEnd[] = "\n";
inline constexpr bool kNamesIgnoreCase = false;

using BOOL = int;
using BYTE = unsigned char;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using ULONGLONG = std::uint64_t;
using LONG = std::int32_t;
using LSTATUS = LONG;
using REGSAM = DWORD;
using SIZE_T = std::size_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using LPCVOID = const void*;
using HANDLE = void*;
using UINT = unsigned int;
using LPSECURITY_ATTRIBUTES = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

#define WINAPI
#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_APPEND_DATA = 0x4;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x1;
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_WRITE_PROTECT = 19;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_LOCK_VIOLATION = 33;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
inline constexpr DWORD ERROR_UNEXP_NET_ERR = 59;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_SEM_TIMEOUT = 121;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_DIRECTORY = 267;
inline constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_NOACCESS = 998;
inline constexpr DWORD ERROR_FILE_INVALID = 1006;
inline constexpr DWORD ERROR_IO_DEVICE = 1117;
inline constexpr DWORD ERROR_TOO_MANY_LINKS = 1142;
inline constexpr DWORD ERROR_FILE_CORRUPT = 1392;
inline constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

// The error of the calling thread's last failed call, as Windows keeps it.
DWORD GetLastError();
void SetLastError(DWORD error);

// The process heap: HeapAlloc returns nullptr when the block cannot be had (flags must be 0);
// HeapFree accepts nullptr.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Enumerates the directory named by `pattern`, a directory path followed by the separator and
// "*". Fills `entry` with the first member ("." and ".." included) and returns the enumeration,
// or INVALID_HANDLE_VALUE when the directory cannot be enumerated. A pattern without a final
// "*" names one member: its entry, as the enumeration of its directory would give it, is the
// only one. The directory bit is set for directories and for links to them, which also carry
// FILE_ATTRIBUTE_REPARSE_POINT; members removed after the enumeration was opened may or may not
// still be listed, the others are listed once each. A FIFO, a device or a socket (or a link to
// one) carries FILE_ATTRIBUTE_DEVICE. FILE_ATTRIBUTE_READONLY is never reported:
// a file's own mode does not stop its replacement or removal here. A missing directory fails
// with ERROR_PATH_NOT_FOUND.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* entry);
// Fills `entry` with the next member; FALSE when there is none or the read failed.
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* entry);
BOOL FindClose(HANDLE find);

// Renames `from` to `to` in one step. MOVEFILE_REPLACE_EXISTING replaces an existing file `to`
// (never a directory); without it an existing `to` fails the call. Across file systems it fails
// with ERROR_NOT_SAME_DEVICE and changes nothing: there is no copying fallback. Between two mounts
// of one file system (a bind mount), which Linux does not rename across, it fails with
// ERROR_NOT_SUPPORTED: Windows would rename there, and a copy could be between installed files.
// With MOVEFILE_WRITE_THROUGH it returns only once the rename is on disk (the directory of `to` is
// flushed). The directory of `to` is never made; when it is missing the call fails with
// ERROR_PATH_NOT_FOUND (ERROR_FILE_NOT_FOUND when `from` is). There is no restart to wait for:
// MOVEFILE_DELAY_UNTIL_REBOOT fails with ERROR_INVALID_PARAMETER, as an unsupported flag does.
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// Removes an empty directory; fails on anything else, including a link to a directory.
BOOL RemoveDirectoryA(LPCSTR path);
// Removes a file (or a link, never its target); fails on a directory.
BOOL DeleteFileA(LPCSTR path);

// Copies the regular file `from` to `to`: content, permission bits, times, and the owner where
// permitted. Replaces an existing file `to` unless `fail_if_exists`. A link, FIFO, device or
// socket as `from` is not opened for reading and fails the call with ERROR_NOT_SUPPORTED (a link
// is not followed: ERROR_CANT_RESOLVE_FILENAME). The copy is not flushed. On failure a partial
// `to` may be left, as on Windows; the caller removes it.
BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL fail_if_exists);
// FILE_ATTRIBUTE_READONLY takes every write permission from the file, anything else gives the
// owner's back; other attributes are ignored.
BOOL SetFileAttributesA(LPCSTR path, DWORD attributes);
// The attributes of `path` itself, a link not followed: FILE_ATTRIBUTE_DIRECTORY for a directory
// or a link to one, FILE_ATTRIBUTE_REPARSE_POINT added for a link, FILE_ATTRIBUTE_NORMAL for
// anything else. INVALID_FILE_ATTRIBUTES, with the error, when it cannot be looked at.
DWORD GetFileAttributesA(LPCSTR path);

// Opens `path` (links followed) for `access` (0, GENERIC_READ, GENERIC_WRITE or
// FILE_APPEND_DATA, which writes at the end) as `disposition` says: OPEN_EXISTING, OPEN_ALWAYS,
// CREATE_ALWAYS (which empties it) or CREATE_NEW (which fails with ERROR_FILE_EXISTS when
// anything of that name exists, a link included). `share` and `security` are ignored. Only a
// regular file is opened, or a directory with FILE_FLAG_BACKUP_SEMANTICS (otherwise
// ERROR_ACCESS_DENIED; with GENERIC_WRITE it can only be flushed, and no file opens so); a FIFO,
// device or socket fails with ERROR_NOT_SUPPORTED, and no open ever blocks on one. With access 0
// and OPEN_EXISTING the file is not opened for reading or writing, only named (a FIFO or device
// never sees an open): the handle serves GetFileInformationByHandle. Returns INVALID_HANDLE_VALUE
// on failure.
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE template_file);
BOOL CloseHandle(HANDLE handle);
// Writes all `size` bytes or fails; `*written` says how many went out. `overlapped` must be
// nullptr.
BOOL WriteFile(HANDLE file, const void* data, DWORD size, LPDWORD written, void* overlapped);
// Puts the file's (or directory's) data on disk; for a handle from OpenVolumeA, every file of
// the volume (syncfs).
BOOL FlushFileBuffers(HANDLE file);
// The file's identity (dwVolumeSerialNumber and nFileIndexHigh/Low: two routes to one file give
// the same three), size, link count and times. dwFileAttributes holds only the directory bit, or
// FILE_ATTRIBUTE_READONLY for a file whose owner may not write it.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
// Writes into `path` (`size` bytes) the absolute path of the open `file` as the system resolves
// it, every link and ".." taken, and returns its length; when it does not fit, writes nothing and
// returns the size it needs, terminator included. 0 on failure. `flags` must be 0.
DWORD GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags);

// Suspends the thread for at least `milliseconds`.
void Sleep(DWORD milliseconds);
// The local date and time (wDayOfWeek is 0, Sunday, to 6).
void GetLocalTime(SYSTEMTIME* time);
// Milliseconds from a fixed moment; never goes back.
ULONGLONG GetTickCount64();

// Writes into `buffer` (`size` bytes) the English text, in Windows' own words, of the error
// `message_id` followed by CR LF, as Windows gives it, and returns its length without the
// terminator. `flags` must be FORMAT_MESSAGE_FROM_SYSTEM, optionally with
// FORMAT_MESSAGE_IGNORE_INSERTS; `source`, `language_id` and `arguments` are ignored. Every
// error this layer reports has a text. Returns 0 with ERROR_MR_MID_NOT_FOUND for an error
// without one, ERROR_INSUFFICIENT_BUFFER when the text does not fit, ERROR_INVALID_PARAMETER for
// other flags.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                     DWORD size, va_list* arguments);
// Writes the temporary directory (TMPDIR if it is set and not empty, else /tmp) with a final
// separator, as Windows ends it, and returns its length; when it does not fit in `size` bytes,
// writes nothing and returns the size it needs, terminator included.
DWORD GetTempPathA(DWORD size, LPSTR buffer);
// Writes the current directory and returns its length; when it does not fit in `size` bytes,
// writes nothing and returns the size it needs, terminator included. 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer);
// Writes into `buffer` (`size` bytes) the absolute path that `path` names: a relative one
// joined to the current directory, then "." and ".." folded and repeated separators made one,
// by the text alone (links are not resolved). Returns its length; when it does not fit, writes
// nothing and returns the size it needs, terminator included. 0 on failure. `file_part` must be
// nullptr.
DWORD GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* file_part);

// HKEY_LOCAL_MACHINE is a file in the text format regedit exports, named by the environment
// variable RESTORE_BACKUP_HKLM (default /etc/restore-backup/HKLM.reg). Every other hive is
// empty. Names of keys and values match case-insensitively. Results as Windows gives them:
// ERROR_FILE_NOT_FOUND for an absent key or value, ERROR_MORE_DATA with the size needed.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegCloseKey(HKEY key);
// Nothing is written to this registry, so there is nothing to flush: ERROR_SUCCESS for a key.
LSTATUS RegFlushKey(HKEY key);

// The process's whole command line, the program's name first, as the start-up joined its
// arguments (never nullptr).
LPSTR GetCommandLineA();

// The program's entry, called once by the process start-up with no window to show.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

#endif

// Beyond Win32, on both systems: opens, for FlushFileBuffers, the volume that holds the existing
// directory `path`, so that one flush puts every file of it on disk. On Windows that is the
// volume's device (\\.\C:, or \\?\Volume{...} for one mounted in a folder), which opens for
// writing only for an administrator; a network share has none. On POSIX it is the directory
// itself, whose flush syncs its whole file system. INVALID_HANDLE_VALUE, with the error, where
// the volume cannot be opened; the caller then flushes each file instead. Close with CloseHandle.
HANDLE OpenVolumeA(LPCSTR path);

// Beyond Win32, on both systems: TRUE where the system is known to report a rename's
// write-through, or a volume's flush, done without doing it. Wine does both (it is known by
// wine_get_version in its ntdll); Windows and the POSIX layer keep their word.
BOOL IgnoresWriteThrough();

// Beyond Win32, on both systems: writes into `text` (`size` bytes) the path a symbolic link
// holds, as it was made (relative or not), terminated, and returns its length; 0, with the
// error, where it cannot. Windows gives 0 with ERROR_NOT_SUPPORTED: there the walk places a
// link beside its destination to learn where it leads from there.
DWORD GetLinkTextA(LPCSTR link, LPSTR text, DWORD size);
