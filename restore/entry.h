// The program's own entry.
#pragma once

#include "platform/win32.h"

// Reads the product's installation directory from its uninstall registration under
// HKEY_LOCAL_MACHINE (the 32-bit view, as a 32-bit Inno Setup install writes it) and moves the
// "backup" tree of the current directory into it. Only a REG_SZ value holding a non-empty,
// terminated path that fits MAX_PATH bytes is used; anything else moves nothing. When a walk
// left a file that another process held, the tree is walked again after 0.5 s and, if one is
// still held, once more after 2 s; no other failure brings another walk. Before the first
// rename the backup's data is put on disk, and the restore is on disk when this returns (see
// Durability); a run that renames nothing flushes nothing.
//
// `command_line` (the program's, without its name; nullptr for none) may ask for a log with
// "/LOG=path" or "/LOG" (see LogPath): the file is appended to, or made, and gets a line for the
// run, the registration's outcome, each walk and everything it did and could not do, and the
// counts. A log that cannot be opened or written is not kept, nor one whose full path lies
// inside "backup" or the installation directory; the restore is the same either way. Every other
// argument, and the other three arguments of a windowed program's entry, are ignored.
//
// "/RESTARTREPLACE" has the last walk queue a file whose installed file is held to replace it at
// the next restart (see ReplaceAtRestart). Returns the exit status: 0 on every path, or with
// "/EXITCODE" the one that tells the outcome (see Outcome). Both switches match in any case.
int RestoreFromBackup(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);
