#include "restore/identity.h"

#include "platform/resource.h"

EnteredDirectories::~EnteredDirectories() {
  HeapFree(GetProcessHeap(), 0, slots_);
}

bool EnteredDirectories::Add(const Identity& identity) {
  if (2 * (count_ + 1) > capacity_ && !Grow()) return false;
  Slot* slot = Find(identity);
  if (slot->used) return false;
  *slot = {identity, true};
  ++count_;
  return true;
}

EnteredDirectories::Slot* EnteredDirectories::Find(const Identity& identity) const {
  std::size_t i = (identity.index_low * 2654435761u ^ identity.index_high ^ identity.volume);
  for (i &= capacity_ - 1; slots_[i].used && !(slots_[i].identity == identity);) {
    i = (i + 1) & (capacity_ - 1);
  }
  return &slots_[i];
}

bool EnteredDirectories::Grow() {
  const std::size_t capacity = capacity_ == 0 ? 16 : 2 * capacity_;
  Slot* slots = static_cast<Slot*>(HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(Slot)));
  if (slots == nullptr) return false;
  for (std::size_t i = 0; i < capacity; ++i) slots[i].used = false;
  Slot* const old = slots_;
  const std::size_t old_capacity = capacity_;
  slots_ = slots;
  capacity_ = capacity;
  for (std::size_t i = 0; i < old_capacity; ++i) {
    if (old[i].used) *Find(old[i].identity) = old[i];
  }
  HeapFree(GetProcessHeap(), 0, old);
  return true;
}

// Opens `path` (a link is followed) only to learn what the system holds of it. Fails for a
// missing path.
bool InformationOf(const char* path, BY_HANDLE_FILE_INFORMATION* information) {
  const unique_hfile file(CreateFileA(path, 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileInformationByHandle(file.get(), information);
}

// Where `path` lies, as InformationOf learns it.
bool IdentityOf(const char* path, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!InformationOf(path, &information)) return false;
  *identity = {information.dwVolumeSerialNumber, information.nFileIndexHigh,
               information.nFileIndexLow};
  return true;
}

// True when `a` and `b` may be one file reached twice. Wine gives every Linux file system under one
// drive letter one serial, and cloned volumes share theirs, so two files may agree on the identity;
// one file reached twice also agrees on its size and last write.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
         a.nFileSizeLow == b.nFileSizeLow &&
         a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime &&
         a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime;
}

// True when `path` lies inside the directory `directory`: the directory itself, or any directory
// above it up to its volume's root (as the system resolves it, links taken), is `directory`.
// `unknown` where that cannot be told (a resolved path too long for MAX_PATH, a failed open).
bool LiesWithin(const char* path, const BY_HANDLE_FILE_INFORMATION& directory, bool unknown) {
  const unique_hfile file(CreateFileA(path, 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  char resolved[MAX_PATH];
  const DWORD length = file ? GetFinalPathNameByHandleA(file.get(), resolved, MAX_PATH, 0) : 0;
  if (length == 0 || length >= MAX_PATH) return unknown;
  for (DWORD end = length;;) {
    resolved[end] = '\0';
    BY_HANDLE_FILE_INFORMATION information;
    if (!InformationOf(resolved, &information)) return unknown;
    if (SameFile(information, directory)) return true;
    // The root ("/", "\\?\C:\") keeps its separator, and is the last.
    if (resolved[end - 1] == kPathSeparator) return false;
    while (end > 0 && resolved[end - 1] != kPathSeparator) --end;
    if (end == 0) return false;
    if (end > 1 && resolved[end - 2] != ':') --end;
  }
}

// True when the directory `path` lies inside the installation directory, or holds it: walked as
// backup, it would move installed files out of their place, or into themselves. `unknown` where
// that cannot be told: true at a link, which may lead anywhere; false for a plain directory, which
// only a mount of the installation makes one.
bool MayBeInstalled(const char* path, const char* installation, bool unknown) {
  BY_HANDLE_FILE_INFORMATION target, root;
  if (!InformationOf(path, &target) || !InformationOf(installation, &root)) return unknown;
  return LiesWithin(path, root, unknown) || LiesWithin(installation, target, unknown);
}

// True unless `from` and `to` are known to be two files, or `to` does not exist: a link to the
// very file it would replace, or one file reached by two routes (a bind mount, a second drive
// letter for one volume). Moving or copying it over itself would leave a link to itself, or delete
// the only copy. A `from` that cannot be opened (a dangling link) is not known either.
// Known to be one file (see SameFile), the thread's last error is ERROR_ALREADY_EXISTS.
bool MayBeOneFile(const char* from, const char* to, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION source, destination;
  if (!InformationOf(from, &source)) return true;
  if (attributes != nullptr) *attributes = source.dwFileAttributes;
  if (!InformationOf(to, &destination)) return GetLastError() != ERROR_FILE_NOT_FOUND;
  if (!SameFile(source, destination)) return false;
  SetLastError(ERROR_ALREADY_EXISTS);
  return true;
}
