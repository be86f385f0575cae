#include "platform/posix/fault.h"

#include <cstring>
#include <string>

namespace {
constexpr int kPoints = static_cast<int>(FaultPoint::kCount);
int calls[kPoints];
FaultPoint failing_point = FaultPoint::kCount;
int failing_call = 0;
bool separate_volumes = false;
bool unopenable_volumes = false;
std::string held_name;
DWORD held_error = 0;
int held_moves = 0;
int held_tried = 0;
}  // namespace

bool FaultInjected(FaultPoint point) {
  const int count = ++calls[static_cast<int>(point)];
  return point == failing_point && (count == failing_call || failing_call == -1);
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

bool VolumesUnopenable() {
  return unopenable_volumes;
}

void OpenNoVolumes(bool on) {
  unopenable_volumes = on;
}

DWORD HeldFileError(const char* from) {
  const std::size_t length = std::strlen(from);
  if (held_name.empty() || length < held_name.size() ||
      held_name.compare(0, std::string::npos, from + length - held_name.size()) != 0) {
    return 0;
  }
  ++held_tried;
  if (held_moves == 0) return 0;
  if (held_moves > 0) --held_moves;
  return held_error;
}

void HoldFile(const char* name, DWORD error, int moves) {
  held_name = name;
  held_error = error;
  held_moves = moves;
  held_tried = 0;
}

int HeldFileMoves() {
  return held_tried;
}
