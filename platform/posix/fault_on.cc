#include "platform/posix/fault.h"

namespace {
constexpr int kPoints = static_cast<int>(FaultPoint::kCount);
int calls[kPoints];
FaultPoint failing_point = FaultPoint::kCount;
int failing_call = 0;
bool separate_volumes = false;
}  // namespace

bool FaultInjected(FaultPoint point) {
  const int count = ++calls[static_cast<int>(point)];
  return point == failing_point && count == failing_call;
}

void FailNthCall(FaultPoint point, int n) {
  for (int& count : calls) count = 0;
  failing_point = point;
  failing_call = n;
}

int FaultCalls(FaultPoint point) {
  return calls[static_cast<int>(point)];
}

bool DirectoriesAreVolumes() {
  return separate_volumes;
}

void SeparateDirectoryVolumes(bool on) {
  separate_volumes = on;
}
