// What the tests need of Windows: the product's registration in the real registry, and starting
// the program as a process. Strings cross into Windows as UTF-16, converted from UTF-8 here, so
// they never depend on the process's code page.
#include <windows.h>

#include <stdexcept>

#include "test/support.h"
#include "test/win_registry.h"

namespace support {
namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": error " + std::to_string(GetLastError()));
}

}  // namespace

void RegisterInstallPath(const std::string& install_path) {
  Unregister();
  const RegistryKey key(HKEY_LOCAL_MACHINE, 0);
  const std::string location = install_path + (install_path.back() == '\\' ? "" : "\\");
  key.SetString("Inno Setup: Setup Version", "6.2.2");
  key.SetString("Inno Setup: App Path", install_path);
  key.SetString("InstallLocation", location);
  key.SetString("DisplayName", "Velmarok");
  key.SetString("UninstallString", "\"" + location + "unins000.exe\"");
}

void Unregister() {
  RegistryKey::Delete(HKEY_LOCAL_MACHINE, 0);
}

Run RunProgram(const std::string& directory, const std::string& arguments) {
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  Check(length != 0 && length < MAX_PATH, "GetModuleFileNameW");
  const std::wstring program =
      std::filesystem::path(self).replace_filename(L"restore-backup.exe").wstring();

  // A windowed program has no standard handles of its own: give it a file for both, so that
  // anything it wrote would be seen.
  const std::string output_root = MakeTempRoot(), output_path = Join(output_root, "output");
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(Path(output_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
  Check(output != INVALID_HANDLE_VALUE, "create " + output_path);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process{};
  std::wstring command_line =
      L"\"" + program + (arguments.starts_with('/') ? L"\"" : L"\" ") + Wide(arguments);
  const bool started = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, Path(directory).c_str(), &startup, &process);
  CloseHandle(output);
  Check(started, "CreateProcessW restore-backup.exe");
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const std::string text = ReadText(output_path);
  RemoveTree(output_root);
  return {static_cast<int>(status), text};
}

const char* const kFlushedBefore = "volume-ignored:";
const bool kSymbolicLinks = false;
const unsigned kExitStatusMask = 0xFFFFFFFF;
const char* const kFlushedAfter = "";

}  // namespace support
