#include "restore/transfer.h"

#include <cstring>

#include "platform/resource.h"
#include "platform/win32.h"
#include "restore/durable.h"
#include "restore/log.h"
#include "restore/names.h"

namespace {

// Where a file lies: two routes to one file give the same three numbers.
struct Identity {
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
  bool operator==(const Identity&) const = default;
};

// The linked directories one walk has entered, so that each is entered once however many links
// lead to it: links that branch and meet again (each of many directories linking twice to the
// next) would otherwise walk the last directory once for every route, twice as often for each
// level. An open-addressed table on the process heap, so that a look-up costs the same however
// many links the tree holds.
class EnteredDirectories {
 public:
  EnteredDirectories() = default;
  EnteredDirectories(const EnteredDirectories&) = delete;
  EnteredDirectories& operator=(const EnteredDirectories&) = delete;
  ~EnteredDirectories() { HeapFree(GetProcessHeap(), 0, slots_); }

  // Records `identity`. False when it was recorded before, or when the heap has no room for it:
  // a directory that cannot be recorded is not entered.
  bool Add(const Identity& identity) {
    if (2 * (count_ + 1) > capacity_ && !Grow()) return false;
    Slot* slot = Find(identity);
    if (slot->used) return false;
    *slot = {identity, true};
    ++count_;
    return true;
  }

 private:
  struct Slot {
    Identity identity;
    bool used;
  };

  Slot* Find(const Identity& identity) const {
    std::size_t i = (identity.index_low * 2654435761u ^ identity.index_high ^ identity.volume);
    for (i &= capacity_ - 1; slots_[i].used && !(slots_[i].identity == identity);) {
      i = (i + 1) & (capacity_ - 1);
    }
    return &slots_[i];
  }

  // Doubles the table (capacity_ stays a power of two), keeping what it holds.
  bool Grow() {
    const std::size_t capacity = capacity_ == 0 ? 16 : 2 * capacity_;
    Slot* slots = static_cast<Slot*>(HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(Slot)));
    if (slots == nullptr) return false;
    for (std::size_t i = 0; i < capacity; ++i) slots[i].used = false;
    Slot* const old = slots_;
    const std::size_t old_capacity = capacity_;
    slots_ = slots;
    capacity_ = capacity;
    for (std::size_t i = 0; i < old_capacity; ++i) {
      if (old[i].used) *Find(old[i].identity) = old[i];
    }
    HeapFree(GetProcessHeap(), 0, old);
    return true;
  }

  Slot* slots_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;
};

// A directory on the path being walked, innermost first: what a linked directory is checked
// against before it is entered.
struct Level {
  const char* source;
  const Level* up;
  bool linked;  // Reached through a link: the directory lies outside the backup.
  // Decided at the directory's first file that no rename reaches: whether the directory may lie
  // inside the installation directory, or hold it (a mount point, listed as a plain directory).
  mutable bool crossed = false;
  mutable bool installed = false;
};

// One walk: what it found that its caller may act on, the log it notes each outcome in (nullptr:
// none), what puts its renames on disk (nullptr: nothing), the linked directories it has
// entered, and the installation directory (the outermost destination).
struct Walker {
  WalkResult result;
  Log* log;
  Durability* durable;
  EnteredDirectories entered;
  const char* installation;
  // The number the next temporary name of a cross-volume move tries; taken from the clock at the
  // walk's first such move.
  bool numbered = false;
  unsigned next_temporary = 0;
};

// The prefix of the temporary copy a cross-volume move places beside its destination, so that
// one a kill left behind can be told for what it is (Windows uses its first three bytes).
constexpr char kTemporaryPrefix[] = "~rb";

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

// Opens `path` (a link is followed) only to learn what the system holds of it. Fails for a
// missing path.
bool InformationOf(const char* path, BY_HANDLE_FILE_INFORMATION* information) {
  const unique_hfile file(CreateFileA(path, 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileInformationByHandle(file.get(), information);
}

// Where `path` lies, as InformationOf learns it.
bool IdentityOf(const char* path, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!InformationOf(path, &information)) return false;
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
               information.nFileIndexLow};
  return true;
}

// True when `a` and `b` may be one file reached twice. Wine gives every Linux file system under one
// drive letter one serial, and cloned volumes share theirs, so two files may agree on the identity;
// one file reached twice also agrees on its size and last write.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
         a.nFileSizeLow == b.nFileSizeLow &&
         a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime &&
         a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime;
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

