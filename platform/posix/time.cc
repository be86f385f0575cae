// Waiting, over POSIX clocks.
#include <time.h>

#include <cerrno>

#include "platform/posix/fault.h"
#include "platform/win32.h"

void Sleep(DWORD milliseconds) {
  FaultInjected(FaultPoint::kSleep);
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // A signal cuts nanosleep short; the rest is slept.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
