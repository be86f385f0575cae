#include "restore/entry.h"

#include <cstring>

#include "platform/resource.h"
#include "restore/command_line.h"
#include "restore/durable.h"
#include "restore/identity.h"
#include "restore/log.h"
#include "restore/names.h"
#include "restore/outcome.h"
#include "restore/restart.h"
#include "restore/transfer.h"

namespace {
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1";
constexpr char kAppPathValue[] = "Inno Setup: App Path";
constexpr char kBackupDirectory[] = "backup";
// The waits before the second and the third walk when a file was held: a scanner or an indexer
// lets go within moments, and the whole run waits at most 2.5 s beyond its own work.
constexpr DWORD kHeldWaits[] = {500, 2000};
constexpr char kExitCodeSwitch[] = "/exitcode";
constexpr char kRestartSwitch[] = "/restartreplace";

// Notes in `log`, if one is kept, what the registration gave.
void Registered(Log* log, Event outcome, DWORD number = 0, const char* directory = nullptr) {
  if (log != nullptr) log->NoteRegistry(outcome, kUninstallKey, kAppPathValue, directory, number);
}

// Reads the installation directory into `directory` from the opened uninstall key `key`.
// Returns kFound, or the event that says why there is none, with its number in `*number`.
Event ReadRegistration(HKEY key, char (&directory)[MAX_PATH], DWORD* number) {
  // Zeroed by the caller: the registry does not promise a terminator, and a value may have no
  // data. Any shorter string is then terminated; one that fills the buffer must carry its own.
  DWORD type = REG_NONE;
  DWORD size = sizeof directory;
  const LSTATUS read = RegQueryValueExA(key, kAppPathValue, nullptr, &type,
                                        reinterpret_cast<BYTE*>(directory), &size);
  *number = read;
  if (read != ERROR_SUCCESS) return Event::kNotRead;
  *number = type;
  if (type != REG_SZ) return Event::kNotString;
  *number = ERROR_MORE_DATA;
  if (size > sizeof directory) return Event::kNotRead;
  // An empty path would put every destination at the root of the current drive.
  if (directory[0] == '\0') return Event::kEmpty;
  if (std::memchr(directory, '\0', sizeof directory) == nullptr) return Event::kUnterminated;
  // Wine shows a Linux name that is not UTF-8 with U+FFFD, as Windows an unpaired surrogate:
  // such a path may reach a directory of another name.
  if (HoldsReplacementCharacter(directory)) return Event::kUnspellable;
  return Event::kFound;
}

bool SameName(char a, char b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a == b || (kNamesIgnoreCase && lower(a) == lower(b));
}

// True unless the file `path` is known to lie outside the directory `directory`, by their full
// paths (as the system completes a relative path and folds "." and ".."), in the file system's
// own case rule.
bool MayLieWithin(const char* path, const char* directory) {
  char full[MAX_PATH], root[MAX_PATH];
  const DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
  DWORD root_length = GetFullPathNameA(directory, MAX_PATH, root, nullptr);
  if (length == 0 || length >= MAX_PATH || root_length == 0 || root_length >= MAX_PATH) {
    return true;
  }
  while (root_length > 0 && root[root_length - 1] == kPathSeparator) --root_length;
  if (length <= root_length || full[root_length] != kPathSeparator) return false;
  for (DWORD i = 0; i < root_length; ++i) {
    if (!SameName(full[i], root[i])) return false;
  }
  return true;
}

// True unless the open log `log` at `path` is known to be a file of its own outside `directory`:
// a second link to it, or a route to it through a link, a short name or another spelling of
// `directory`, would write the log into a file of the backup or an installed one.
bool MayShare(const Log& log, const char* path, const char* directory) {
  BY_HANDLE_FILE_INFORMATION file, root;
  if (!GetFileInformationByHandle(log.file(), &file) || file.nNumberOfLinks != 1) return true;
  // A directory that is not there, or a link that leads round in a loop, holds no file.
  if (!InformationOf(directory, &root)) {
    return GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND &&
           GetLastError() != ERROR_CANT_RESOLVE_FILENAME;
  }
  return LiesWithin(path, root, true);
}

// What the last walk left in the backup.
Outcome OutcomeOf(const WalkResult& walk) {
  if (walk.missing) return Outcome::kNoBackup;
  if (walk.stayed) return Outcome::kStayed;
  if (walk.held) return Outcome::kHeld;
  return walk.queued ? Outcome::kAtRestart : Outcome::kInstalled;
}

// Looks the installation directory up and moves the backup into it. Keeps the log at `log_path`
// (nullptr: none) in `log`, unless it would lie inside the backup or the installation: there it
// would be one of the files moved, or be written into an installed one. Returns what came of it.
Outcome Restore(const char* log_path, const char* command_line, Log& log, Log*& kept) {
  // Owned only once opened: a failed open promises nothing about the handle it leaves.
  HKEY opened = nullptr;
  const LSTATUS status =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE, &opened);
  const unique_hkey key(status == ERROR_SUCCESS ? opened : nullptr);
  char directory[MAX_PATH] = {};
  DWORD number = static_cast<DWORD>(status);
  const Event outcome =
      status != ERROR_SUCCESS ? Event::kNoKey : ReadRegistration(key.get(), directory, &number);
  const bool found = outcome == Event::kFound;
  // The path's text refuses most such logs before a file is made; what the opened file is
  // refuses the rest.
  if (log_path != nullptr && !MayLieWithin(log_path, kBackupDirectory) &&
      !(found && MayLieWithin(log_path, directory)) && log.Open(log_path, command_line)) {
    if (MayShare(log, log_path, kBackupDirectory) ||
        (found && MayShare(log, log_path, directory))) {
      log.Abandon();
    } else {
      kept = &log;
    }
  }
  Registered(kept, outcome, number, found ? directory : nullptr);
  if (!found) return Outcome::kNotInstalled;
  const bool at_restart = HasSwitch(command_line, kRestartSwitch);
  QueuedReplacements queued;
  // Each walk finishes what an earlier one left; only a held file is worth another. The
  // restore is on disk before the program returns: an installer that reports success must be
  // telling the truth.
  Durability durable(kBackupDirectory, directory, kept);
  // A held file is queued for the restart only once the waits are over.
  constexpr std::size_t kWaits = sizeof kHeldWaits / sizeof *kHeldWaits;
  WalkResult walk = MoveTree(kBackupDirectory, directory, kept, &durable, false, &queued);
  for (std::size_t i = 0; i < kWaits && walk.held; ++i) {
    Note(kept, Event::kWaiting, nullptr, nullptr, kHeldWaits[i]);
    Sleep(kHeldWaits[i]);
    walk = MoveTree(kBackupDirectory, directory, kept, &durable, at_restart && i + 1 == kWaits,
                    &queued);
  }
  durable.Finish();
  return OutcomeOf(walk);
}

}  // namespace

int RestoreFromBackup(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  // The log is kept only when the command line asks for it and its file opens; it never
  // changes the restore.
  Log log;
  Log* kept = nullptr;
  char log_path[MAX_PATH];
  const Outcome outcome =
      Restore(LogPath(command_line, log_path) ? log_path : nullptr, command_line, log, kept);
  const DWORD status = HasSwitch(command_line, kExitCodeSwitch) ? ExitStatus(outcome) : 0;
  if (kept != nullptr) kept->SetOutcome(outcome, status);
  log.Close();
  return static_cast<int>(status);
}
