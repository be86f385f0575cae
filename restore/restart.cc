#include "restore/restart.h"

#include "platform/resource.h"
#include "restore/durable.h"
#include "restore/log.h"

namespace {

// Where Windows keeps the renames it makes at start-up (PendingFileRenameOperations).
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Puts the queued renames on disk: the registry reaches the disk only lazily, and a cut before
// it would find the queue gone and the backup's copy deleted.
bool FlushQueue() {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) !=
      ERROR_SUCCESS) {
    return false;
  }
  const unique_hkey key(opened);
  const LSTATUS flushed = RegFlushKey(key.get());
  SetLastError(static_cast<DWORD>(flushed));
  return flushed == ERROR_SUCCESS;
}

}  // namespace

bool ReplaceAtRestart(const char* from, const char* to, TemporaryNames& names, Log* log) {
  char temporary[MAX_PATH];
  if (!MakeTemporary(to, temporary, names)) {
    Note(log, Event::kNotQueued, from, to);
    return false;
  }
  const DWORD attributes = GetFileAttributesA(from);
  const bool read_only =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  // A copy, not a rename, even on one volume: renamed away, the file would be where no later
  // run looks for it, should this one end before its queue is on disk.
  if (!CopyFileA(from, temporary, FALSE) || !FlushFile(temporary) ||
      !MoveFileExA(temporary, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) ||
      !FlushQueue()) {
    Note(log, Event::kNotQueued, from, to);
    // A queued rename whose file is gone does nothing at the restart.
    Discard(temporary, read_only);
    return false;
  }
  Note(log, Event::kQueued, temporary, to);
  if (read_only) SetFileAttributesA(from, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!DeleteFileA(from)) {
    const DWORD error = GetLastError();
    if (read_only) SetFileAttributesA(from, attributes);
    SetLastError(error);
    Note(log, Event::kQueuedInBoth, from, to);
  }
  return true;
}
