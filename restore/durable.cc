#include "restore/durable.h"

#include <cstring>

#include "restore/identity.h"
#include "restore/log.h"

namespace {

// Flushes the open volume `volume` that holds `directory`, noting the outcome and its time.
bool FlushVolume(HANDLE volume, const char* directory, Log* log, bool before) {
  const ULONGLONG start = GetTickCount64();
  if (!FlushFileBuffers(volume)) {
    Note(log, before ? Event::kVolumeNotFlushed : Event::kVolumeNotFlushedAfter, directory);
    return false;
  }
  Note(log, Event::kVolumeFlushed, directory, nullptr,
       static_cast<DWORD>(GetTickCount64() - start));
  return true;
}

// True for the errors of a file system that has no flush to give (FUSE, some shares): its files
// are renamed as they are, since no walk could ever do better.
bool NoFlushToBeHad(DWORD error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_INVALID_PARAMETER;
}

}  // namespace

// Windows flushes only through write access, which a read-only file refuses until its attribute
// is cleared (and put back); POSIX flushes through a read-only descriptor too.
bool FlushFile(const char* from) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  DWORD held = ERROR_SUCCESS;
  for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_READ}}) {
    const unique_hfile file(
        CreateFileA(from, access, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (file && FlushFileBuffers(file.get())) return true;
    if (!file && access == GENERIC_WRITE) {
      // A write-protected volume holds nothing unwritten; Wine flushes only through write access.
      if (GetLastError() == ERROR_WRITE_PROTECT) return true;
      // A scanner reading the file shares no writing: that, not the read handle's refusal to
      // flush, says why, and it clears when the scanner lets go.
      if (GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION) {
        held = GetLastError();
      }
    }
  }
  const DWORD error = held != ERROR_SUCCESS ? held : GetLastError();
  const DWORD attributes = GetFileAttributesA(from);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      !SetFileAttributesA(from, attributes & ~FILE_ATTRIBUTE_READONLY)) {
    SetLastError(error);
    return false;
  }
  bool flushed;
  {
    const unique_hfile file(
        CreateFileA(from, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    flushed = file && FlushFileBuffers(file.get());
  }
  const DWORD after = GetLastError();
  SetFileAttributesA(from, attributes);
  SetLastError(flushed ? ERROR_SUCCESS : after);
  return flushed;
}

bool FlushDirectory(const char* directory) {
  const unique_hfile handle(
      CreateFileA(directory, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle && FlushFileBuffers(handle.get());
}

bool Durability::BeforeRename(const char* from, const char* linked, Reach& reach, DWORD* flags) {
  if (mode_ == Mode::kUndecided) mode_ = Choose();
  *flags = 0;
  if (mode_ == Mode::kVolume && linked != nullptr && reach == Reach::kUnknown) {
    reach = Ready(linked);
  }
  if (mode_ == Mode::kVolume && (linked == nullptr || reach == Reach::kFlushed)) return true;
  *flags = MOVEFILE_WRITE_THROUGH;
  if (FlushFile(from)) return true;
  Note(log_, Event::kNotFlushed, from);
  return NoFlushToBeHad(GetLastError());
}

Durability::Mode Durability::Choose() {
  // Wine says a volume's flush succeeded where it wrote nothing, and ignores write-through.
  if (IgnoresWriteThrough()) {
    Note(log_, Event::kVolumeFlushIgnored, source_);
    return Mode::kEachFile;
  }
  destination_volume_.reset(OpenVolumeA(destination_));
  if (!destination_volume_) {
    Note(log_, Event::kVolumeNotFlushed, destination_);
    return Mode::kEachFile;
  }
  source_volume_.reset(OpenVolumeA(source_));
  if (!source_volume_) {
    Note(log_, Event::kVolumeNotFlushed, source_);
  } else if (FlushVolume(source_volume_.get(), source_, log_, true)) {
    // One volume is flushed once at the end; where the serials are unknown, each is.
    Identity source, destination;
    serials_known_ = IdentityOf(source_, &source) && IdentityOf(destination_, &destination);
    source_serial_ = serials_known_ ? source.volume : 0;
    destination_serial_ = serials_known_ ? destination.volume : 0;
    return Mode::kVolume;
  }
  destination_volume_.reset();
  source_volume_.reset();
  return Mode::kEachFile;
}

Durability::Reach Durability::Ready(const char* directory) {
  Identity identity;
  if (!IdentityOf(directory, &identity)) return Reach::kEachFile;
  if (serials_known_ && identity.volume == source_serial_) return Reach::kFlushed;
  for (std::size_t i = 0; i < linked_count_; ++i) {
    if (linked_[i].serial == identity.volume) return Reach::kFlushed;
  }
  const std::size_t length = std::strlen(directory);
  if (linked_count_ == sizeof linked_ / sizeof *linked_ || length >= MAX_PATH) {
    return Reach::kEachFile;
  }
  Volume& volume = linked_[linked_count_];
  volume.handle.reset(OpenVolumeA(directory));
  if (!volume.handle) {
    Note(log_, Event::kVolumeNotFlushed, directory);
    return Reach::kEachFile;
  }
  if (!FlushVolume(volume.handle.get(), directory, log_, true)) {
    volume.handle.reset();
    return Reach::kEachFile;
  }
  volume.serial = identity.volume;
  std::memcpy(volume.path, directory, length + 1);
  ++linked_count_;
  return Reach::kFlushed;
}

void Durability::Finish() {
  if (mode_ == Mode::kVolume) {
    // The destination holds the renamed files; the source, the deletes of files copied across
    // and the directories removed, which a cut would bring back to be copied again.
    FlushVolume(destination_volume_.get(), destination_, log_, false);
    const bool same = serials_known_ && source_serial_ == destination_serial_;
    if (!same) FlushVolume(source_volume_.get(), source_, log_, false);
    for (std::size_t i = 0; i < linked_count_; ++i) {
      if (!serials_known_ || linked_[i].serial != destination_serial_) {
        FlushVolume(linked_[i].handle.get(), linked_[i].path, log_, false);
      }
      linked_[i].handle.reset();
    }
    destination_volume_.reset();
    source_volume_.reset();
  } else if (mode_ == Mode::kEachFile) {
    // Wine ignores a rename's write-through, so the last renames could still be lost. Flushing
    // a directory commits the file system's journal, which holds every rename and delete: the
    // destination, then the source, or where it was removed, the directory that held it.
    if (!FlushDirectory(destination_)) Note(log_, Event::kNotFlushed, destination_);
    if (FlushDirectory(source_)) return;
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return Note(log_, Event::kNotFlushed, source_);
    char parent[MAX_PATH] = ".";
    const char* last = std::strrchr(source_, kPathSeparator);
    const std::size_t length = last != nullptr ? static_cast<std::size_t>(last - source_) : 0;
    if (length >= sizeof parent) return;
    if (last != nullptr) {
      std::memcpy(parent, source_, length == 0 ? 1 : length);
      parent[length == 0 ? 1 : length] = '\0';
    }
    if (!FlushDirectory(parent)) Note(log_, Event::kNotFlushed, parent);
  }
}
