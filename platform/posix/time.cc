// Waiting and the clocks, over POSIX clocks.
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

void GetLocalTime(SYSTEMTIME* time) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  *time = {static_cast<WORD>(local.tm_year + 1900), static_cast<WORD>(local.tm_mon + 1),
           static_cast<WORD>(local.tm_wday),        static_cast<WORD>(local.tm_mday),
           static_cast<WORD>(local.tm_hour),        static_cast<WORD>(local.tm_min),
           static_cast<WORD>(local.tm_sec),         static_cast<WORD>(now.tv_nsec / 1000000)};
}

ULONGLONG GetTickCount64() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<ULONGLONG>(now.tv_sec) * 1000u +
         static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}
