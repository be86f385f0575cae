// The transfer of a backup tree into an installed tree.
#pragma once

class Durability;
class Log;

// What one walk met that its caller may act on.
struct WalkResult {
  // A move failed because another process held a file: a scanner, an indexer or the product
  // itself lets go a moment later, so another walk may finish what this one could not.
  bool held = false;
};

// Moves every file below the directory `source` into the same relative place below the directory
// `destination`, replacing a file of the same name there, then removes `source` if that left it
// empty. Subdirectories are merged into the destination's same-named directories, never created:
// a file whose destination directory is missing stays where it is. Members whose names begin with
// "." stay where they are, with everything below them, and so do members whose names the system
// would not address faithfully: a name ending in "." or a space, one holding U+FFFD (shown for
// what the system cannot spell), and a name holding "~" that denotes an installed file of
// another long name. A file that cannot be moved stays in the source, and the installed file it
// would have replaced stays as it was; across volumes the file is copied beside its destination,
// flushed and renamed over it before the source is deleted.
// A link to a file is moved as the link itself, except one that leads to the file it would
// replace, or to nothing, which stays. Links to directories are walked, except into a directory
// already being walked, or one inside `destination` or holding it (decided at each link, from
// the target and each directory above it), and a directory that several links lead to is entered
// through the first only; a linked directory, and every directory below it, is never removed, nor
// the link, and a `source` that is itself a link counts as one. The result tells whether a file was
// held. Each outcome (a file moved or not, a member kept, a directory removed or left) is noted in
// `log` if one is kept; nullptr keeps none. `durable`, shared by the walks of one restore, puts
// each rename on disk after the data it names (nullptr: the system's cache decides when).
//
// Both paths are used as given: relative ones resolve against the current directory, and a
// trailing separator is kept (the joins then double it). A source whose path leaves no room for
// the search pattern in MAX_PATH characters is left untouched.
WalkResult MoveTree(const char* source, const char* destination, Log* log = nullptr,
                    Durability* durable = nullptr);
