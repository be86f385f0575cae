// The program as built, except that every volume fails to open, as for a run without elevation
// or on a network share: it then flushes each file before its rename. Set before main runs, so
// that the start-up is the program's own. Bench only: it links the layer's fault hook.
#include "platform/posix/fault.h"

namespace {
[[maybe_unused]] const bool every_volume_fails = (FailNthCall(FaultPoint::kOpenVolume, -1), true);
}  // namespace
