// The thread's last error, as the POSIX layer's functions record it for GetLastError.
#pragma once

#include "platform/win32.h"

// The Win32 error that stands for the errno value `error`.
DWORD Win32Error(int error);

// Records `error` as the thread's last error and returns FALSE, the failure value.
BOOL Fail(DWORD error);
// The same for the current errno.
BOOL FailErrno();
