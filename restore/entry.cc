#include "restore/entry.h"

#include <cstring>

#include "platform/resource.h"
#include "restore/durable.h"
#include "restore/log.h"
#include "restore/transfer.h"

namespace {
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1";
constexpr char kAppPathValue[] = "Inno Setup: App Path";
constexpr char kBackupDirectory[] = "backup";
// The waits before the second and the third walk when a file was held: a scanner or an indexer
// lets go within moments, and the whole run waits at most 2.5 s beyond its own work.
constexpr DWORD kHeldWaits[] = {500, 2000};

// Notes in `log`, if one is kept, what the registration gave.
void Registered(Log* log, Event outcome, DWORD number = 0, const char* directory = nullptr) {
  if (log != nullptr) log->NoteRegistry(outcome, kUninstallKey, kAppPathValue, directory, number);
}

// Looks the installation directory up and moves the backup into it, noting each outcome in
// `log` (nullptr: none).
void Restore(Log* log) {
  // Owned only once opened: a failed open promises nothing about the handle it leaves.
  HKEY opened = nullptr;
  const LSTATUS status =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE, &opened);
  if (status != ERROR_SUCCESS) return Registered(log, Event::kNoKey, status);
  const unique_hkey key(opened);
  // Zeroed first: the registry does not promise a terminator, and a value may have no data.
  // Any shorter string is then terminated; one that fills the buffer must carry its own.
  char directory[MAX_PATH] = {};
  DWORD type = REG_NONE;
  DWORD size = sizeof directory;
  const LSTATUS read = RegQueryValueExA(key.get(), kAppPathValue, nullptr, &type,
                                        reinterpret_cast<BYTE*>(directory), &size);
  if (read != ERROR_SUCCESS) return Registered(log, Event::kNotRead, read);
  if (type != REG_SZ) return Registered(log, Event::kNotString, type);
  if (size > sizeof directory) return Registered(log, Event::kNotRead, ERROR_MORE_DATA);
  // An empty path would put every destination at the root of the current drive.
  if (directory[0] == '\0') return Registered(log, Event::kEmpty);
  if (std::memchr(directory, '\0', sizeof directory) == nullptr) {
    return Registered(log, Event::kUnterminated);
  }
  Registered(log, Event::kFound, 0, directory);
  // Each walk finishes what an earlier one left; only a held file is worth another. The
  // restore is on disk before the program returns: an installer that reports success must be
  // telling the truth.
  Durability durable(kBackupDirectory, directory, log);
  WalkResult walk = MoveTree(kBackupDirectory, directory, log, &durable);
  for (const DWORD wait : kHeldWaits) {
    if (!walk.held) break;
    Note(log, Event::kWaiting, nullptr, nullptr, wait);
    Sleep(wait);
    walk = MoveTree(kBackupDirectory, directory, log, &durable);
  }
  durable.Finish();
}

}  // namespace

int RestoreFromBackup(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  // The log is kept only when the command line asks for it and its file opens; it never
  // changes the restore.
  Log log;
  char log_path[MAX_PATH];
  const bool logging = LogPath(command_line, log_path) && log.Open(log_path, command_line);
  Restore(logging ? &log : nullptr);
  log.Close();
  return 0;
}
