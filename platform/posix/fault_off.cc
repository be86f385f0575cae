#include "platform/posix/fault.h"

bool FaultInjected(FaultPoint) {
  return false;
}

bool DirectoriesAreVolumes() {
  return false;
}

bool VolumesUnopenable() {
  return false;
}

DWORD HeldFileError(const char*) {
  return 0;
}
