// A move to another volume, where no rename reaches, and the replacing rename both kinds of move
// end with.
#pragma once

#include "platform/win32.h"

class Log;

// The numbers a walk's temporary names try next: the first is taken from the clock at the walk's
// first cross-volume move, and each try takes the next.
struct TemporaryNames {
  bool numbered = false;
  unsigned next = 0;
};

// Makes a new empty file ~rbXXXX.tmp beside `to` (in its directory) and writes its path to
// `temporary`, its number taken from `names`. False, with the error, when no name is free.
bool MakeTemporary(const char* to, char (&temporary)[MAX_PATH], TemporaryNames& names);

// Removes the temporary file `temporary`, clearing its read-only attribute first when
// `read_only`, and keeps the thread's last error.
void Discard(const char* temporary, bool read_only = false);

// Renames the file `from` over `to` with `flags` added to MOVEFILE_REPLACE_EXISTING. True when
// the name moved, even if the write-through that the flags ask for failed after it (and so did a
// flush of the renamed file): that is noted in `log` for what it is, and `*on_disk` (unless
// nullptr) says false, since reporting the file as not moved would copy it again.
bool Rename(const char* from, const char* to, DWORD flags, Log* log, bool* on_disk = nullptr);

// Moves the file `from` (with the attributes `attributes`) onto `to` on another volume, where no
// rename reaches. A plain copying move would write straight over `to`, so a full disk or a kill
// part way would leave the installed file truncated. Instead the file is copied beside `to`,
// flushed, renamed over `to`, and only then is `from` deleted: `to` is always the old file or
// the whole new one, and the file is never in neither place. On failure nothing is changed,
// except that if `from` cannot be deleted at the end the file is in both places: `*copied`
// then says so. `names` numbers its temporary file; each outcome is noted in `log`.
bool MoveAcrossVolumes(const char* from, const char* to, DWORD attributes, bool* copied,
                       TemporaryNames& names, Log* log);
