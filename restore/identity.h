// Where a file lies: its identity, and whether a directory lies inside another as the system
// resolves them. The walk asks before it enters a link, and before it moves a file that may be
// reached by two routes.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// Where a file lies: two routes to one file give the same three numbers.
struct Identity {
  DWORD volume;
  DWORD index_high;
  DWORD index_low;
  bool operator==(const Identity&) const = default;
};

// The linked directories one walk has entered, so that each is entered once however many links
// lead to it: links that branch and meet again (each of many directories linking twice to the
// next) would otherwise walk the last directory once for every route, twice as often for each
// level. An open-addressed table on the process heap, so that a look-up costs the same however
// many links the tree holds.
class EnteredDirectories {
 public:
  EnteredDirectories() = default;
  EnteredDirectories(const EnteredDirectories&) = delete;
  EnteredDirectories& operator=(const EnteredDirectories&) = delete;
  ~EnteredDirectories();

  // Records `identity`. False when it was recorded before, or when the heap has no room for it:
  // a directory that cannot be recorded is not entered.
  bool Add(const Identity& identity);

 private:
  struct Slot {
    Identity identity;
    bool used;
  };

  Slot* Find(const Identity& identity) const;

  // Doubles the table (capacity_ stays a power of two), keeping what it holds.
  bool Grow();

  Slot* slots_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t count_ = 0;
};

// Opens `path` (a link is followed) only to learn what the system holds of it. Fails for a
// missing path.
bool InformationOf(const char* path, BY_HANDLE_FILE_INFORMATION* information);

// Where `path` lies, as InformationOf learns it.
bool IdentityOf(const char* path, Identity* identity);

// True when `a` and `b` may be one file reached twice: the same identity, size and last write.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b);

// True when `path` lies inside the directory `directory`: the directory itself, or any directory
// above it up to its volume's root (as the system resolves it, links taken), is `directory`.
// `unknown` where that cannot be told (a resolved path too long for MAX_PATH, a failed open).
bool LiesWithin(const char* path, const BY_HANDLE_FILE_INFORMATION& directory, bool unknown);

// True when the directory `path` lies inside the installation directory, or holds it. `unknown`
// where that cannot be told.
bool MayBeInstalled(const char* path, const char* installation, bool unknown = true);

// True unless `from` and `to` are known to be two files, or `to` does not exist: a link to the
// very file it would replace, or one file reached by two routes. A `from` that cannot be opened
// (a dangling link) is not known either. Known to be one file, the thread's last error is
// ERROR_ALREADY_EXISTS. `attributes`, unless nullptr, receives those of `from` as opened.
bool MayBeOneFile(const char* from, const char* to, DWORD* attributes = nullptr);
