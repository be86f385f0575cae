#include "platform/posix/fault.h"

bool FaultInjected(FaultPoint) {
  return false;
}

bool DirectoriesAreVolumes() {
  return false;
}
