// Which failed moves another walk may finish: those of a file another process holds.
#pragma once

#include "platform/win32.h"

// True for the errors of a file that another process holds open: without sharing (a sharing
// violation, or access denied when it is the file to be replaced), or with a byte range locked.
bool Held(DWORD error);

// True when the move onto `to` that just failed with `error` failed for a file that another
// process held, and not for a name clash (a file renamed over a directory), a read-only `to`, or
// a `to` that is not there, which no wait clears. Keeps the thread's last error.
bool HeldBy(DWORD error, const char* to);
