#include "restore/durable.h"

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

}  // namespace

DWORD Durability::BeforeRename(const char* from) {
  if (mode_ == Mode::kUndecided) mode_ = Choose();
  if (mode_ == Mode::kVolume) return 0;
  // Write access, as Windows asks of a flush. A file that will not open (read-only, held, not a
  // regular file) is moved unflushed, as it would be without this.
  const unique_hfile file(CreateFileA(from, GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file || !FlushFileBuffers(file.get())) Note(log_, Event::kNotFlushed, from);
  return MOVEFILE_WRITE_THROUGH;
}

Durability::Mode Durability::Choose() {
  destination_volume_.reset(OpenVolumeA(destination_));
  if (!destination_volume_) {
    Note(log_, Event::kVolumeNotFlushed, destination_);
    return Mode::kEachFile;
  }
  const unique_hfile source(OpenVolumeA(source_));
  if (!source) {
    Note(log_, Event::kVolumeNotFlushed, source_);
  } else if (FlushVolume(source.get(), source_, log_, true)) {
    return Mode::kVolume;
  }
  destination_volume_.reset();
  return Mode::kEachFile;
}

void Durability::Finish() {
  if (mode_ == Mode::kVolume) {
    FlushVolume(destination_volume_.get(), destination_, log_, false);
    destination_volume_.reset();
  } else if (mode_ == Mode::kEachFile) {
    // Wine ignores a rename's write-through, so the last renames could still be lost. Flushing
    // the destination directory commits the file system's journal, which holds every rename.
    const unique_hfile directory(CreateFileA(
        destination_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory || !FlushFileBuffers(directory.get()))
      Note(log_, Event::kNotFlushed, destination_);
  }
}
