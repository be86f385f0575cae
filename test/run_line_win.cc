#include "test/support.h"

namespace support {

// Windows hands the program the command line as it is.
Run RunProgramWithCommandLine(const std::string& directory, const std::string& command_line) {
  return RunProgram(directory, command_line);
}

}  // namespace support
