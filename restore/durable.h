// Putting a restore on disk, so that a power cut at any moment leaves each installed file whole:
// as it was, or replaced by the whole of its backup.
#pragma once

#include "platform/resource.h"
#include "platform/win32.h"

class Log;

// Puts the file `from` on disk through whatever access the system gives. False, with the error,
// where it could not.
bool FlushFile(const char* from);

// Flushes the directory `directory`, which commits the renames and deletes made in it (on a
// journalled file system, every one made before).
bool FlushDirectory(const char* directory);

// A rename reaches the disk's journal within seconds, but the data of the file it names may
// follow much later: an installer that has just unpacked the backup leaves that data in the
// system's cache, and a power cut in between boots with the installed file empty (ext4) or
// reading as zeros (NTFS). So before the first rename the backup's volume is flushed once, and
// so is the volume of each linked directory the walk renames out of; after the last, every
// volume a rename changed. Where a volume cannot be opened for that (no elevation, a network
// share), or the system is known to report such a flush without making it (Wine), each file is
// flushed before its rename instead, renamed with write-through, and the installation and backup
// directories are flushed after the last. A file that cannot be flushed is not renamed.
class Durability {
 public:
  // How the renames out of one directory reached through a link are readied, decided at its
  // first: its volume may not be the backup's.
  enum class Reach : unsigned char { kUnknown, kFlushed, kEachFile };

  // `source` and `destination` are the directories the walks move files between; `log` as
  // MoveTree takes it (nullptr: none). Makes no call until the first rename.
  Durability(const char* source, const char* destination, Log* log)
      : source_(source), destination_(destination), log_(log) {}
  Durability(const Durability&) = delete;
  Durability& operator=(const Durability&) = delete;

  // Readies the rename of the file `from`, a member of `linked` (nullptr: a directory of the
  // backup itself) with `reach` kept for it: the first call chooses, and flushes the source's
  // volume. Where volumes are not flushed, `from` itself is. False, with the error, when `from`
  // could not be put on disk: it must stay. `*flags` receives what the rename must add.
  bool BeforeRename(const char* from, const char* linked, Reach& reach, DWORD* flags);
  // After the last walk, if a rename was readied: flushes every volume renamed on, or where each
  // file was flushed instead, the destination directory and the directory that holds the source.
  void Finish();

 private:
  enum class Mode { kUndecided, kVolume, kEachFile };
  // A volume of a linked directory, flushed before its first rename and again at the end.
  struct Volume {
    DWORD serial;
    unique_hfile handle;
    char path[MAX_PATH];
  };

  // Opens both volumes and flushes the source's; kEachFile where that fails.
  Mode Choose();
  // Flushes the volume of the linked directory `directory`, unless it is one already flushed.
  Reach Ready(const char* directory);

  const char* source_;
  const char* destination_;
  Log* log_;
  Mode mode_ = Mode::kUndecided;
  // Opened before the first rename, so that their flushes at the end are known to be possible.
  unique_hfile destination_volume_;
  unique_hfile source_volume_;
  // The volumes' serials, where known.
  bool serials_known_ = false;
  DWORD source_serial_ = 0;
  DWORD destination_serial_ = 0;
  Volume linked_[4];
  std::size_t linked_count_ = 0;
};
