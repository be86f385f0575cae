// Transfers whose outcome depends on Windows' own rules for files in use and read-only files.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "restore/log.h"
#include "restore/transfer.h"
#include "test/log_lines.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

class WindowsTransfer : public InTempRoot {};

// A file open without delete sharing, as a running program's files are, can be neither
// replaced nor moved. Whichever side is in use, the installed file must stay intact and its
// replacement stay in the backup for the next run. (Deleting the installed file first, then
// moving, loses it whenever the backup's file is the one in use.)
// The log names the error of the side in use: replacing a held file is refused (5), moving one
// is a sharing violation (32).
TEST_F(WindowsTransfer, FileInUseKeepsInstalledFile) {
  for (const auto& [in_use_path, error] :
       {std::pair{"install\\a", "5"}, std::pair{"backup\\a", "32"}}) {
    SCOPED_TRACE(in_use_path);
    MakeTree("backup", "a=new b=new");
    MakeTree("install", "a=old b=old");
    HANDLE in_use =
        CreateFileA(in_use_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(in_use, INVALID_HANDLE_VALUE);
    {
      Log log;
      ASSERT_TRUE(log.Open("log.txt", ""));
      MoveTree("backup", "install", &log);
    }
    CloseHandle(in_use);
    EXPECT_EQ(ReadTree("backup"), "a=new");
    EXPECT_EQ(ReadTree("install"), "a=old b=new");
    EXPECT_EQ(logtest::Events(logtest::Lines(logtest::ReadText("log.txt"))),
              logtest::Expected(std::string("not-moved:a:") + error + " moved:b left::145"));
    DeleteFileA("log.txt");

    MoveTree("backup", "install");
    EXPECT_EQ(ReadTree("backup"), "-");
    EXPECT_EQ(ReadTree("install"), "a=new b=new");
  }
}

// Windows refuses to replace a read-only file; Wine 8 replaces it. Either way no file may be
// lost: the file is either replaced and gone from the backup, or kept with its replacement
// still in the backup.
TEST_F(WindowsTransfer, ReadOnlyInstalledFileIsNeverLost) {
  MakeTree("backup", "a=new");
  MakeTree("install", "a=old");
  ASSERT_TRUE(SetFileAttributesA("install\\a", FILE_ATTRIBUTE_READONLY));
  MoveTree("backup", "install");
  const std::string backup = ReadTree("backup"), install = ReadTree("install");
  EXPECT_TRUE((backup == "-" && install == "a=new") || (backup == "a=new" && install == "a=old"))
      << "backup: " << backup << ", install: " << install;
}

// Hidden and system attributes do not matter: only a leading dot keeps a member in place.
TEST_F(WindowsTransfer, AttributesOtherThanDirectoryIgnored) {
  MakeTree("backup", "h=1 s/f=2");
  MakeTree("install", "s/");
  ASSERT_TRUE(SetFileAttributesA("backup\\h", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA("backup\\s", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree("install"), "h=1 s/f=2");
}

// Wine shows the Linux file system as drive Z:.
std::string OnDriveZ(const std::string& linux_path) {
  std::string path = "Z:" + linux_path;
  for (char& c : path) c = c == '/' ? '\\' : c;
  return path;
}

std::string FullPath(const std::string& relative) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(relative.c_str(), sizeof full, full, nullptr);
  return length > 0 && length < sizeof full ? full : "";
}

// The backup on another volume (/dev/shm), where no rename reaches: each file is copied beside
// its destination, flushed, renamed over it, and deleted from the backup. A read-only file moves
// as on one volume, keeping its attribute, and nothing temporary is left.
TEST_F(WindowsTransfer, MovesAcrossVolumes) {
  const std::string other =
      OnDriveZ("/dev/shm/restore-win-" + std::to_string(GetCurrentProcessId()));
  MakeTree(other, "probe=1");
  MakeTree("install", "");
  const bool across = !MoveFileExA((other + "\\probe").c_str(), "install\\probe", 0) &&
                      GetLastError() == ERROR_NOT_SAME_DEVICE;
  support::RemoveTree(other);
  support::RemoveTree("install");
  if (!across) GTEST_SKIP() << other << " is not another volume here";

  const std::string backup = other + "\\backup";
  MakeTree(backup, "a=new ro=r bin/b=2 missing/c=3");
  MakeTree("install", "a=old bin/");
  ASSERT_TRUE(SetFileAttributesA((backup + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
  MoveTree(backup.c_str(), "install");
  EXPECT_EQ(ReadTree(backup), "missing/c=3");
  EXPECT_EQ(ReadTree("install"), "a=new bin/b=2 ro=r");
  EXPECT_TRUE(GetFileAttributesA("install\\ro") & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA("install\\ro", FILE_ATTRIBUTE_NORMAL);
  support::RemoveTree(other);
}

// The fixture's volume `name` (test/volumes.sh) on drive Z:, or "" where none was set up.
std::string Volume(const std::string& name) {
  const char* volumes = std::getenv("RESTORE_TEST_VOLUMES");
  return volumes != nullptr ? OnDriveZ(std::string(volumes) + "/" + name) : "";
}

// Trees the fixture lays out with Linux's own calls (test/volumes.sh), walked under Wine: the
// installation after, and the log.
struct VolumeCase {
  const char *name, *backup, *install, *install_after, *logged;
};

const VolumeCase kVolumeCases[] = {
    // Wine gives every file system under Z: one serial, so the twins' files, made in the same
    // order on two fresh volumes, have one identity; their sizes tell them apart.
    {"TwoFilesOfOneIdentity", "twin-a/backup", "twin-b/install", "a=new b=kept",
     "copied:a removed:"},
    // Wine's DeleteFileA says TRUE on a read-only file system and leaves the file.
    {"ReadOnlySourceIsInBothPlaces", "read-only/backup", "trees/install", "a=new",
     "in-both:a:19 left::145"},
    // Joined to both trees, "z\\..\\..\\victim" would move the file beside the backup over the one
    // beside the installation.
    {"BackslashNameStays", "trees/w/backup", "trees/prod/inst", "",
     "kept-fffd:z\\..\\..\\victim left::145"},
};

class VolumeTable : public WindowsTransfer, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeTable, LeavesExpectedTreeAndLog) {
  const VolumeCase& c = GetParam();
  const std::string backup = Volume(c.backup), install = Volume(c.install);
  if (backup.empty() || ReadTree(backup) == "-") GTEST_SKIP() << "the fixture made no " << c.backup;
  {
    Log log;
    ASSERT_TRUE(log.Open("log.txt", ""));
    MoveTree(backup.c_str(), install.c_str(), &log);
  }
  EXPECT_EQ(ReadTree(install), c.install_after);
  EXPECT_EQ(logtest::Events(logtest::Lines(logtest::ReadText("log.txt"))),
            logtest::Expected(c.logged, backup, install));
}

INSTANTIATE_TEST_SUITE_P(Rows, VolumeTable, ::testing::ValuesIn(kVolumeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The installation on a volume too small for the new file (a 64 KiB tmpfs the test fixture
// mounts): the copy fails with a full disk, and the installed file stays byte for byte as it
// was, with no temporary file left and the new file still in the backup.
TEST_F(WindowsTransfer, FullDestinationVolume) {
  const std::string volume = Volume("small-volume");
  if (volume.empty()) GTEST_SKIP() << "no small volume was set up";
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExA(volume.c_str(), nullptr, &total, nullptr) ||
      total.QuadPart > 1024 * 1024) {
    GTEST_SKIP() << volume << " is not a small volume (mounting needs root)";
  }
  const std::string install = volume + "\\install", old_content(30000, 'o'),
                    new_content(80000, 'n');
  MakeTree(install, "big=" + old_content);
  MakeTree("backup", "big=" + new_content);
  MoveTree("backup", install.c_str());
  EXPECT_EQ(ReadTree(install), "big=" + old_content);
  EXPECT_EQ(ReadTree("backup"), "big=" + new_content);
  support::RemoveTree(install);
}

// A backup file literally named like an installed file's short name: Windows would resolve the
// name to that other file and replace it. It stays in the backup, and the installed file too.
TEST_F(WindowsTransfer, ShortNameLookAlikeStays) {
  MakeTree("install", "LongFileName.txt=installed");
  char short_path[MAX_PATH];
  const DWORD length =
      GetShortPathNameA("install\\LongFileName.txt", short_path, sizeof short_path);
  const std::string short_name =
      length > 0 && length < sizeof short_path
          ? std::string(short_path).substr(std::string(short_path).rfind('\\') + 1)
          : "";
  if (short_name.find('~') == std::string::npos) GTEST_SKIP() << "no short names here";
  MakeTree("backup", short_name + "=new other~1.txt=2");
  MoveTree("backup", "install");
  EXPECT_EQ(ReadTree("backup"), short_name + "=new");
  EXPECT_EQ(ReadTree("install"), "LongFileName.txt=installed other~1.txt=2");
}

// "lib." is addressed by the A functions as "lib": moving it would move the directory "lib"
// over the installed file "lib". The name stays in the backup; nothing of "lib" moves.
TEST_F(WindowsTransfer, TrailingDotNameStays) {
  MakeTree("backup", "lib/x=new");
  MakeTree("install", "lib=installed");
  // Only a "\\?\" path keeps the trailing dot.
  const std::string dotted = "\\\\?\\" + FullPath("backup") + "\\lib.";
  HANDLE file = CreateFileA(dotted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  MoveTree("backup", "install");
  EXPECT_NE(GetFileAttributesA(dotted.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(DeleteFileA(dotted.c_str()));
  EXPECT_EQ(ReadTree("backup"), "lib/x=new");
  EXPECT_EQ(ReadTree("install"), "lib=installed");
}

// Another process holds a file without sharing, as a scanner or the product itself does. The
// run walks the backup again after a wait: a file released once the first walk has passed (it
// moved "b") is restored, and one held throughout stays in the backup with its installed file
// intact. Asked to, the run queues an installed file held throughout to be replaced by a copy
// beside it at the next restart, and its exit status tells what it came to.
struct HeldCase {
  const char* name;
  const char* held;  // Relative to the test's root.
  int milliseconds;  // How long it is held after the first walk; -1: throughout.
  const char* backup_after;
  const char* install_after;  // A temporary copy's number shows as XXXX.
  const char* arguments = "";
  DWORD status = 0;
  // A backup for a second run, once the file is released and before any restart (nullptr: none):
  // what it installs, the older queued copy must not replace.
  const char* then = nullptr;
};

const HeldCase kHeldCases[] = {
    {"BackupFileReleased", "backup\\a", 300, "-", "a=new b=new"},
    {"InstalledFileReleased", "install\\a", 300, "-", "a=new b=new"},
    {"HeldThroughout", "backup\\a", -1, "a=new", "a=old b=new", "/EXITCODE", 1618},
    {"QueuedForTheRestart", "install\\a", -1, "-", "a=old b=new ~rbXXXX.tmp=new",
     "/exitcode /RestartReplace", 3010},
    // Held without sharing, the backup's file cannot even be copied: nothing is queued.
    {"BackupHeldIsNotQueued", "backup\\a", -1, "a=new", "a=old b=new", "/EXITCODE /RESTARTREPLACE",
     1618},
    {"QueuedThenInstalledDirectly", "install\\a", -1, "-", "a=newer b=new",
     "/EXITCODE /RESTARTREPLACE", 0, "a=newer"},
};

// The renames queued for the restart, which the test removes: Wine would make them when the
// prefix next starts.
std::string TakeQueuedRenames() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    return "";
  }
  char data[4096] = {};
  DWORD size = sizeof data - 2;
  std::string queued;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                       reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
    for (const char* name = data; *name != '\0'; name += std::strlen(name) + 1) {
      queued += std::string(queued.empty() ? "" : " ") + name;
    }
    RegDeleteValueA(key, "PendingFileRenameOperations");
  }
  RegCloseKey(key);
  return std::regex_replace(queued, std::regex("~rb[0-9A-F]{4}"), "~rbXXXX");
}

void PrintTo(const HeldCase& c, std::ostream* out) {
  *out << c.name;
}

class HeldFile : public RegisteredInTempRoot, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HeldFile, RestoredOnceReleased) {
  const HeldCase& c = GetParam();
  MakeTree("backup", "a=new b=new");
  MakeTree("install", "a=old b=old");
  support::RegisterInstallPath(FullPath("install"));

  char self[MAX_PATH];
  ASSERT_NE(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
  std::string helper = self;
  helper = helper.substr(0, helper.rfind('\\')) + "\\hold-file.exe";
  const std::string ready = FullPath("ready");
  std::string command = "\"" + helper + "\" \"" + FullPath(c.held) + "\" \"" +
                        FullPath("backup\\b") + "\" " + std::to_string(c.milliseconds) + " \"" +
                        ready + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION holder{};
  ASSERT_TRUE(CreateProcessA(helper.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &holder));
  for (int waited = 0;
       waited < 12000 && GetFileAttributesA(ready.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited) {
    Sleep(10);
  }
  ASSERT_NE(GetFileAttributesA(ready.c_str()), INVALID_FILE_ATTRIBUTES) << "the file was not held";

  EXPECT_EQ(support::RunProgram(root_, c.arguments).exit_status,
            static_cast<int>(c.then != nullptr ? 3010 : c.status));
  TerminateProcess(holder.hProcess, 0);
  WaitForSingleObject(holder.hProcess, INFINITE);
  CloseHandle(holder.hThread);
  CloseHandle(holder.hProcess);
  DeleteFileA(ready.c_str());
  if (c.then != nullptr) {
    MakeTree("backup", c.then);
    EXPECT_EQ(support::RunProgram(root_, c.arguments).exit_status, static_cast<int>(c.status));
  }
  EXPECT_EQ(ReadTree("backup"), c.backup_after);
  EXPECT_EQ(std::regex_replace(ReadTree("install"), std::regex("~rb[0-9A-F]{4}"), "~rbXXXX"),
            c.install_after);
  const std::string queued =
      c.status == 3010 || c.then != nullptr
          ? "\\??\\" + FullPath("install\\~rbXXXX.tmp") + " !\\??\\" + FullPath("install\\a")
          : "";
  EXPECT_EQ(TakeQueuedRenames(), queued);
}

INSTANTIATE_TEST_SUITE_P(Rows, HeldFile, ::testing::ValuesIn(kHeldCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
