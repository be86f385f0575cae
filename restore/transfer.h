// The transfer of a backup tree into an installed tree.
#pragma once

class Durability;
class Log;
class QueuedReplacements;

// What one walk met that its caller may act on.
struct WalkResult {
  // A move failed because another process held a file: a scanner, an indexer or the product
  // itself lets go a moment later, so another walk may finish what this one could not.
  bool held = false;
  // A member stayed for a reason that another walk would meet again (dot names aside).
  bool stayed = false;
  // A held file was queued to replace its installed file at the next restart.
  bool queued = false;
  // The source directory is not there.
  bool missing = false;
};

// Moves every file below the directory `source` into the same relative place below the directory
// `destination`, replacing a file of the same name there, then removes each directory of `source`
// that this left empty. No directory is ever made. A member that stays (a dot name, a name the
// system would not address faithfully, a file whose directory is missing or that cannot be
// moved, a link that may lead back into either tree) stays where it is, and the installed file it
// would have replaced stays as it was: README's "What it does, exactly" has every rule. The result
// tells whether a file was held. Each outcome is noted in `log` (nullptr: none); `durable`, shared
// by the walks of one restore, puts each rename on disk after the data it names (nullptr: the
// system's cache decides when). With `at_restart`, a file whose installed file another process
// holds is queued to replace it at the next restart instead (see ReplaceAtRestart); a file
// installed cancels what `queued` (nullptr: nothing) holds for it. Both paths are used as given.
WalkResult MoveTree(const char* source, const char* destination, Log* log = nullptr,
                    Durability* durable = nullptr, bool at_restart = false,
                    QueuedReplacements* queued = nullptr);
