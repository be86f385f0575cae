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
