#include "restore/command_line.h"

#include <cstring>

#include "platform/win32.h"

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

namespace {

constexpr char kDefaultName[] = "restore-backup.log";
constexpr char kSwitch[] = "/log";
constexpr std::size_t kSwitchLength = sizeof kSwitch - 1;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where `argument` goes on past `name` (lower case), matched in any case; nullptr if it differs.
const char* AfterSwitch(const char* argument, const char* name) {
  for (; *name != '\0'; ++argument, ++name) {
    if (Lower(*argument) != *name) return nullptr;
  }
  return argument;
}

// True when `argument` begins with the log switch, in any case, followed by its end or "=".
bool IsLogSwitch(const char* argument) {
  const char* end = AfterSwitch(argument, kSwitch);
  return end != nullptr && (*end == '\0' || *end == '=');
}

}  // namespace

bool LogPath(const char* command_line, char (&path)[MAX_PATH]) {
  // Room for the switch, "=" and the longest path that fits, so that a longer one shows.
  char argument[kSwitchLength + 1 + MAX_PATH];
  std::size_t length = 0;
  bool found = false;
  for (const char* rest = command_line;
       (rest = NextArgument(rest, argument, sizeof argument, &length)) != nullptr;) {
    if (!IsLogSwitch(argument)) continue;
    found = true;
    if (length >= sizeof argument) {
      path[0] = '\0';  // Too long: no log, rather than one in some other file.
    } else if (length == kSwitchLength) {
      const DWORD directory = GetTempPathA(MAX_PATH, path);
      if (directory == 0 || directory + sizeof kDefaultName > MAX_PATH) {
        path[0] = '\0';
      } else {
        std::memcpy(path + directory, kDefaultName, sizeof kDefaultName);
      }
    } else {
      std::memcpy(path, argument + kSwitchLength + 1, length - kSwitchLength);
    }
  }
  return found && path[0] != '\0';
}

bool HasSwitch(const char* command_line, const char* name) {
  // Room for the longest switch and one more byte, so that a longer argument does not match.
  char argument[32];
  std::size_t length = 0;
  for (const char* rest = command_line;
       (rest = NextArgument(rest, argument, sizeof argument, &length)) != nullptr;) {
    const char* end = length < sizeof argument ? AfterSwitch(argument, name) : nullptr;
    if (end != nullptr && *end == '\0') return true;
  }
  return false;
}
