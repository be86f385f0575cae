// What a restore came to, and the exit status that tells it when asked (/EXITCODE).
#pragma once

#include "platform/win32.h"

// Worst first, as the last walk left the backup: a run that met several tells the worst.
// The statuses are Windows Installer's, which installers and deployment systems already act on.
enum class Outcome : unsigned char {
  kNotInstalled,  // No usable registration: nothing was restored.
  kNoBackup,      // No "backup" directory: nothing was restored.
  kStayed,        // A file stayed for a reason no later run clears.
  kHeld,          // A file stayed because another process held it: a later run may finish.
  kAtRestart,     // Every file is installed, or replaces its installed file at the next restart.
  kInstalled,     // Every file is installed (dot names stay, as they always do).
};

// The exit status that tells `outcome`.
constexpr DWORD ExitStatus(Outcome outcome) {
  constexpr DWORD kStatuses[] = {
      1605,  // ERROR_UNKNOWN_PRODUCT
      1619,  // ERROR_INSTALL_PACKAGE_OPEN_FAILED
      1603,  // ERROR_INSTALL_FAILURE
      1618,  // ERROR_INSTALL_ALREADY_RUNNING, which deployment systems retry later
      3010,  // ERROR_SUCCESS_REBOOT_REQUIRED
      0,     // ERROR_SUCCESS
  };
  return kStatuses[static_cast<unsigned>(outcome)];
}
