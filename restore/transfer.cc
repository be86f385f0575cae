#include "restore/transfer.h"

#include <cstring>

#include "platform/resource.h"
#include "platform/win32.h"

namespace {

// Returns `directory`, one separator and `name` in a new heap string, or nullptr when the heap
// has no block for it.
unique_heap_str JoinPath(const char* directory, const char* name) {
  const std::size_t directory_length = std::strlen(directory);
  const std::size_t name_length = std::strlen(name);
  unique_heap_str path(
      static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, directory_length + name_length + 2)));
  if (!path) return path;
  std::memcpy(path.get(), directory, directory_length);
  path[directory_length] = kPathSeparator;
  std::memcpy(path.get() + directory_length + 1, name, name_length + 1);
  return path;
}

// Moves one member of `source` (found by the enumeration) into `destination`.
void MoveEntry(const char* source, const char* destination, const WIN32_FIND_DATAA& entry) {
  // Skips "." and "..", and keeps every dot-named member where it is.
  if (entry.cFileName[0] == '.') return;
  const unique_heap_str from = JoinPath(source, entry.cFileName);
  if (!from) return;
  const unique_heap_str to = JoinPath(destination, entry.cFileName);
  if (!to) return;
  if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    MoveTree(from.get(), to.get());
    return;
  }
  // One call that replaces: a move that fails leaves the installed file as it was. Deleting it
  // first would lose it whenever the move then failed. Neither flag makes a missing directory.
  MoveFileExA(from.get(), to.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

}  // namespace

void MoveTree(const char* source, const char* destination) {
  // The pattern is the source, a separator, "*" and the terminator; a longer source is skipped
  // rather than truncated, which would enumerate some other directory.
  char pattern[MAX_PATH];
  const std::size_t length = std::strlen(source);
  if (length + 3 > sizeof pattern) return;
  std::memcpy(pattern, source, length);
  pattern[length] = kPathSeparator;
  pattern[length + 1] = '*';
  pattern[length + 2] = '\0';

  WIN32_FIND_DATAA entry;
  {
    const unique_hfind find(FindFirstFileA(pattern, &entry));
    if (!find) return;
    do {
      MoveEntry(source, destination, entry);
    } while (FindNextFileA(find.get(), &entry));
  }
  // Fails, as it should, while anything is left in the directory.
  RemoveDirectoryA(source);
}
