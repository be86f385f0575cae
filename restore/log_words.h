// The words of the log's lines, as data: one row an event.
#pragma once

#include <cstddef>

#include "restore/log.h"

namespace log_words {

// Which of the run's totals an event adds to.
enum class Tally { kNone, kMoved, kQueued, kNotMoved, kKept, kLeft };

// The words of an event's line, in the order of Event. In `text`, %p is the event's path, %o its
// other path, %/ the path separator, %w the walk's number, %t `number` milliseconds as tenths of a
// second, %s as hundredths, and %e the thread's last error with the system's text for it.
struct Words {
  Event event;
  Tally tally;
  const char* text;
};

inline constexpr Words kWords[] = {
    {Event::kFound, Tally::kNone, ""},
    {Event::kNoKey, Tally::kNone, ""},
    {Event::kNotRead, Tally::kNone, ""},
    {Event::kNotString, Tally::kNone, ""},
    {Event::kEmpty, Tally::kNone, ""},
    {Event::kUnterminated, Tally::kNone, ""},
    {Event::kUnspellable, Tally::kNone, ""},
    {Event::kWalk, Tally::kNone, "walk %w: %p -> %o"},
    {Event::kWaiting, Tally::kNone,
     "waiting %t s to walk again, since a file was held by another process"},
    {Event::kMoved, Tally::kMoved, "moved: %p -> %o"},
    {Event::kCopied, Tally::kMoved, "copied across volumes, then deleted: %p -> %o"},
    {Event::kNotMoved, Tally::kNotMoved, "not moved: %p -> %o%e"},
    {Event::kInBoth, Tally::kNotMoved,
     "copied across volumes but not deleted, so in both places: %p -> %o%e"},
    {Event::kQueued, Tally::kQueued, "queued to replace at the next restart: %p -> %o"},
    {Event::kQueuedInBoth, Tally::kNone,
     "queued to replace at the next restart but not deleted, so in both places: %p -> %o%e"},
    {Event::kNotQueued, Tally::kNone, "not queued to replace at the next restart: %p -> %o%e"},
    {Event::kCancelled, Tally::kNone,
     "deleted, so that the restart does not put it over the file just installed: %p -> %o"},
    {Event::kKeptDot, Tally::kKept, "kept: %p%/%o (its name begins with \".\")"},
    {Event::kKeptNameEnd, Tally::kKept,
     "kept: %p (its name ends in \".\" or a space, which Windows drops)"},
    {Event::kKeptShortName, Tally::kKept,
     "kept: %p (its name holds \"~\" and may be the short name of another installed file)"},
    {Event::kUnspelled, Tally::kKept,
     "kept: %p (its name holds U+FFFD, shown for what the system cannot spell, or \"\\\", which "
     "a path reads as a separator)"},
    {Event::kStillThere, Tally::kKept,
     "kept: %p (still here after the walk: a second link to the file it replaced, which a rename "
     "leaves, or a file made during the walk)"},
    {Event::kNotEntered, Tally::kKept,
     "not entered: %p (a linked directory that may lead back into the tree being walked, or hold "
     "the backup)"},
    {Event::kNotEnteredInstalled, Tally::kKept,
     "not entered: %p (a linked or mounted directory that may lie inside the installation "
     "directory, or hold it)"},
    {Event::kKeptLink, Tally::kKept,
     "kept: %p (a link that leads to the file it would replace, or to nothing)"},
    {Event::kKeptDevice, Tally::kKept, "kept: %p (a FIFO, a device or a socket, not a file)"},
    {Event::kKeptLog, Tally::kKept, "kept: %p (the log being written)"},
    {Event::kKeptLinkElsewhere, Tally::kKept,
     "kept: %p (a link that would lead elsewhere, or to nothing, from where it would land)"},
    {Event::kKeptLinkIntoBackup, Tally::kKept,
     "kept: %p (a link into the backup, which would lead to nothing once it is restored)"},
    {Event::kNameTooLong, Tally::kKept,
     "kept: a member of %p (its name fills the whole name field, with no room for a terminator)"},
    {Event::kNoMemory, Tally::kNotMoved, "skipped: %p%/%o (no memory for its path)"},
    {Event::kNoRoom, Tally::kLeft, "skipped: %p (its path leaves no room for the search pattern)"},
    {Event::kNotListed, Tally::kLeft, "not listed: %p%e"},
    {Event::kListEnded, Tally::kNone, "listing ended early: %p%e"},
    {Event::kRemoved, Tally::kNone, "removed: %p"},
    {Event::kLeft, Tally::kLeft, "left: %p%e"},
    {Event::kVolumeFlushed, Tally::kNone, "flushed: the volume of %p, in %s"},
    {Event::kVolumeNotFlushed, Tally::kNone,
     "not flushed, so each file is flushed before its rename: the volume of %p%e"},
    {Event::kVolumeFlushIgnored, Tally::kNone,
     "not flushed, so each file is flushed before its rename: the volume of %p (the system is "
     "known to report a volume's flush that it does not make)"},
    {Event::kVolumeNotFlushedAfter, Tally::kNone,
     "not flushed after the last rename: the volume of %p%e"},
    {Event::kNotFlushed, Tally::kNone, "not flushed: %p%e"},
};

// Each row stands at its event's place, so that an event finds its words by its number.
constexpr bool InEventOrder() {
  for (std::size_t i = 0; i < sizeof kWords / sizeof *kWords; ++i) {
    if (static_cast<std::size_t>(kWords[i].event) != i) return false;
  }
  return true;
}
static_assert(InEventOrder() && sizeof kWords / sizeof *kWords == kEventCount);

// What each Outcome says, in its order.
inline constexpr const char* kOutcomeWords[] = {
    "no usable registration, so nothing is restored",
    "no backup directory, so nothing is restored",
    "a file stayed in backup for a reason no later run clears",
    "a file stayed in backup because another process held it: a later run may finish",
    "every file is installed, or replaces its installed file at the next restart",
    "every file is installed",
};

// The names of the registry's value types, by number.
inline constexpr const char* kTypeNames[] = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

}  // namespace log_words
