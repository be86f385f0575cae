#include "restore/transfer.h"

#include <cstring>

#include "platform/resource.h"
#include "platform/win32.h"
#include "restore/across.h"
#include "restore/durable.h"
#include "restore/held.h"
#include "restore/identity.h"
#include "restore/log.h"
#include "restore/names.h"
#include "restore/restart.h"

namespace {

// Returns `directory`, one separator and `name` in a new heap string, or nullptr when the heap
// has no block for it.
unique_heap_str JoinPath(const char* directory, const char* name) {
  const std::size_t directory_length = std::strlen(directory);
  const std::size_t name_length = std::strlen(name);
  unique_heap_str path(
      static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, directory_length + name_length + 2)));
  if (!path) return path;
  std::memcpy(path.get(), directory, directory_length);
  path[directory_length] = kPathSeparator;
  std::memcpy(path.get() + directory_length + 1, name, name_length + 1);
  return path;
}

// A directory on the path being walked, innermost first: what a linked directory is checked
// against before it is entered.
struct Level {
  const char* source;
  const Level* up;
  bool linked;  // Reached through a link: the directory lies outside the backup.
  // The log may lie in this directory or below: it is kept where it is. Set at a link, or at the
  // first file that no rename reaches (a mount of another file system).
  mutable bool holds_log;
  // Decided at the directory's first file that no rename reaches: whether the directory may lie
  // inside the installation directory, or hold it (a mount point, listed as a plain directory).
  mutable bool crossed = false;
  mutable bool installed = false;
  // How the renames out of a directory reached through a link are put on disk.
  mutable Durability::Reach reach = Durability::Reach::kUnknown;
};

// One walk: what it found that its caller may act on, the log it notes each outcome in (nullptr:
// none), what puts its renames on disk (nullptr: nothing), the linked directories it has
// entered, the installation directory (the outermost destination) and the temporary names of its
// cross-volume moves.
struct Walker {
  WalkResult result;
  Log* log;
  Durability* durable;
  EnteredDirectories entered;
  const char* installation;
  TemporaryNames temporary;
  bool at_restart;             // Queue a held installed file's replacement for the next restart.
  QueuedReplacements* queued;  // What earlier runs queued (nullptr: nothing).
};

// Notes that `from` is installed as `to`, which an older copy queued for the restart must not
// replace.
void Installed(Walker& walker, Event event, const char* from, const char* to) {
  Note(walker.log, event, from, to);
  if (walker.queued != nullptr) walker.queued->Cancel(to, walker.log);
}

// Notes `event` for a member that stays for a reason another walk would meet again.
void Stays(Walker& walker, Event event, const char* path, const char* other = nullptr) {
  walker.result.stayed = true;
  Note(walker.log, event, path, other);
}

// True unless the linked directory `path` is known to be none of the directories being walked
// and none that this walk entered through a link before; records it otherwise. Entering one being
// walked would walk the same tree again and again, each time one level deeper.
bool MayWalkAgain(const char* path, const Level& level, EnteredDirectories& entered) {
  Identity target;
  if (!IdentityOf(path, &target)) return true;
  for (const Level* above = &level; above != nullptr; above = above->up) {
    Identity identity;
    if (!IdentityOf(above->source, &identity) || identity == target) return true;
  }
  return !entered.Add(target);
}

// The directory the walk began in: the backup.
const char* WalkedBackup(const Level& level) {
  const Level* outermost = &level;
  while (outermost->up != nullptr) outermost = outermost->up;
  return outermost->source;
}

// True unless the linked directory `path` is known not to hold the backup: walked, it would move
// files from outside the backup, and the backup into itself. Tells in `*holds_log` whether it
// may hold the open log (`log`, nullptr: none).
bool MayHoldTheBackup(const char* path, const Level& level, const Log* log, bool* holds_log) {
  BY_HANDLE_FILE_INFORMATION target;
  if (!InformationOf(path, &target)) return true;
  *holds_log = level.holds_log ||
               (log != nullptr && log->path() != nullptr && LiesWithin(log->path(), target, true));
  return LiesWithin(WalkedBackup(level), target, true);
}

// True when the file `from`, in a directory that may hold the log, may be the log itself: moved,
// it would go on being written where it lands, over an installed file.
bool MayBeTheLog(const char* from, const Log& log) {
  BY_HANDLE_FILE_INFORMATION file, opened;
  // A file that does not open is not the log, which is open.
  if (!InformationOf(from, &file)) return false;
  return !GetFileInformationByHandle(log.file(), &opened) ||
         (file.dwVolumeSerialNumber == opened.dwVolumeSerialNumber &&
          file.nFileIndexHigh == opened.nFileIndexHigh &&
          file.nFileIndexLow == opened.nFileIndexLow);
}

