// The product's uninstall key in the real (Wine's) registry, for the Windows tests.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// `utf8` as UTF-16, the form in which Windows itself keeps names and registry strings.
std::wstring Wide(std::string_view utf8);

// Creating or deleting the key first checks that the process runs under Wine in a throwaway
// prefix that the test fixture made (it leaves a marker file in it); anywhere else, on a real
// machine or in a user's own prefix, the process stops before the registry is touched.
class RegistryKey {
 public:
  static constexpr char kPath[] =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1";

  // Creates (or opens) the key under `hive` in the registry view `view` (0: the caller's own,
  // which for this 32-bit program is the 32-bit view, as a 32-bit installer writes it).
  RegistryKey(HKEY hive, REGSAM view);
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Stores `data` as a value of `type`, with a terminating NUL only when `terminate`.
  void Set(const char* name, DWORD type, std::string_view data, bool terminate) const;
  // Stores the UTF-8 `text` as a terminated REG_SZ in UTF-16, as a Unicode installer writes it.
  void SetString(const char* name, std::string_view text) const;
  static void Delete(HKEY hive, REGSAM view);

 private:
  HKEY key_ = nullptr;
};
