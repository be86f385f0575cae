#include "restore/entry.h"

#include <cstring>

#include "platform/resource.h"
#include "restore/transfer.h"

namespace {
constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1";
constexpr char kAppPathValue[] = "Inno Setup: App Path";
constexpr char kBackupDirectory[] = "backup";
// The waits before the second and the third walk when a file was held: a scanner or an indexer
// lets go within moments, and the whole run waits at most 2.5 s beyond its own work.
constexpr DWORD kHeldWaits[] = {500, 2000};
}  // namespace

int RestoreFromBackup(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Owned only once opened: a failed open promises nothing about the handle it leaves.
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_QUERY_VALUE, &opened) !=
      ERROR_SUCCESS) {
    return 0;
  }
  const unique_hkey key(opened);
  // Zeroed first: the registry does not promise a terminator, and a value may have no data.
  // Any shorter string is then terminated; one that fills the buffer must carry its own.
  char directory[MAX_PATH] = {};
  DWORD type = REG_NONE;
  DWORD size = sizeof directory;
  if (RegQueryValueExA(key.get(), kAppPathValue, nullptr, &type, reinterpret_cast<BYTE*>(directory),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ || size > sizeof directory) {
    return 0;
  }
  // An empty path would put every destination at the root of the current drive.
  if (directory[0] == '\0' || std::memchr(directory, '\0', sizeof directory) == nullptr) return 0;
  // Each walk finishes what an earlier one left; only a held file is worth another.
  WalkResult walk = MoveTree(kBackupDirectory, directory);
  for (const DWORD wait : kHeldWaits) {
    if (!walk.held) break;
    Sleep(wait);
    walk = MoveTree(kBackupDirectory, directory);
  }
  return 0;
}
