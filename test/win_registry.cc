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

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

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

void RegistryKey::SetString(const char* name, std::string_view text) const {
  const std::wstring data = Wide(text);
  const LSTATUS status = RegSetValueExW(key_, Wide(name).c_str(), 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(data.c_str()),
                                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) {
    throw std::runtime_error("RegSetValueExW: error " + std::to_string(status));
  }
}

void RegistryKey::Delete(HKEY hive, REGSAM view) {
  RequireTestPrefix();
  RegDeleteKeyExA(hive, kPath, view, 0);
}