// True unless the file the link `from` leads to is known to lie outside the backup: installed, the
// link would lead to nothing once the backup is restored.
bool MayLeadIntoTheBackup(const char* from, const Level& level) {
  BY_HANDLE_FILE_INFORMATION backup;
  return !InformationOf(WalkedBackup(level), &backup) || LiesWithin(from, backup, true);
}

// Readies the rename of `from` (see Durability) into `*flags`. A file that could not be put on
// disk stays: renamed, a cut could leave it installed empty. One that another process holds may
// flush on the next walk; one that its permissions keep closed would not.
bool ReadyToRename(const Level& level, const char* from, const char* to, Walker& walker,
                   DWORD* flags) {
  *flags = 0;
  if (walker.durable == nullptr ||
      walker.durable->BeforeRename(from, level.linked ? level.source : nullptr, level.reach,
                                   flags)) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
    walker.result.held = true;
    Note(walker.log, Event::kNotMoved, from, to);
  } else {
    Stays(walker, Event::kNotMoved, from, to);
  }
  return false;
}

// Moves the file `from` onto `to`. Notes in `walker` whether the move failed for a file held.
void MoveOneFile(const Level& level, const char* from, const char* to, DWORD attributes,
                 Walker& walker) {
  // One call that replaces: a move that fails leaves the installed file as it was. Deleting it
  // first would lose it whenever the move then failed. No directory is ever made.
  DWORD flags;
  if (!ReadyToRename(level, from, to, walker, &flags)) return;
  if (Rename(from, to, flags, walker.log)) return Installed(walker, Event::kMoved, from, to);
  bool copied = false;
  if (GetLastError() == ERROR_NOT_SAME_DEVICE) {
    // A bind mount of the installation inside the backup is no link: its files, copied across,
    // would replace installed files with one another. Only this path costs the check.
    if (!level.crossed) {
      level.crossed = true;
      level.installed = MayBeInstalled(level.source, walker.installation, false);
      if (level.installed) return Stays(walker, Event::kNotEnteredInstalled, level.source);
      // A mount of another file system inside the backup may hold the log: copied, it would go
      // on being written into a deleted file, and the installed file replaced by its start.
      BY_HANDLE_FILE_INFORMATION directory;
      level.holds_log =
          level.holds_log || (walker.log != nullptr && walker.log->path() != nullptr &&
                              (!InformationOf(level.source, &directory) ||
                               LiesWithin(walker.log->path(), directory, true)));
    }
    if (level.holds_log && MayBeTheLog(from, *walker.log)) {
      return Note(walker.log, Event::kKeptLog, from);
    }
    if (MoveAcrossVolumes(from, to, attributes, &copied, walker.temporary, walker.log)) {
      return Installed(walker, Event::kCopied, from, to);
    }
  }
  if (copied) return Installed(walker, Event::kInBoth, from, to);
  const DWORD error = GetLastError();
  if (!HeldBy(error, to)) return Stays(walker, Event::kNotMoved, from, to);
  if (walker.at_restart && ReplaceAtRestart(from, to, walker.temporary, walker.log)) {
    walker.result.queued = true;
    return;
  }
  walker.result.held = true;
  SetLastError(error);
  Note(walker.log, Event::kNotMoved, from, to);
}

// True when the relative link path `text` leads from the directory of `to` to the file `target`,
// as it would once the link is renamed onto `to`.
bool LeadsFrom(const char* to, const char* text, const Identity& target) {
  const char* last = std::strrchr(to, kPathSeparator);
  if (last == nullptr) return false;
  const std::size_t length = static_cast<std::size_t>(last - to), text_length = std::strlen(text);
  const unique_heap_str path(
      static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, length + text_length + 2)));
  if (!path) return false;
  std::memcpy(path.get(), to, length + 1);
  std::memcpy(path.get() + length + 1, text, text_length + 1);
  Identity landed;
  return IdentityOf(path.get(), &landed) && landed == target;
}

