// What only the POSIX tests need of the system.
#pragma once

#include <sys/types.h>

#include <string>

namespace support {

// A writable directory on a file system other than the one `near` is on, or "" where none is.
std::string OtherFileSystem(const std::string& near);

// Starts the built program in `directory` with its output discarded; returns its process id.
pid_t StartProgram(const std::string& directory);

}  // namespace support
