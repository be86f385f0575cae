// The log a restore keeps on request: what each call returned, one event a line, appended to a
// file. Off unless asked for; when off, the restore makes no call and formats nothing for it.
#pragma once

#include <cstddef>

#include "platform/resource.h"
#include "platform/win32.h"
#include "restore/outcome.h"

// What a restore met, one line of the log each. The walk's events name `path` (and `other`) as
// each says. An event marked "error" reports the thread's last error, so it is noted straight
// after the call that failed.
enum class Event {
  // The registration. `path` is unused.
  kFound,         // The value names the installation directory `other`.
  kNoKey,         // The key did not open; `number` is RegOpenKeyExA's result.
  kNotRead,       // The value could not be read; `number` is RegQueryValueExA's result.
  kNotString,     // The value is of type `number`, not REG_SZ.
  kEmpty,         // The value holds an empty string, or no data.
  kUnterminated,  // The value fills the whole buffer without a terminator.
  kUnspellable,   // The path holds U+FFFD, shown for a character the system could not spell.
  // The walks.
  kWalk,           // A walk of the directory `path` into `other` begins.
  kWaiting,        // `number` milliseconds pass before the next walk, since a file was held.
  kMoved,          // The file `path` was moved onto `other`.
  kCopied,         // The file `path` was copied across volumes onto `other`, then deleted.
  kNotMoved,       // The file `path` was not moved onto `other`: error.
  kInBoth,         // The file `path` was copied across volumes onto `other` but not deleted: error.
  kQueued,         // The copy `path` of a held file replaces `other` at the next restart.
  kQueuedInBoth,   // The held file `path`, queued to replace `other`, was not deleted: error.
  kNotQueued,      // The held file `path` was not queued to replace `other`: error.
  kCancelled,      // The copy `path`, queued to replace `other`, was deleted: `other` is newer.
  kKeptDot,        // The member `other` of the directory `path` stays: its name begins with ".".
  kKeptNameEnd,    // `path` stays: its name ends in "." or a space, which Windows drops.
  kKeptShortName,  // `path` stays: its name holds "~" and may be another file's short name.
  kUnspelled,      // `path` stays: its name holds U+FFFD or "\", which no path spells faithfully.
  kStillThere,     // The file `path` is still there after the walk of its directory.
  kNotEntered,     // The linked directory `path` was not entered: it may lead back into the walk.
  kNotEnteredInstalled,  // The linked directory `path` was not entered: it may lie inside the
                         // installation directory, or hold it.
  kKeptLink,    // The link `path` stays: it leads to the file it would replace, or to nothing.
  kKeptDevice,  // The member `path` stays: a FIFO, a device or a socket, no file to install.
  kKeptLog,     // The file `path` stays: it is the log being written.
  kKeptLinkElsewhere,   // The link `path` stays: from its destination it leads elsewhere.
  kKeptLinkIntoBackup,  // The link `path` stays: it leads into the backup.
  kNameTooLong,  // A member of the directory `path` stays: its name fills the whole name field.
  kNoMemory,     // The member `other` of the directory `path` was skipped: no heap for its path.
  kNoRoom,       // The directory `path` was skipped: no room for its search pattern.
  kNotListed,    // The directory `path` could not be listed: error.
  kListEnded,    // The listing of `path` ended: error, noted only if not the list's end.
  kRemoved,      // The directory `path` was removed.
  kLeft,         // The directory `path` was not removed: error.
  // Putting the restore on disk.
  kVolumeFlushed,          // The volume of the directory `path` was flushed in `number` ms.
  kVolumeNotFlushed,       // The volume of `path` was not flushed before the first rename, so
                           // each file is flushed instead: error.
  kVolumeFlushIgnored,     // The system is known to report a volume flush it does not make.
  kVolumeNotFlushedAfter,  // The volume of `path` was not flushed after the last rename: error.
  kNotFlushed,             // The file `path` was not flushed, before or by its rename: error.
};
// How many events there are: the log has words for each.
inline constexpr std::size_t kEventCount = static_cast<std::size_t>(Event::kNotFlushed) + 1;

// The log's file and a buffer of 64 KiB for it: each full buffer is one write, and Close
// writes the rest, so memory stays flat however large the tree. If the file cannot be opened
// there is no log; if a write fails the log stops there. Neither changes the restore, and
// noting an event keeps the thread's last error.
class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log() { Close(); }

  // Opens the file `path` to append to it, making it if missing, and writes the run's first
  // line: the local time, the program's version, the current directory and `command_line`
  // (nullptr for none). Returns false, the log staying off, when it cannot be opened.
  bool Open(const char* path, const char* command_line);
  // Writes the counts and the time since Open, then the outcome if one was set, then the rest of
  // the buffer, and closes the file. Does nothing when the log is off.
  void Close();
  // Has the last line tell `outcome`, and the exit status `status` that the program returns.
  void SetOutcome(Outcome outcome, DWORD status) {
    outcome_ = outcome;
    status_ = status;
    told_ = true;
  }
  // The open file, for the caller to learn what it is, and its path as Open was given it
  // (nullptr when the log is off).
  HANDLE file() const { return file_.get(); }
  const char* path() const { return path_; }
  // Closes the file with nothing written, and removes it if Open made it: the log is off.
  void Abandon();

  // Records `event`, as the Event it is describes `path`, `other` and `number`.
  void Note(Event event, const char* path, const char* other, DWORD number);
  // Records the registration's outcome `event` for the value `value` of the key `key`.
  void NoteRegistry(Event event, const char* key, const char* value, const char* directory,
                    DWORD number);
  // How many members of the walk so far stayed behind: files not moved, members kept and
  // directories left.
  unsigned long Stayed() const { return not_moved_ + kept_ + left_; }

 private:
  void Put(const char* text, std::size_t length);
  void Put(const char* text);
  void PutPath(const char* path);
  void PutNumber(unsigned long long number, int digits = 1);
  void PutSeconds(ULONGLONG milliseconds);
  void PutError(DWORD error);
  void EndLine();
  void Flush();

  unique_hfile file_;
  const char* path_ = nullptr;
  const char* made_ = nullptr;  // Set when Open made the file.
  ULONGLONG start_ = 0;
  unsigned walks_ = 0;
  // Files moved over all walks; what stayed behind in the last walk.
  unsigned long moved_ = 0;
  unsigned long queued_ = 0;
  unsigned long not_moved_ = 0;
  unsigned long kept_ = 0;
  unsigned long left_ = 0;
  Outcome outcome_ = Outcome::kInstalled;
  DWORD status_ = 0;
  bool told_ = false;
  std::size_t used_ = 0;
  char buffer_[64 * 1024];
};

// Records `event` in `log`, if one is kept (nullptr: none, and nothing is done).
inline void Note(Log* log, Event event, const char* path, const char* other = nullptr,
                 DWORD number = 0) {
  if (log != nullptr) log->Note(event, path, other, number);
}