// Moves the link `from` onto `to` where it leads to the same file from there: a relative link
// may lead elsewhere, or nowhere, from another directory, and would replace the installed file
// with a dangling link. Where the system gives the link's own path, that is followed from `to`'s
// directory, and the link moves with one rename, so that a kill finds it in one place; where it
// does not, the link is renamed beside `to` first, where it leads as it would from `to`.
void MoveLink(const Level& level, const char* from, const char* to, DWORD attributes,
              Walker& walker) {
  Identity target, landed;
  char temporary[MAX_PATH];
  if (MayLeadIntoTheBackup(from, level)) return Stays(walker, Event::kKeptLinkIntoBackup, from);
  if (!IdentityOf(from, &target)) return Stays(walker, Event::kNotMoved, from, to);
  if (GetLinkTextA(from, temporary, sizeof temporary) != 0) {
    if (temporary[0] != kPathSeparator && !LeadsFrom(to, temporary, target)) {
      return Stays(walker, Event::kKeptLinkElsewhere, from);
    }
    return MoveOneFile(level, from, to, attributes, walker);
  }
  // A link whose path will not fit the buffer is placed beside `to` instead, as where the system
  // gives no path.
  if ((GetLastError() != ERROR_NOT_SUPPORTED && GetLastError() != ERROR_INSUFFICIENT_BUFFER) ||
      !MakeTemporary(to, temporary, walker.temporary)) {
    return Stays(walker, Event::kNotMoved, from, to);
  }
  DWORD flags;
  if (!ReadyToRename(level, from, to, walker, &flags)) return Discard(temporary);
  if (!Rename(from, temporary, flags, walker.log)) {
    // Another volume, or any other reason: the move of a file says what becomes of it.
    Discard(temporary);
    return MoveOneFile(level, from, to, attributes, walker);
  }
  const bool leads_there = IdentityOf(temporary, &landed) && landed == target;
  if (leads_there && Rename(temporary, to, flags, walker.log)) {
    return Installed(walker, Event::kMoved, from, to);
  }
  const DWORD error = GetLastError();
  if (!MoveFileExA(temporary, from, 0)) {
    return Stays(walker, Event::kNotMoved, temporary, from);
  }
  SetLastError(error);
  if (!leads_there) return Stays(walker, Event::kKeptLinkElsewhere, from);
  if (!HeldBy(error, to)) return Stays(walker, Event::kNotMoved, from, to);
  walker.result.held = true;
  Note(walker.log, Event::kNotMoved, from, to);
}

void Walk(const char* source, const char* destination, const Level* up, bool linked, bool holds_log,
          Walker& walker);

// Moves one member of `level`'s directory (found by the enumeration) into `destination`.
void MoveEntry(const Level& level, const char* destination, const WIN32_FIND_DATAA& entry,
               Walker& walker) {
  if (level.installed) return;
  // Skips "." and "..", and keeps every dot-named member where it is.
  if (entry.cFileName[0] == '.') {
    return Note(walker.log, Event::kKeptDot, level.source, entry.cFileName);
  }
  // A name that fills the whole field has no terminator (Windows may so report a name longer
  // than the field holds): it names no file faithfully, and reading on would leave the entry.
  if (std::memchr(entry.cFileName, '\0', sizeof entry.cFileName) == nullptr) {
    return Stays(walker, Event::kNameTooLong, level.source);
  }
  const unique_heap_str from = JoinPath(level.source, entry.cFileName);
  if (!from) return Stays(walker, Event::kNoMemory, level.source, entry.cFileName);
  const unique_heap_str to = JoinPath(destination, entry.cFileName);
  if (!to) return Stays(walker, Event::kNoMemory, level.source, entry.cFileName);
  if (Unspelled(entry.cFileName)) return Stays(walker, Event::kUnspelled, from.get());
  if (EndsUnfaithfully(entry.cFileName)) return Stays(walker, Event::kKeptNameEnd, from.get());
  if (MayBeShortName(entry.cFileName, to.get())) {
    return Stays(walker, Event::kKeptShortName, from.get());
  }
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    // Links to directories are walked, but never back into the tree being walked, nor twice into
    // one directory. Only a link costs the check, so a tree without links makes no call for it.
    bool holds_log = level.holds_log;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (MayBeInstalled(from.get(), walker.installation)) {
        return Stays(walker, Event::kNotEnteredInstalled, from.get());
      }
      if (MayWalkAgain(from.get(), level, walker.entered) ||
          MayHoldTheBackup(from.get(), level, walker.log, &holds_log)) {
        return Stays(walker, Event::kNotEntered, from.get());
      }
    }
    const bool linked = level.linked || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    Walk(from.get(), to.get(), &level, linked, holds_log, walker);
    return;
  }
  // The log stays where it is written; the restore is the same with a log or without.
  if (level.holds_log && MayBeTheLog(from.get(), *walker.log)) {
    return Note(walker.log, Event::kKeptLog, from.get());
  }
  // Renamed over an installed file, a FIFO or a device node would take its place.
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
    return Stays(walker, Event::kKeptDevice, from.get());
  }
  // A link is moved as itself, so one that leads to its own destination would replace the file
  // it leads to. Only a link costs the checks.
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (MayBeOneFile(from.get(), to.get())) return Stays(walker, Event::kKeptLink, from.get());
    return MoveLink(level, from.get(), to.get(), entry.dwFileAttributes, walker);
  }
  MoveOneFile(level, from.get(), to.get(), entry.dwFileAttributes, walker);
}

