#include "platform/posix/arguments.h"

#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

namespace {

char empty_line[] = "";
char* command_line = empty_line;

bool NeedsQuotes(const char* argument) {
  return *argument == '\0' || std::strpbrk(argument, " \t\n\v\"") != nullptr;
}

// Writes `argument`, quoted if it must be, at `out` (nullptr: only counts) and returns how many
// bytes it takes. Inside quotes, backslashes are doubled only where a double quote follows them:
// before an escaped quote of the argument, and before the closing quote.
std::size_t Quote(const char* argument, char* out) {
  if (!NeedsQuotes(argument)) {
    const std::size_t length = std::strlen(argument);
    if (out) std::memcpy(out, argument, length);
    return length;
  }
  std::size_t n = 0;
  auto put = [&](char c, std::size_t times) {
    for (; times > 0; --times, ++n) {
      if (out) out[n] = c;
    }
  };
  put('"', 1);
  for (const char* c = argument;; ++c) {
    std::size_t backslashes = 0;
    for (; *c == '\\'; ++c) ++backslashes;
    if (*c == '\0') {
      put('\\', backslashes * 2);
      break;
    }
    if (*c == '"') {
      put('\\', backslashes * 2 + 1);
    } else {
      put('\\', backslashes);
    }
    put(*c, 1);
  }
  put('"', 1);
  return n;
}

}  // namespace

char* JoinArguments(int count, const char* const* arguments) {
  std::size_t size = 1;
  for (int i = 0; i < count; ++i) size += Quote(arguments[i], nullptr) + 1;
  char* line = static_cast<char*>(std::malloc(size));
  if (line == nullptr) return nullptr;
  std::size_t at = 0;
  for (int i = 0; i < count; ++i) {
    if (i > 0) line[at++] = ' ';
    at += Quote(arguments[i], line + at);
  }
  line[at] = '\0';
  return line;
}

char* JoinCommandLine(int count, const char* const* arguments) {
  char* const rest = JoinArguments(count - 1, arguments + 1);
  if (rest == nullptr) return nullptr;
  const std::size_t name = std::strlen(arguments[0]), tail = std::strlen(rest);
  char* const line = static_cast<char*>(std::malloc(name + tail + 4));
  if (line != nullptr) {
    std::size_t at = 0;
    line[at++] = '"';
    for (const char* c = arguments[0]; *c != '\0'; ++c) {
      if (*c != '"') line[at++] = *c;
    }
    line[at++] = '"';
    line[at++] = ' ';
    std::memcpy(line + at, rest, tail + 1);
  }
  std::free(rest);
  return line;
}

void SetCommandLine(char* line) {
  command_line = line != nullptr ? line : empty_line;
}

LPSTR GetCommandLineA() {
  return command_line;
}
