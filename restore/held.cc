#include "restore/held.h"

// True for the errors of a file that another process holds open: without sharing (a sharing
// violation, or access denied when it is the file to be replaced), or with a byte range locked.
// They clear when that process lets go. Every other error (a missing directory, a name clash,
// a full disk, no heap) would only fail the same way again.
bool Held(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

// True when the move onto `to` that just failed with `error` failed for a file that another
// process held. Access denied is also what a file's rename over a directory gives (a name clash),
// over a read-only file, or where no file is to be replaced (the permissions of its directory):
// no wait clears those. Only that error costs a look at `to`. Keeps the thread's last error.
bool HeldBy(DWORD error, const char* to) {
  if (!Held(error)) return false;
  if (error != ERROR_ACCESS_DENIED) return true;
  const DWORD attributes = GetFileAttributesA(to);
  SetLastError(error);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
}
