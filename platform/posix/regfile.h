// The text format in which regedit and "reg export" write the registry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

struct RegValue {
  std::string name;  // "" for the key's default value ("@").
  DWORD type;
  std::string data;  // As RegQueryValueExA returns it: strings in this system's code page.
};

// Applies the registry file `text` ("Windows Registry Editor Version 5.00" or "REGEDIT4"; UTF-8,
// or UTF-16LE behind a byte order mark) and collects the values of the key `path`, a full path
// such as "HKEY_LOCAL_MACHINE\SOFTWARE\Name", as a 32-bit program sees it. Later lines override
// earlier ones; "[-key]" and "name"=- delete. Names match case-insensitively. Only a value line of
// hex data ("hex:" or "hex(N):") continues onto the next line with a trailing backslash; any
// other line ends at its line break. A file with any key at or below
// HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node comes from 64-bit Windows: there `path`
// HKEY_LOCAL_MACHINE\SOFTWARE\X is read as HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\X, as WOW64
// redirects it, and a key only the 64-bit side holds is absent; a "[-key]" line alone does not
// make a file 64-bit. Returns false when the text is not a registry file or the key does not
// exist after it. A malformed line is skipped. Time and memory are linear in the size of `text`.
// Throws std::bad_alloc.
bool ReadRegistryKey(std::string_view text, std::string_view path, std::vector<RegValue>* values);
