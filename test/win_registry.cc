#include "test/win_registry.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

void RequireTestPrefix() {
  static const bool allowed = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const bool wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
    return wine && GetFileAttributesA("C:\\restore-backup-test-prefix") != INVALID_FILE_ATTRIBUTES;
  }();
  if (allowed) return;
  std::fprintf(stderr,
               "refusing to write the uninstall key: not in a throwaway Wine prefix made by the "
               "test fixture\n");
  std::exit(2);
}

}  // namespace

RegistryKey::RegistryKey(HKEY hive, REGSAM view) {
  RequireTestPrefix();
  const LSTATUS status =
      RegCreateKeyExA(hive, kPath, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key_, nullptr);
  if (status != ERROR_SUCCESS) {
    throw std::runtime_error("RegCreateKeyExA: error " + std::to_string(status));
  }
}

RegistryKey::~RegistryKey() {
  RegCloseKey(key_);
}

void RegistryKey::Set(const char* name, DWORD type, std::string_view data, bool terminate) const {
  std::string bytes(data);
  if (terminate) bytes.push_back('\0');
  // A string value's data followed by a NUL is stored with that NUL as its terminator (Windows
  // does so, and Wine with it), so an unterminated one is followed by another byte.
  const DWORD size = static_cast<DWORD>(bytes.size());
  bytes.push_back('x');
  const LSTATUS status =
      RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), size);
  if (status != ERROR_SUCCESS) {
    throw std::runtime_error("RegSetValueExA: error " + std::to_string(status));
  }
}

void RegistryKey::Delete(HKEY hive, REGSAM view) {
  RequireTestPrefix();
  RegDeleteKeyExA(hive, kPath, view, 0);
}