// True when `path` lies inside the directory `directory`: the directory itself, or any directory
// above it up to its volume's root (as the system resolves it, links taken), is `directory`.
// `unknown` where that cannot be told (a resolved path too long for MAX_PATH, a failed open).
bool LiesWithin(const char* path, const BY_HANDLE_FILE_INFORMATION& directory, bool unknown) {
  const unique_hfile file(CreateFileA(path, 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  char resolved[MAX_PATH];
  const DWORD length = file ? GetFinalPathNameByHandleA(file.get(), resolved, MAX_PATH, 0) : 0;
  if (length == 0 || length >= MAX_PATH) return unknown;
  for (DWORD end = length;;) {
    resolved[end] = '\0';
    BY_HANDLE_FILE_INFORMATION information;
    if (!InformationOf(resolved, &information)) return unknown;
    if (SameFile(information, directory)) return true;
    // The root ("/", "\\?\C:\") keeps its separator, and is the last.
    if (resolved[end - 1] == kPathSeparator) return false;
    while (end > 0 && resolved[end - 1] != kPathSeparator) --end;
    if (end == 0) return false;
    if (end > 1 && resolved[end - 2] != ':') --end;
  }
}

// True when the directory `path` lies inside the installation directory, or holds it: walked as
// backup, it would move installed files out of their place, or into themselves. `unknown` where
// that cannot be told: true at a link, which may lead anywhere; false for a plain directory, which
// only a mount of the installation makes one.
bool MayBeInstalled(const char* path, const char* installation, bool unknown = true) {
  BY_HANDLE_FILE_INFORMATION target, root;
  if (!InformationOf(path, &target) || !InformationOf(installation, &root)) return unknown;
  return LiesWithin(path, root, unknown) || LiesWithin(installation, target, unknown);
}

// True unless `from` and `to` are known to be two files, or `to` does not exist: a link to the
// very file it would replace, or one file reached by two routes (a bind mount, a second drive
// letter for one volume). Moving or copying it over itself would leave a link to itself, or delete
// the only copy. A `from` that cannot be opened (a dangling link) is not known either.
// Known to be one file (see SameFile), the thread's last error is ERROR_ALREADY_EXISTS.
bool MayBeOneFile(const char* from, const char* to, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION source, destination;
  if (!InformationOf(from, &source)) return true;
  if (attributes != nullptr) *attributes = source.dwFileAttributes;
  if (!InformationOf(to, &destination)) return GetLastError() != ERROR_FILE_NOT_FOUND;
  if (!SameFile(source, destination)) return false;
  SetLastError(ERROR_ALREADY_EXISTS);
  return true;
}

// Renames the file `from` over `to` with `flags` added to MOVEFILE_REPLACE_EXISTING. True when
// the name moved, even if the write-through that the flags ask for failed after it: that is
// noted in `log` for what it is, since reporting the file as not moved would copy it again.
bool Rename(const char* from, const char* to, DWORD flags, Log* log) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | flags)) return true;
  if (!(flags & MOVEFILE_WRITE_THROUGH)) return false;
  // Only a failed write-through costs the look: `from` is gone once the rename happened.
  const DWORD error = GetLastError();
  BY_HANDLE_FILE_INFORMATION ignored;
  const bool renamed = error != ERROR_FILE_NOT_FOUND && !InformationOf(from, &ignored) &&
                       GetLastError() == ERROR_FILE_NOT_FOUND;
  SetLastError(error);
  if (renamed) Note(log, Event::kNotFlushed, to);
  return renamed;
}

// How many names a cross-volume move tries for its temporary copy before it gives up on the file.
constexpr int kTemporaryTries = 64;

