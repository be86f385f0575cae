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

// True when `a` and `b` name one path: in any case, a run of separators as one.
bool SamePath(const char* a, const char* b) {
  while (*a != '\0' && *b != '\0') {
    if (*a == kPathSeparator && *b == kPathSeparator) {
      while (*a == kPathSeparator) ++a;
      while (*b == kPathSeparator) ++b;
      continue;
    }
    if (Folded(*a++) != Folded(*b++)) return false;
  }
  return *a == '\0' && *b == '\0';
}

// True when `path` names one of this program's copies: "~rb" begins its name.
bool IsOurCopy(const char* path) {
  const char* name = std::strrchr(path, kPathSeparator);
  return std::strncmp(name != nullptr ? name + 1 : path, "~rb", 3) == 0;
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
      ours = ours || IsOurCopy(source);
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
    if (IsOurCopy(source) && SamePath(Plain(destination), to)) {
      const char* copy = Plain(source);
      SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL);
      if (DeleteFileA(copy)) Note(log, Event::kCancelled, copy, to);
    }
    source = destination + std::strlen(destination) + 1;
  }
}
