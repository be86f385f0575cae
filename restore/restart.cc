#include "restore/restart.h"

#include <cstring>

#include "platform/resource.h"
#include "restore/durable.h"
#include "restore/log.h"

namespace {

// Where Windows keeps the renames it makes at start-up (PendingFileRenameOperations).
constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingValue[] = "PendingFileRenameOperations";
// The system's own spelling of a path in the queue, and the mark of a replacing rename.
constexpr char kNtPrefix[] = "\\??\\";
constexpr char kReplaceMark = '!';

// `path` past the queue's marks.
const char* Plain(const char* path) {
  if (*path == kReplaceMark) ++path;
  return std::strncmp(path, kNtPrefix, sizeof kNtPrefix - 1) == 0 ? path + sizeof kNtPrefix - 1
                                                                  : path;
}

// `c` in the file system's case rule: any case where names ignore it, and only there.
char Folded(char c) {
  return kNamesIgnoreCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the paths from `a` to `a_end` and from `b` to `b_end` are one, in the file system's
// case rule, a run of separators as one.
bool SamePath(const char* a, const char* a_end, const char* b, const char* b_end) {
  while (a != a_end && b != b_end) {
    if (*a == kPathSeparator && *b == kPathSeparator) {
      while (a != a_end && *a == kPathSeparator) ++a;
      while (b != b_end && *b == kPathSeparator) ++b;
      continue;
    }
    if (Folded(*a++) != Folded(*b++)) return false;
  }
  return a == a_end && b == b_end;
}

// True when `source`, queued to replace `destination`, is a copy this program made: named
// ~rbXXXX.tmp, and beside its destination. Nothing else is ever deleted.
bool IsOurCopy(const char* source, const char* destination) {
  source = Plain(source);
  destination = Plain(destination);
  const char* name = std::strrchr(source, kPathSeparator);
  const char* beside = std::strrchr(destination, kPathSeparator);
  if (name == nullptr || beside == nullptr || !SamePath(source, name, destination, beside) ||
      std::strncmp(name + 1, "~rb", 3) != 0) {
    return false;
  }
  // The digits first: a shorter name ends at one of them, before ".tmp" is looked for.
  for (const char* digit = name + 4; digit != name + 8; ++digit) {
    if (!((*digit >= '0' && *digit <= '9') || (*digit >= 'A' && *digit <= 'F'))) return false;
  }
  return std::strcmp(name + 8, ".tmp") == 0;
}

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

QueuedReplacements::QueuedReplacements() {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &opened) !=
      ERROR_SUCCESS) {
    return;
  }
  const unique_hkey key(opened);
  DWORD type = REG_NONE, size = 0;
  if (RegQueryValueExA(key.get(), kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_MULTI_SZ || size == 0) {
    return;
  }
  // Two terminators more, whatever the value holds: every pair then ends.
  queue_ = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 3));
  if (queue_ == nullptr) return;
  std::memset(queue_, 0, size + 3);
  bool ours = false;
  if (RegQueryValueExA(key.get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(queue_),
                       &size) == ERROR_SUCCESS) {
    end_ = queue_ + size;
    for (const char* source = queue_; source < end_;) {
      const char* destination = source + std::strlen(source) + 1;
      ours = ours || IsOurCopy(source, destination);
      source = destination + std::strlen(destination) + 1;
    }
  }
  if (!ours) {
    HeapFree(GetProcessHeap(), 0, queue_);
    queue_ = nullptr;
  }
}

QueuedReplacements::~QueuedReplacements() {
  if (queue_ != nullptr) HeapFree(GetProcessHeap(), 0, queue_);
}

void QueuedReplacements::Cancel(const char* to, Log* log) {
  if (queue_ == nullptr) return;
  // The queue ends at its size, not at an empty string: an empty destination asks for a delete.
  for (const char* source = queue_; source < end_;) {
    const char* destination = source + std::strlen(source) + 1;
    const char* replaced = Plain(destination);
    if (IsOurCopy(source, destination) &&
        SamePath(replaced, replaced + std::strlen(replaced), to, to + std::strlen(to))) {
      // Only a plain file: a link or a directory of that name is not a copy this program made.
      const char* copy = Plain(source);
      const DWORD attributes = GetFileAttributesA(copy);
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          !(attributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))) {
        if (attributes & FILE_ATTRIBUTE_READONLY) {
          SetFileAttributesA(copy, attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        if (DeleteFileA(copy)) Note(log, Event::kCancelled, copy, to);
      }
    }
    source = destination + std::strlen(destination) + 1;
  }
}