// Notes each file still in the directory `source` (listed by `pattern`) after a walk that left
// nothing behind on purpose: a POSIX rename between two links of one file does nothing and
// succeeds, so such a file was reported moved. Keeps the thread's last error.
void NoteStillThere(const char* pattern, const char* source, Log* log) {
  const DWORD error = GetLastError();
  WIN32_FIND_DATAA entry;
  const unique_hfind find(FindFirstFileA(pattern, &entry));
  if (find) {
    do {
      if (entry.cFileName[0] == '.' || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        continue;
      }
      const unique_heap_str path = JoinPath(source, entry.cFileName);
      if (path) Note(log, Event::kStillThere, path.get());
    } while (FindNextFileA(find.get(), &entry));
  }
  SetLastError(error);
}

// Walks the directory `source` into `destination`; `linked` tells whether `source` was reached
// through a link.
void Walk(const char* source, const char* destination, const Level* up, bool linked, bool holds_log,
          Walker& walker) {
  // The pattern is the source, a separator, "*" and the terminator; a longer source is skipped
  // rather than truncated, which would enumerate some other directory.
  char pattern[MAX_PATH];
  const std::size_t length = std::strlen(source);
  if (length + 3 > sizeof pattern) return Stays(walker, Event::kNoRoom, source);
  std::memcpy(pattern, source, length);
  pattern[length] = kPathSeparator;
  pattern[length + 1] = '*';
  pattern[length + 2] = '\0';

  const Level level{source, up, linked, holds_log};
  const unsigned long stayed = walker.log != nullptr ? walker.log->Stayed() : 0;
  WIN32_FIND_DATAA entry;
  {
    const unique_hfind find(FindFirstFileA(pattern, &entry));
    if (!find) {
      const DWORD error = GetLastError();
      // A backup that is not there has nothing to restore; any other directory stays.
      if (up == nullptr && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
        walker.result.missing = true;
      } else {
        walker.result.stayed = true;
      }
      return Note(walker.log, Event::kNotListed, source);
    }
    do {
      MoveEntry(level, destination, entry, walker);
    } while (FindNextFileA(find.get(), &entry));
    // Whatever the listing did not reach stays.
    if (GetLastError() != ERROR_NO_MORE_FILES) walker.result.stayed = true;
    Note(walker.log, Event::kListEnded, source);
  }
  // Fails, as it should, while anything is left in the directory. A directory reached through a
  // link is not the backup's: it stays, emptied or empty from the start, and so does the link.
  if (linked || level.installed) return;
  if (RemoveDirectoryA(source)) return Note(walker.log, Event::kRemoved, source);
  // Only a log has anything to tell, and only where nothing was meant to stay: no call otherwise.
  if (walker.log != nullptr && GetLastError() == ERROR_DIR_NOT_EMPTY &&
      walker.log->Stayed() == stayed) {
    NoteStillThere(pattern, source, walker.log);
  }
  Note(walker.log, Event::kLeft, source);
}

}  // namespace

WalkResult MoveTree(const char* source, const char* destination, Log* log, Durability* durable,
                    bool at_restart, QueuedReplacements* queued) {
  Walker walker{{}, log, durable, {}, destination, {}, at_restart, queued};
  Note(log, Event::kWalk, source, destination);
  // A source that is itself a link is walked as a linked directory, never removed: Wine's
  // RemoveDirectoryA would remove the directory it leads to. One call a walk.
  const DWORD attributes = GetFileAttributesA(source);
  const bool linked =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  // A linked source gets the check a nested link gets: one that leads into the installation, or
  // to a directory above it, would move installed files over one another. One that leads
  // nowhere, or an installation that is missing, is walked: it can move nothing.
  BY_HANDLE_FILE_INFORMATION ignored;
  if (linked && InformationOf(source, &ignored) && InformationOf(destination, &ignored) &&
      MayBeInstalled(source, destination)) {
    Stays(walker, Event::kNotEnteredInstalled, source);
    return walker.result;
  }
  Walk(source, destination, nullptr, linked, false, walker);
  return walker.result;
}
