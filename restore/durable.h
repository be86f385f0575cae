// Putting a restore on disk, so that a power cut at any moment leaves each installed file whole:
// as it was, or replaced by the whole of its backup.
#pragma once

#include "platform/resource.h"
#include "platform/win32.h"

class Log;

// A rename reaches the disk's journal within seconds, but the data of the file it names may
// follow much later: an installer that has just unpacked the backup leaves that data in the
// system's cache, and a power cut in between boots with the installed file empty (ext4) or
// reading as zeros (NTFS). So before the first rename the backup's volume is flushed once, and
// after the last the installation's. Where either volume cannot be opened for that (no
// elevation, a network share), each file is flushed before its rename instead, renamed with
// write-through, and the installation directory is flushed after the last. A flush that fails is
// noted in the log and changes nothing else: the files are moved all the same.
class Durability {
 public:
  // `source` and `destination` are the directories the walks move files between; `log` as
  // MoveTree takes it (nullptr: none). Makes no call until the first rename.
  Durability(const char* source, const char* destination, Log* log)
      : source_(source), destination_(destination), log_(log) {}
  Durability(const Durability&) = delete;
  Durability& operator=(const Durability&) = delete;

  // Readies the rename of the file `from` (below the source): the first call chooses, and
  // flushes the source's volume; with no volume to flush, `from` itself is flushed. Returns the
  // flags the rename must add (MOVEFILE_WRITE_THROUGH when each file is flushed).
  DWORD BeforeRename(const char* from);
  // After the last walk, if a rename was readied: flushes the destination's volume, or where
  // each file was flushed instead, the destination directory itself.
  void Finish();

 private:
  enum class Mode { kUndecided, kVolume, kEachFile };
  // Opens both volumes and flushes the source's; kEachFile where that fails.
  Mode Choose();

  const char* source_;
  const char* destination_;
  Log* log_;
  Mode mode_ = Mode::kUndecided;
  // Opened before the first rename, so that its flush at the end is known to be possible.
  unique_hfile destination_volume_;
};
