// Points at which a test can make the POSIX layer fail, as a full disk, a vanished file or an
// exhausted heap would. The production build links fault_off.cc, which never fails; the test
// build links fault_on.cc.
#pragma once

#include "platform/win32.h"

enum class FaultPoint {
  kHeapAlloc,        // HeapAlloc returns nullptr.
  kFindNext,         // FindNextFileA reports a read error.
  kMove,             // MoveFileExA fails before it changes anything.
  kCopy,             // A write inside CopyFileA fails, leaving a partial copy.
  kCopyFile,         // CopyFileA fails before it writes anything.
  kCreateFile,       // CreateFileA fails.
  kFlush,            // FlushFileBuffers fails.
  kFileInformation,  // GetFileInformationByHandle fails.
  kDeleteFile,       // DeleteFileA fails.
  kSetAttributes,    // SetFileAttributesA fails.
  kRemoveDirectory,  // RemoveDirectoryA fails.
  kSleep,            // Sleep: never fails, only counts the waits.
  kWriteFile,        // WriteFile fails with ERROR_DISK_FULL, writing nothing.
  kOpenVolume,       // OpenVolumeA fails with ERROR_ACCESS_DENIED, as without elevation.
  kCount,
};

// True when this call at `point` is to fail.
bool FaultInjected(FaultPoint point);

// True while MoveFileExA is to treat every directory as a volume of its own, so that the
// cross-volume path runs on a machine with one file system.
bool DirectoriesAreVolumes();

// True while OpenVolumeA is to fail every call, as for a program run without elevation.
bool VolumesUnopenable();

// The error with which a move of `from` is to fail while a test holds that file, or 0.
DWORD HeldFileError(const char* from);

// Test build only. Makes the `n`-th call (from 1) at `point` fail, counting from now; 0 fails
// none, -1 every one. Calls at every point are counted from zero again.
void FailNthCall(FaultPoint point, int n);
// How many calls at `point` were made since the last FailNthCall.
int FaultCalls(FaultPoint point);
// Test build only. While on, a rename from one directory into another fails with
// ERROR_NOT_SAME_DEVICE and changes nothing, as between two volumes.
void SeparateDirectoryVolumes(bool on);
// Test build only. While on, every OpenVolumeA fails with ERROR_ACCESS_DENIED, so that a
// restore flushes each file before its rename.
void OpenNoVolumes(bool on);
// Test build only. The next `moves` moves (every one for -1) of a file whose path ends in `name`
// fail with `error` and change nothing, as while another process holds that file; 0 holds none.
void HoldFile(const char* name, DWORD error, int moves);
// How many moves of the held file were tried since the last HoldFile.
int HeldFileMoves();
