// Replacing a held file at the next restart, where the system does that (Windows).
#pragma once

#include "restore/across.h"

class Log;

// Has the file `from` replace `to`, which another process holds, when the system next starts:
// copies it beside `to` as ~rbXXXX.tmp (numbered from `names`), puts the copy on disk, queues its
// rename over `to` and puts the queue on disk, and only then deletes `from`. Until the queue is
// on disk the file is still in the backup, so a kill or a power cut at any point loses nothing.
// False, with the error noted in `log` and the copy removed, where a step fails: Windows queues
// only for an administrator, and the POSIX layer never does. A `from` that cannot be deleted
// once queued is noted as being in both places, and counts as queued.
bool ReplaceAtRestart(const char* from, const char* to, TemporaryNames& names, Log* log);

// The replacements an earlier run queued for the next restart (its ~rbXXXX.tmp copies), read
// once a run. A file installed directly since makes its queued copy harmful: the restart would
// put the older copy over it. Makes its calls only when such a replacement is queued.
class QueuedReplacements {
 public:
  // Reads the queue (nothing where there is none, or no heap for it).
  QueuedReplacements();
  QueuedReplacements(const QueuedReplacements&) = delete;
  QueuedReplacements& operator=(const QueuedReplacements&) = delete;
  ~QueuedReplacements();

  // Deletes the queued copy that would replace `to` at the restart, which then renames nothing,
  // and notes it in `log`. `to` is matched as the queue spells it, in the file system's case rule;
  // only a plain file named ~rbXXXX.tmp beside it is ever deleted.
  void Cancel(const char* to, Log* log);

 private:
  char* queue_ = nullptr;      // Pairs of terminated paths, source then destination.
  const char* end_ = nullptr;  // Where the pairs end; the block holds terminators beyond.
};
