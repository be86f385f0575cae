// What the tests need of the system around the program: directory trees, the registry
// registration, and starting the program as a process. Every path and name is UTF-8. The trees
// are one implementation over std::filesystem (support.cc); the registration and the process,
// one per platform.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace support {

// The path that the UTF-8 string `utf8` names, and back. On Windows a path holds UTF-16: built
// from char8_t, it never passes through the ANSI code page.
std::filesystem::path Path(std::string_view utf8);
std::string Utf8(const std::filesystem::path& path);

// A fresh, empty directory below the system's temporary directory. Relative test paths are
// kept short by working inside it.
std::string MakeTempRoot();

// `directory`, the platform's separator, and `relative` with each "/" turned into that separator.
std::string Join(const std::string& directory, std::string_view relative);

// Lays out entries below `root`, which is made if missing. Entries are separated by spaces and
// use "/": "dir/" is a directory, "path=text" a file holding text, "path->target" a symbolic
// link, "path=>file" a hard link to `file` (from the current directory). Parents are made as
// needed.
void MakeTree(const std::string& root, std::string_view entries);
// The same with one entry a string, for names that hold spaces.
void MakeTree(const std::string& root, const std::vector<std::string>& entries);

// Describes the tree below `root` in the same form, entries sorted: every file and link, and
// each directory that holds nothing. "" for an empty root, "-" for a missing one. Links are
// not followed.
std::string ReadTree(const std::string& root);

// Entries sorted and joined by spaces, as ReadTree describes a tree.
std::string Describe(std::vector<std::string> entries);

// The whole content of the file at `path`.
std::string ReadText(const std::string& path);

// Removes `root` and everything below it, read-only files included; nothing if it is missing.
void RemoveTree(const std::string& root);

// Compares trees described by ReadTree before and after a run that may have failed or been
// stopped part way. Returns what went wrong, or "" when nothing did: each file of the backup is
// in exactly one place, backup or installation, with all its content; each installed file is
// still there, as it was or replaced; and nothing else has appeared. With `across` (files were
// copied between volumes) a backup file may also be in both places: copied, but not yet deleted.
std::string LostFiles(const std::string& backup_before, const std::string& install_before,
                      const std::string& backup_after, const std::string& install_after,
                      bool across = false);
void ChangeDirectory(const std::string& directory);
std::string CurrentDirectory();

// Registers `install_path` as the product's installation directory, the way its installer
// does: a REG_SZ "Inno Setup: App Path" under the uninstall key of HKEY_LOCAL_MACHINE.
void RegisterInstallPath(const std::string& install_path);
// Removes the product's uninstall registration.
void Unregister();

struct Run {
  int exit_status;
  std::string output;  // Everything written to the standard output and error.
};
// Starts the built program, which lies beside the test binary, as a process of its own in
// `directory`, passing `arguments` on its command line, and waits for it. On Windows arguments
// that begin with "/" follow the quoted name with no space, a form that C runtimes misread.
Run RunProgram(const std::string& directory, const std::string& arguments = "");

// How a run that renames files logs its flushes, as logtest::Expected's tokens: before the first
// rename and after the last. Linux flushes both volumes. Wine is known to report a volume's flush
// it does not make, so each file is flushed before its rename instead.
extern const char* const kFlushedBefore;
// Whether the suite can make symbolic links: Wine 8 cannot.
extern const bool kSymbolicLinks;
extern const char* const kFlushedAfter;
// The exit status a process returning `status` shows its parent: Linux keeps the low byte.
extern const unsigned kExitStatusMask;

}  // namespace support

namespace support {

// Starts the program as RunProgram does, handing it `command_line` the way Windows hands a
// program its command line; on POSIX the line is first split into the process's arguments by
// Windows' rules, which the program's entry joins back.
Run RunProgramWithCommandLine(const std::string& directory, const std::string& command_line);

}  // namespace support
