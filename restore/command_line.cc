#include "restore/command_line.h"

#include <cstring>

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

const char* NextArgument(const char* line, char* argument, std::size_t size, std::size_t* length) {
  if (line == nullptr) return nullptr;
  while (IsSpace(*line)) ++line;
  if (*line == '\0') return nullptr;

  std::size_t written = 0;
  auto put = [&](char c) {
    if (written + 1 < size) argument[written] = c;
    ++written;
  };
  bool quoted = false;
  while (*line != '\0' && (quoted || !IsSpace(*line))) {
    if (*line == '\\') {
      std::size_t backslashes = 0;
      for (; *line == '\\'; ++line) ++backslashes;
      if (*line != '"') {
        while (backslashes-- > 0) put('\\');
        continue;
      }
      for (std::size_t pairs = backslashes / 2; pairs > 0; --pairs) put('\\');
      if (backslashes % 2 == 1) {
        put('"');
        ++line;
        continue;
      }
    }
    if (*line == '"') {
      ++line;
      if (quoted && *line == '"') {
        put('"');
        ++line;
      }
      quoted = !quoted;
      continue;
    }
    put(*line++);
  }
  argument[written < size ? written : size - 1] = '\0';
  *length = written;
  return line;
}

const char* SkipProgramName(const char* line) {
  if (line == nullptr) return nullptr;
  if (*line == '"') {
    const char* const end = std::strchr(line + 1, '"');
    line = end != nullptr ? end + 1 : line + std::strlen(line);
  } else {
    while (*line != '\0' && !IsSpace(*line)) ++line;
  }
  while (IsSpace(*line)) ++line;
  return line;
}
