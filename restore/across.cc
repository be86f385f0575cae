#include "restore/across.h"

#include <cstring>

#include "platform/resource.h"
#include "restore/durable.h"
#include "restore/identity.h"
#include "restore/log.h"

namespace {

// The prefix of the temporary copy a cross-volume move places beside its destination, so that
// one a kill left behind can be told for what it is (Windows uses its first three bytes).
constexpr char kTemporaryPrefix[] = "~rb";

// How many names a cross-volume move tries for its temporary copy before it gives up on the file.
constexpr int kTemporaryTries = 64;

}  // namespace

// Tries kTemporaryTries numbers from `names`' next one, so that a directory full of such names (a
// hostile tree, or many killed runs) costs a few calls a file, not 65,536; the file then stays in
// the backup, with the error.
bool MakeTemporary(const char* to, char (&temporary)[MAX_PATH], TemporaryNames& names) {
  const char* last = std::strrchr(to, kPathSeparator);
  const std::size_t length = last != nullptr ? static_cast<std::size_t>(last - to) : 0;
  if (length == 0) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  constexpr std::size_t kNameLength = sizeof kTemporaryPrefix - 1 + 4 + 4;  // "XXXX" ".tmp"
  if (length + 1 + kNameLength >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  if (!names.numbered) {
    names.next = static_cast<unsigned>(GetTickCount64());
    names.numbered = true;
  }
  std::memcpy(temporary, to, length);
  char* name = temporary + length;
  *name++ = kPathSeparator;
  std::memcpy(name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1);
  name += sizeof kTemporaryPrefix - 1;
  std::memcpy(name + 4, ".tmp", 5);
  for (int tried = 0; tried < kTemporaryTries; ++tried) {
    const unsigned number = names.next++ & 0xFFFF;
    for (int digit = 0; digit < 4; ++digit) {
      name[digit] = "0123456789ABCDEF"[number >> (12 - 4 * digit) & 0xF];
    }
    const unique_hfile file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return true;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
  }
  return false;
}

void Discard(const char* temporary, bool read_only) {
  const DWORD error = GetLastError();
  if (read_only) SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(temporary);
  SetLastError(error);
}

bool Rename(const char* from, const char* to, DWORD flags, Log* log, bool* on_disk) {
  if (on_disk != nullptr) *on_disk = true;
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | flags)) return true;
  if (!(flags & MOVEFILE_WRITE_THROUGH)) return false;
  // Only a failed write-through costs the look: `from` is gone once the rename happened.
  const DWORD error = GetLastError();
  BY_HANDLE_FILE_INFORMATION ignored;
  const bool renamed = error != ERROR_FILE_NOT_FOUND && !InformationOf(from, &ignored) &&
                       GetLastError() == ERROR_FILE_NOT_FOUND;
  SetLastError(error);
  if (!renamed) return false;
  // A directory that will not open for its flush (no read access to it) still has its file's:
  // on a journalled file system that commits the rename too.
  if (FlushFile(to)) return true;
  SetLastError(error);
  Note(log, Event::kNotFlushed, to);
  if (on_disk != nullptr) *on_disk = false;
  return true;
}

bool MoveAcrossVolumes(const char* from, const char* to, DWORD attributes, bool* copied,
                       TemporaryNames& names, Log* log) {
  // The read-only attribute as the open file has it, which the enumeration may not have reported
  // (the POSIX layer reports a mode without the owner's write permission only here).
  DWORD current = 0;
  if (MayBeOneFile(from, to, &current)) return false;
  attributes |= current & FILE_ATTRIBUTE_READONLY;

  char temporary[MAX_PATH];
  if (!MakeTemporary(to, temporary, names)) return false;

  // The copy takes the source's attributes. Windows will not open a read-only file for writing,
  // so the attribute is off while the copy is flushed (Wine as root opens it all the same).
  const bool read_only = attributes & FILE_ATTRIBUTE_READONLY;
  if (!CopyFileA(from, temporary, FALSE) ||
      (read_only && !SetFileAttributesA(temporary, attributes & ~FILE_ATTRIBUTE_READONLY))) {
    Discard(temporary);
    return false;
  }
  {
    const unique_hfile copy(
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!copy || !FlushFileBuffers(copy.get())) {
      Discard(temporary);
      return false;
    }
  }
  bool on_disk;
  if ((read_only && !SetFileAttributesA(temporary, attributes)) ||
      !Rename(temporary, to, MOVEFILE_WRITE_THROUGH, log, &on_disk)) {
    Discard(temporary, read_only);
    return false;
  }
  // A rename not known to be on disk could follow the delete below there: a cut would find the
  // old file, and no backup. Where the write-through is ignored, the file's own flush commits its
  // file system's journal, the rename with it.
  if (!on_disk || (IgnoresWriteThrough() && !FlushFile(to))) {
    *copied = true;
    if (on_disk) Note(log, Event::kNotFlushed, to);
    return false;
  }

  // A same-volume move ignores the read-only attribute, so this one does too; it comes back if
  // the file cannot be deleted after all.
  if (read_only) SetFileAttributesA(from, attributes & ~FILE_ATTRIBUTE_READONLY);
  *copied = true;
  // Wine says TRUE for a file on a read-only file system and leaves it there: one look, only on
  // this path, tells a file that is in both places.
  if (DeleteFileA(from)) {
    if (GetFileAttributesA(from) == INVALID_FILE_ATTRIBUTES) return true;
    SetLastError(ERROR_WRITE_PROTECT);
  }
  if (read_only) {
    const DWORD error = GetLastError();
    SetFileAttributesA(from, attributes);
    SetLastError(error);
  }
  return false;
}
