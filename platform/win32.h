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

#else

#include <cstddef>
#include <cstdint>

inline constexpr char kPathSeparator = '/';

using BOOL = int;
using BYTE = unsigned char;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using LSTATUS = LONG;
using REGSAM = DWORD;
using SIZE_T = std::size_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using HANDLE = void*;
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

inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x1;
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_DIRECTORY = 267;

// The error of the calling thread's last failed call, as Windows keeps it.
DWORD GetLastError();
void SetLastError(DWORD error);

// The process heap: HeapAlloc returns nullptr when the block cannot be had (flags must be 0);
// HeapFree accepts nullptr.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// Enumerates the directory named by `pattern`, which must be a directory path followed by the
// separator and "*". Fills `entry` with the first member ("." and ".." included) and returns the
// enumeration, or INVALID_HANDLE_VALUE when the directory cannot be enumerated. The directory
// bit is set for directories and for links to them; members removed after the enumeration was
// opened may or may not still be listed, the others are listed once each.
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* entry);
// Fills `entry` with the next member; FALSE when there is none or the read failed.
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* entry);
BOOL FindClose(HANDLE find);

// Renames `from` to `to` in one step. MOVEFILE_REPLACE_EXISTING replaces an existing file `to`
// (never a directory); without it an existing `to` fails the call. MOVEFILE_COPY_ALLOWED moves a
// regular file to another file system by copying it to a temporary file beside `to` and renaming
// that over `to`: on failure both files stay as they were. The directory of `to` is never made.
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
// Removes an empty directory; fails on anything else, including a link to a directory.
BOOL RemoveDirectoryA(LPCSTR path);

// HKEY_LOCAL_MACHINE is a file in the text format regedit exports, named by the environment
// variable RESTORE_BACKUP_HKLM (default /etc/restore-backup/HKLM.reg). Every other hive is
// empty. Names of keys and values match case-insensitively. Results as Windows gives them:
// ERROR_FILE_NOT_FOUND for an absent key or value, ERROR_MORE_DATA with the size needed.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                         LPDWORD size);
LSTATUS RegCloseKey(HKEY key);

// The program's entry, called once by the process start-up with no window to show.
int WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

#endif
