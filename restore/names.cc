#include "restore/names.h"

#include <cstring>

#include "platform/resource.h"
#include "platform/win32.h"

namespace {

bool EqualNoCase(const char* a, const char* b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  for (; *a && lower(*a) == lower(*b); ++a, ++b) {
  }
  return lower(*a) == lower(*b);
}

}  // namespace

bool HoldsReplacementCharacter(const char* text) {
  return std::strstr(text, "\xEF\xBF\xBD") != nullptr;
}

bool Unspelled(const char* name) {
  return HoldsReplacementCharacter(name) || std::strchr(name, '\\') != nullptr;
}

bool EndsUnfaithfully(const char* name) {
  const char last = name[std::strlen(name) - 1];
  return last == '.' || last == ' ';
}

bool MayBeShortName(const char* name, const char* to) {
  if (std::strchr(name, '~') == nullptr) return false;
  WIN32_FIND_DATAA found;
  const unique_hfind find(FindFirstFileA(to, &found));
  if (!find) {
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  return !EqualNoCase(found.cFileName, name);
}
