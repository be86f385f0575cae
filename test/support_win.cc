#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "test/support.h"
#include "test/win_registry.h"

namespace support {
namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": error " + std::to_string(GetLastError()));
}

std::string Native(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '/', '\\');
  return native;
}

void MakeDirectories(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  Check(CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS,
        "CreateDirectoryA " + path);
}

std::string ReadFileText(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  Check(file != INVALID_HANDLE_VALUE, "open " + path);
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

void WriteFileText(const std::string& path, std::string_view text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  Check(file != INVALID_HANDLE_VALUE, "create " + path);
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  Check(ok && written == text.size(), "write " + path);
}

template <typename Visit>
void ForEachMember(const std::string& directory, Visit visit) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
  Check(find != INVALID_HANDLE_VALUE, "FindFirstFileA " + directory);
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") visit(name, entry.dwFileAttributes);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

void Collect(const std::string& root, const std::string& prefix, std::vector<std::string>* out) {
  bool empty = true;
  ForEachMember(root, [&](const std::string& name, DWORD attributes) {
    empty = false;
    const std::string path = root + "\\" + name, relative = prefix + name;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      out->push_back(relative + "->?");
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      Collect(path, relative + "/", out);
    } else {
      out->push_back(relative + "=" + ReadFileText(path));
    }
  });
  if (empty && !prefix.empty()) out->push_back(prefix);
}

}  // namespace

std::string MakeTempRoot() {
  static unsigned serial = 0;
  char base[MAX_PATH];
  Check(GetTempPathA(sizeof base, base) != 0, "GetTempPathA");
  for (;;) {
    const std::string root = std::string(base) + "rt" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(++serial);
    if (CreateDirectoryA(root.c_str(), nullptr)) return root;
    Check(GetLastError() == ERROR_ALREADY_EXISTS, "CreateDirectoryA " + root);
  }
}

std::string Join(const std::string& directory, std::string_view relative) {
  return directory + "\\" + Native(relative);
}

void MakeTree(const std::string& root, const std::vector<std::string>& entries) {
  MakeDirectories(Native(root));
  for (const std::string& entry : entries) {
    const std::size_t equals = entry.find('=');
    if (entry.find("->") < equals) throw std::runtime_error("links are not made here: " + entry);
    const std::string path = Join(root, entry.substr(0, equals));
    if (equals == std::string::npos) {
      MakeDirectories(path.substr(0, path.size() - 1));
      continue;
    }
    MakeDirectories(path.substr(0, path.rfind('\\')));
    WriteFileText(path, std::string_view(entry).substr(equals + 1));
  }
}

std::string ReadTree(const std::string& root) {
  const DWORD attributes = GetFileAttributesA(Native(root).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "-";
  std::vector<std::string> entries;
  Collect(Native(root), "", &entries);
  return Describe(std::move(entries));
}

void RemoveTree(const std::string& root) {
  const std::string native = Native(root);
  if (GetFileAttributesA(native.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  ForEachMember(native, [&](const std::string& name, DWORD attributes) {
    const std::string path = native + "\\" + name;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      RemoveTree(path);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveDirectoryA(path.c_str());
    } else {
      DeleteFileA(path.c_str());
    }
  });
  RemoveDirectoryA(native.c_str());
}

void ChangeDirectory(const std::string& directory) {
  Check(SetCurrentDirectoryA(Native(directory).c_str()), "SetCurrentDirectoryA " + directory);
}

std::string CurrentDirectory() {
  char path[MAX_PATH];
  Check(GetCurrentDirectoryA(sizeof path, path) != 0, "GetCurrentDirectoryA");
  return path;
}

void RegisterInstallPath(const std::string& install_path) {
  Unregister();
  const RegistryKey key(HKEY_LOCAL_MACHINE, 0);
  const std::string location = install_path + (install_path.back() == '\\' ? "" : "\\");
  key.Set("Inno Setup: Setup Version", REG_SZ, "6.2.2", true);
  key.Set("Inno Setup: App Path", REG_SZ, install_path, true);
  key.Set("InstallLocation", REG_SZ, location, true);
  key.Set("DisplayName", REG_SZ, "Velmarok", true);
  key.Set("UninstallString", REG_SZ, "\"" + location + "unins000.exe\"", true);
}

void Unregister() {
  RegistryKey::Delete(HKEY_LOCAL_MACHINE, 0);
}

Run RunProgram(const std::string& directory, const std::string& arguments) {
  char self[MAX_PATH];
  Check(GetModuleFileNameA(nullptr, self, sizeof self) != 0, "GetModuleFileNameA");
  std::string program = self;
  program = program.substr(0, program.rfind('\\')) + "\\restore-backup.exe";

  // A windowed program has no standard handles of its own: give it a file for both, so that
  // anything it wrote would be seen.
  const std::string output_root = MakeTempRoot(), output_path = output_root + "\\output";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileA(output_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
  Check(output != INVALID_HANDLE_VALUE, "create " + output_path);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process{};
  std::string command_line = "\"" + program + "\" " + arguments;
  const bool started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                      0, nullptr, Native(directory).c_str(), &startup, &process);
  CloseHandle(output);
  Check(started, "CreateProcessA " + program);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  const std::string text = ReadFileText(output_path);
  RemoveTree(output_root);
  return {static_cast<int>(status), text};
}

}  // namespace support
