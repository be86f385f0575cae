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

char Folded(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the paths from `a` to `a_end` and from `b` to `b_end` are one: in any case, a run of
// separators as one.
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
    for (const char* source = queue_; *source != '\0';) {
      const char* destination = source + std::strlen(source) + 1;
      ours = ours || IsOurCopy(source, destination);
      source = *destination != '\0' ? destination + std::strlen(destination) + 1 : destination;
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
  for (const char* source = queue_; *source != '\0';) {
    const char* destination = source + std::strlen(source) + 1;
    if (*destination == '\0') return;
    const char* replaced = Plain(destination);
    if (IsOurCopy(source, destination) &&
        SamePath(replaced, replaced + std::strlen(replaced), to, to + std::strlen(to))) {
      const char* copy = Plain(source);
      SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL);
      if (DeleteFileA(copy)) Note(log, Event::kCancelled, copy, to);
    }
    source = destination + std::strlen(destination) + 1;
  }
}