// Makes a new empty file ~rbXXXX.tmp in `directory` (`length` bytes) and writes its path to
// `temporary`. Tries kTemporaryTries numbers from `walker`'s next one, so that a directory full of
// such names (a hostile tree, or many killed runs) costs a few calls a file, not 65,536; the file
// then stays in the backup, with the error.
bool MakeTemporary(const char* directory, std::size_t length, char (&temporary)[MAX_PATH],
                   Walker& walker) {
  constexpr std::size_t kNameLength = sizeof kTemporaryPrefix - 1 + 4 + 4;  // "XXXX" ".tmp"
  if (length + 1 + kNameLength >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!walker.numbered) {
    walker.next_temporary = static_cast<unsigned>(GetTickCount64());
    walker.numbered = true;
  }
  std::memcpy(temporary, directory, length);
  char* name = temporary + length;
  *name++ = kPathSeparator;
  std::memcpy(name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1);
  name += sizeof kTemporaryPrefix - 1;
  std::memcpy(name + 4, ".tmp", 5);
  for (int tried = 0; tried < kTemporaryTries; ++tried) {
    const unsigned number = walker.next_temporary++ & 0xFFFF;
    for (int digit = 0; digit < 4; ++digit) {
      name[digit] = "0123456789ABCDEF"[number >> (12 - 4 * digit) & 0xF];
    }
    const unique_hfile file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return false;
}

// Removes a temporary copy that could not be placed, keeping the error that stopped it.
void Discard(const char* temporary, bool read_only) {
  const DWORD error = GetLastError();
  if (read_only) SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(temporary);
  SetLastError(error);
}

// Moves the file `from` (with the attributes `attributes`) onto `to` on another volume, where no
// rename reaches. A plain copying move would write straight over `to`, so a full disk or a kill
// part way would leave the installed file truncated. Instead the file is copied beside `to`,
// flushed, renamed over `to`, and only then is `from` deleted: `to` is always the old file or
// the whole new one, and the file is never in neither place. On failure nothing is changed,
// except that if `from` cannot be deleted at the end the file is in both places: `*copied`
// then says so.
bool MoveAcrossVolumes(const char* from, const char* to, DWORD attributes, bool* copied,
                       Walker& walker) {
  Log* const log = walker.log;
  // The read-only attribute as the open file has it, which the enumeration may not have reported
  // (the POSIX layer reports a mode without the owner's write permission only here).
  DWORD current = 0;
  if (MayBeOneFile(from, to, &current)) return false;
  attributes |= current & FILE_ATTRIBUTE_READONLY;

  const char* last = std::strrchr(to, kPathSeparator);
  const std::size_t directory_length = static_cast<std::size_t>(last - to);
  char temporary[MAX_PATH];
  if (directory_length == 0 || !MakeTemporary(to, directory_length, temporary, walker)) {
    return false;
  }

  // The copy takes the source's attributes. Windows will not open a read-only file for writing,
  // so the attribute is off while the copy is flushed (Wine as root opens it all the same).
  const bool read_only = attributes & FILE_ATTRIBUTE_READONLY;
  if (!CopyFileA(from, temporary, FALSE) ||
      (read_only && !SetFileAttributesA(temporary, attributes & ~FILE_ATTRIBUTE_READONLY))) {
    Discard(temporary, false);
    return false;
  }
  {
    const unique_hfile copy(
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!copy || !FlushFileBuffers(copy.get())) {
      Discard(temporary, false);
      return false;
    }
  }
  if ((read_only && !SetFileAttributesA(temporary, attributes)) ||
      !Rename(temporary, to, MOVEFILE_WRITE_THROUGH, log)) {
    Discard(temporary, read_only);
    return false;
  }

  // A same-volume move ignores the read-only attribute, so this one does too; it comes back if
  // the file cannot be deleted after all.
  if (read_only) SetFileAttributesA(from, attributes & ~FILE_ATTRIBUTE_READONLY);
  *copied = true;
  // Wine says TRUE for a file on a read-only file system and leaves it there: one look, only on
  // this path, tells a file that is in both places.
  if (DeleteFileA(from)) {
    if (GetFileAttributesA(from) == INVALID_FILE_ATTRIBUTES) return true;
    SetLastError(ERROR_WRITE_PROTECT);
  }
  if (read_only) {
    const DWORD error = GetLastError();
    SetFileAttributesA(from, attributes);
    SetLastError(error);
  }
  return false;
}

// True for the errors of a file that another process holds open: without sharing (a sharing
// violation, or access denied when it is the file to be replaced), or with a byte range locked.
// They clear when that process lets go. Every other error (a missing directory, a name clash,
// a full disk, no heap) would only fail the same way again.
bool Held(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION;
}

// True when the move onto `to` that just failed with `error` failed for a file that another
// process held. Access denied is also what a file's rename over a directory gives: a name clash,
// which no wait clears. Only that error costs a look at `to`. Keeps the thread's last error.
bool HeldBy(DWORD error, const char* to) {
  if (!Held(error)) return false;
  if (error != ERROR_ACCESS_DENIED) return true;
  const DWORD attributes = GetFileAttributesA(to);
  SetLastError(error);
  return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Moves the file `from` onto `to`. Notes in `walker` whether the move failed for a file held.
void MoveOneFile(const Level& level, const char* from, const char* to, DWORD attributes,
                 Walker& walker) {
  // One call that replaces: a move that fails leaves the installed file as it was. Deleting it
  // first would lose it whenever the move then failed. No directory is ever made.
  const DWORD flags = walker.durable != nullptr ? walker.durable->BeforeRename(from) : 0;
  if (Rename(from, to, flags, walker.log)) return Note(walker.log, Event::kMoved, from, to);
  bool copied = false;
  if (GetLastError() == ERROR_NOT_SAME_DEVICE) {
    // A bind mount of the installation inside the backup is no link: its files, copied across,
    // would replace installed files with one another. Only this path costs the check.
    if (!level.crossed) {
      level.crossed = true;
      level.installed = MayBeInstalled(level.source, walker.installation, false);
      if (level.installed) return Note(walker.log, Event::kNotEnteredInstalled, level.source);
    }
    if (MoveAcrossVolumes(from, to, attributes, &copied, walker)) {
      return Note(walker.log, Event::kCopied, from, to);
    }
  }
  if (HeldBy(GetLastError(), to)) walker.result.held = true;
  Note(walker.log, copied ? Event::kInBoth : Event::kNotMoved, from, to);
}

void Walk(const char* source, const char* destination, const Level* up, bool linked,
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
    return Note(walker.log, Event::kNameTooLong, level.source);
  }
  const unique_heap_str from = JoinPath(level.source, entry.cFileName);
  if (!from) return Note(walker.log, Event::kNoMemory, level.source, entry.cFileName);
  const unique_heap_str to = JoinPath(destination, entry.cFileName);
  if (!to) return Note(walker.log, Event::kNoMemory, level.source, entry.cFileName);
  if (Unspelled(entry.cFileName)) return Note(walker.log, Event::kUnspelled, from.get());
  if (EndsUnfaithfully(entry.cFileName)) return Note(walker.log, Event::kKeptNameEnd, from.get());
  if (MayBeShortName(entry.cFileName, to.get())) {
    return Note(walker.log, Event::kKeptShortName, from.get());
  }
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    // Links to directories are walked, but never back into the tree being walked, nor twice into
    // one directory. Only a link costs the check, so a tree without links makes no call for it.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (MayBeInstalled(from.get(), walker.installation)) {
        return Note(walker.log, Event::kNotEnteredInstalled, from.get());
      }
      if (MayWalkAgain(from.get(), level, walker.entered)) {
        return Note(walker.log, Event::kNotEntered, from.get());
      }
    }
    const bool linked = level.linked || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    Walk(from.get(), to.get(), &level, linked, walker);
    return;
  }
  // A link is moved as itself, so one that leads to its own destination would replace the file
  // it leads to. Only a link costs the check.
  if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      MayBeOneFile(from.get(), to.get())) {
    return Note(walker.log, Event::kKeptLink, from.get());
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
void Walk(const char* source, const char* destination, const Level* up, bool linked,
          Walker& walker) {
  // The pattern is the source, a separator, "*" and the terminator; a longer source is skipped
  // rather than truncated, which would enumerate some other directory.
  char pattern[MAX_PATH];
  const std::size_t length = std::strlen(source);
  if (length + 3 > sizeof pattern) return Note(walker.log, Event::kNoRoom, source);
  std::memcpy(pattern, source, length);
  pattern[length] = kPathSeparator;
  pattern[length + 1] = '*';
  pattern[length + 2] = '\0';

  const Level level{source, up, linked};
  const unsigned long stayed = walker.log != nullptr ? walker.log->Stayed() : 0;
  WIN32_FIND_DATAA entry;
  {
    const unique_hfind find(FindFirstFileA(pattern, &entry));
    if (!find) return Note(walker.log, Event::kNotListed, source);
    do {
      MoveEntry(level, destination, entry, walker);
    } while (FindNextFileA(find.get(), &entry));
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

WalkResult MoveTree(const char* source, const char* destination, Log* log, Durability* durable) {
  Walker walker{{}, log, durable, {}, destination};
  Note(log, Event::kWalk, source, destination);
  // A source that is itself a link is walked as a linked directory, never removed: Wine's
  // RemoveDirectoryA would remove the directory it leads to. One call a walk.
  const DWORD attributes = GetFileAttributesA(source);
  const bool linked =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  Walk(source, destination, nullptr, linked, walker);
  return walker.result;
}
