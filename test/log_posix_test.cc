// The log on the Linux build: the registry file's reasons, the layer's errors and their texts,
// the process entry's command line, the buffer's writes, and the outcomes only POSIX file
// systems show here.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/arguments.h"
#include "platform/posix/error.h"
#include "platform/posix/fault.h"
#include "restore/command_line.h"
#include "restore/durable.h"
#include "restore/entry.h"
#include "restore/log.h"
#include "restore/restart.h"
#include "restore/transfer.h"
#include "test/log_lines.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

// Sets the environment variable `name` while it lives, then puts back what was there.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

// Runs the program's entry in the current directory with a log in "log.txt"; returns its lines.
std::vector<std::string> RunLogged() {
  char command_line[] = "/LOG=log.txt";
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, command_line, 0), 0);
  return logtest::Lines(logtest::ReadText("log.txt"));
}

// Why a registration gives no installation directory, as the log names it.
struct ReasonCase {
  const char* name;
  const char* values;  // The key's value lines; nullptr: no registry file at all.
  const char* said;    // What the registry line says after the value's name.
};

const std::string kTooLong(300, 'x');
const std::string kFull(MAX_PATH, 'a');

const ReasonCase kReasonCases[] = {
    {"NoRegistryFile", nullptr, ": no such key, so nothing is restored"},
    {"NoValue", "\"DisplayName\"=\"Velmarok\"", ": no such value, so nothing is restored"},
    {"ExpandSz", "\"Inno Setup: App Path\"=hex(2):2f,78,00",
     ": a REG_EXPAND_SZ (type 2), not a REG_SZ, so nothing is restored"},
    {"Dword", "\"Inno Setup: App Path\"=dword:00000001",
     ": a REG_DWORD (type 4), not a REG_SZ, so nothing is restored"},
    {"UnknownType", "\"Inno Setup: App Path\"=hex(20):2f,00",
     ": a value (type 32), not a REG_SZ, so nothing is restored"},
    {"EmptyString", "\"Inno Setup: App Path\"=\"\"", ": empty, so nothing is restored"},
    {"NoData", "\"Inno Setup: App Path\"=hex(1):", ": empty, so nothing is restored"},
    {"LongerThanTheBuffer", "\"Inno Setup: App Path\"=\"TOO_LONG\"",
     ": longer than its buffer of 260 bytes, so nothing is restored"},
    {"Unterminated", "\"Inno Setup: App Path\"=hex(1):FULL",
     ": fills its buffer of 260 bytes without a terminator, so nothing is restored"},
    {"HoldsReplacementCharacter", "\"Inno Setup: App Path\"=\"/i\xef\xbf\xbd\"",
     ": holds U+FFFD, shown for a character the system could not spell, so nothing is restored"},
    {"Found", "\"Inno Setup: App Path\"=\"INSTALL\"", " = INSTALL"},
};

void PrintTo(const ReasonCase& c, std::ostream* out) {
  *out << c.name;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

class ReasonTable : public InTempRoot, public ::testing::WithParamInterface<ReasonCase> {};

TEST_P(ReasonTable, LogsWhyNothingIsRestored) {
  const ReasonCase& c = GetParam();
  const std::string install = support::Join(root_, "install");
  // kFull's bytes, "a" each, as the file writes binary data.
  std::string bytes = "61";
  for (std::size_t i = 1; i < kFull.size(); ++i) bytes += ",61";
  const std::string hive = support::Join(root_, "HKLM.reg");
  if (c.values != nullptr) {
    std::ofstream out(hive);
    out << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
           "Uninstall\\velmarok_is1]\n"
        << Replace(Replace(Replace(c.values, "TOO_LONG", kTooLong), "FULL", bytes), "INSTALL",
                   install)
        << "\n";
  }
  const ScopedVariable registry("RESTORE_BACKUP_HKLM", hive.c_str());
  MakeTree("backup", "f=new");
  MakeTree("install", "f=old");
  const std::vector<std::string> lines = RunLogged();
  const bool found = std::string(c.name) == "Found";
  ASSERT_EQ(lines.size(), found ? 9u : 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[1],
            "registry: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
            "velmarok_is1, \"Inno Setup: App Path\"" +
                Replace(c.said, "INSTALL", install));
  EXPECT_EQ(ReadTree("backup"), found ? "-" : "f=new");
  EXPECT_EQ(lines[lines.size() - 2].rfind(
                found ? "done: 1 file moved, 0 not moved, 0 kept, 0 directories"
                      : "done: 0 files moved, 0 not moved, 0 kept, 0 directories",
                0),
            0u)
      << lines[lines.size() - 2];
  EXPECT_EQ(lines.back(), found ? "exit status 0: every file is installed"
                                : "exit status 0 (1605 with /EXITCODE): no usable registration, so "
                                  "nothing is restored");
}

INSTANTIATE_TEST_SUITE_P(Rows, ReasonTable, ::testing::ValuesIn(kReasonCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The Win32 error that the layer reports for each errno its calls can give: the log must name
// the real cause (a loop of links is no write fault).
struct ErrnoCase {
  int error;
  DWORD win32;
};

const ErrnoCase kErrnoCases[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_WRITE_PROTECT},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {EBUSY, ERROR_SHARING_VIOLATION},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EAGAIN, ERROR_SHARING_VIOLATION},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EIO, ERROR_IO_DEVICE},
    {EMLINK, ERROR_TOO_MANY_LINKS},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {EUCLEAN, ERROR_FILE_CORRUPT},
    {ESTALE, ERROR_FILE_INVALID},
    {ENOTCONN, ERROR_UNEXP_NET_ERR},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EINTR, ERROR_OPERATION_ABORTED},
    {ERANGE, ERROR_INSUFFICIENT_BUFFER},
};

TEST(Errors, EachErrnoAsWindowsReportsIt) {
  for (const ErrnoCase& c : kErrnoCases) EXPECT_EQ(Win32Error(c.error), c.win32) << c.error;
}

std::string Message(DWORD error) {
  char text[512];
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, sizeof text, nullptr);
  return std::string(text, length);
}

// Every error the layer can report has its text, in Windows' words and with its line break.
TEST(Errors, EveryReportedErrorHasItsText) {
  for (int error = 1; error < 134; ++error) {
    EXPECT_NE(Message(Win32Error(error)), "") << "errno " << error;
  }
  for (DWORD error :
       std::vector<DWORD>{ERROR_SUCCESS,        ERROR_FILE_NOT_FOUND,       ERROR_PATH_NOT_FOUND,
                          ERROR_ACCESS_DENIED,  ERROR_INVALID_HANDLE,       ERROR_NOT_ENOUGH_MEMORY,
                          ERROR_OUTOFMEMORY,    ERROR_NOT_SAME_DEVICE,      ERROR_NO_MORE_FILES,
                          ERROR_WRITE_FAULT,    ERROR_SHARING_VIOLATION,    ERROR_LOCK_VIOLATION,
                          ERROR_NOT_SUPPORTED,  ERROR_FILE_EXISTS,          ERROR_INVALID_PARAMETER,
                          ERROR_DISK_FULL,      ERROR_INSUFFICIENT_BUFFER,  ERROR_DIR_NOT_EMPTY,
                          ERROR_ALREADY_EXISTS, ERROR_FILENAME_EXCED_RANGE, ERROR_MORE_DATA,
                          ERROR_DIRECTORY,      ERROR_CANT_RESOLVE_FILENAME}) {
    EXPECT_NE(Message(error), "") << "error " << error;
  }
  EXPECT_EQ(Message(ERROR_SHARING_VIOLATION),
            "The process cannot access the file because it is being used by another "
            "process.\r\n");
  EXPECT_EQ(Message(ERROR_PATH_NOT_FOUND), "The system cannot find the path specified.\r\n");
  EXPECT_EQ(Message(ERROR_DIR_NOT_EMPTY), "The directory is not empty.\r\n");
  EXPECT_EQ(Message(ERROR_CANT_RESOLVE_FILENAME),
            "The name of the file cannot be resolved by the system.\r\n");
}

TEST(Errors, MessageFailures) {
  char text[8];
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, text,
                           sizeof text, nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(Message(99999), "");
  EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
}

// The process entry hands the arguments over as one command line, quoted so that Windows'
// rules split it back into exactly the same arguments.
struct JoinCase {
  std::vector<std::string> arguments;
  const char* line;  // nullptr: only the round trip is checked.
};

const JoinCase kJoinCases[] = {
    {{}, ""},
    {{""}, "\"\""},
    {{"/VERYSILENT", "/x"}, "/VERYSILENT /x"},
    {{"/LOG=/tmp/my dir/x.log"}, "\"/LOG=/tmp/my dir/x.log\""},
    {{"/LOG=\"/tmp/x.log\""}, "\"/LOG=\\\"/tmp/x.log\\\"\""},
    {{"a\\b", "trail\\"}, "a\\b trail\\"},
    {{"trail space\\"}, "\"trail space\\\\\""},
    {{"a", "", "b"}, "a \"\" b"},
    {{"tab\there", "new\nline", "vertical\vtab"}, nullptr},
    {{"\\\"", "a\\\\\"b", "\"\"\"", "ends quote\"", "\"starts"}, nullptr},
    {{"\\\\server\\share\\", "\\\\\\"}, nullptr},
};

class JoinTable : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinTable, SplitsBackIntoTheSameArguments) {
  const JoinCase& c = GetParam();
  // Behind a program's name holding a double quote, which its rule cannot carry.
  std::vector<const char*> pointers{"/opt/a\" /LOG=x/restore-backup"};
  for (const std::string& argument : c.arguments) pointers.push_back(argument.c_str());
  char* line = JoinArguments(static_cast<int>(pointers.size()) - 1, pointers.data() + 1);
  ASSERT_NE(line, nullptr);
  const std::string joined = line;
  std::free(line);
  if (c.line) {
    EXPECT_EQ(joined, c.line);
  }
  char* whole = JoinCommandLine(static_cast<int>(pointers.size()), pointers.data());
  ASSERT_NE(whole, nullptr);
  const std::string rest = SkipProgramName(whole);
  std::free(whole);
  std::vector<std::string> split;
  std::vector<char> argument(rest.size() + 1);
  std::size_t length = 0;
  for (const char* at = rest.c_str();
       (at = NextArgument(at, argument.data(), argument.size(), &length)) != nullptr;) {
    split.emplace_back(argument.data(), length);
  }
  EXPECT_EQ(split, c.arguments) << rest;
}

INSTANTIATE_TEST_SUITE_P(Rows, JoinTable, ::testing::ValuesIn(kJoinCases));

// The temporary directory ends in the separator, as Windows gives it.
TEST(TemporaryPath, FromTmpdir) {
  char path[MAX_PATH];
  for (const auto& [tmpdir, expected] : std::vector<std::pair<const char*, std::string>>{
           {"/var/x", "/var/x/"}, {"/var/x/", "/var/x/"}, {"", "/tmp/"}, {nullptr, "/tmp/"}}) {
    const ScopedVariable variable("TMPDIR", tmpdir);
    EXPECT_EQ(GetTempPathA(sizeof path, path), expected.size());
    EXPECT_EQ(path, expected);
    EXPECT_EQ(GetTempPathA(3, path), expected.size() + 1);
  }
}

class LogWrites : public RegisteredInTempRoot {
 protected:
  void SetUp() override {
    RegisteredInTempRoot::SetUp();
    LayOut();
    support::RegisterInstallPath(support::Join(root_, "install"));
  }
  // The trees, laid out afresh in the test's root.
  void LayOut() {
    std::vector<std::string> backup;
    for (int i = 0; i < 1500; ++i) backup.push_back("dir/file-" + std::to_string(i) + "=x");
    MakeTree("backup", backup);
    MakeTree("install", "dir/");
  }
  void TearDown() override {
    FailNthCall(FaultPoint::kCount, 0);
    RegisteredInTempRoot::TearDown();
  }
  std::size_t LogSize() { return logtest::ReadText("log.txt").size(); }
};

// One write for each full buffer of 64 KiB, and one for the rest: a large tree costs a few
// calls, not one a file.
TEST_F(LogWrites, OneWriteForEachFullBuffer) {
  FailNthCall(FaultPoint::kCount, 0);
  RunLogged();
  EXPECT_GT(LogSize(), 64u * 1024);
  EXPECT_EQ(FaultCalls(FaultPoint::kWriteFile),
            static_cast<int>((LogSize() + 64 * 1024 - 1) / (64 * 1024)));
  EXPECT_EQ(ReadTree("backup"), "-");
}

// A failed write ends the log there, with every full buffer before it written; the restore goes
// on to the end.
TEST_F(LogWrites, FailedWriteEndsTheLogNotTheRestore) {
  for (int failing : {1, 2}) {
    SCOPED_TRACE("write " + std::to_string(failing) + " fails");
    std::remove("log.txt");
    support::RemoveTree("backup");
    support::RemoveTree("install");
    LayOut();
    FailNthCall(FaultPoint::kWriteFile, failing);
    char command_line[] = "/LOG=log.txt";
    EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, command_line, 0), 0);
    EXPECT_EQ(FaultCalls(FaultPoint::kWriteFile), failing);
    EXPECT_EQ(LogSize(), (failing - 1) * 64u * 1024);
    EXPECT_EQ(ReadTree("backup"), "-");
  }
}

// Outcomes that only this build can bring about here: links, names Windows would not address
// faithfully, moves across file systems, and failures injected into the layer.
struct PosixEventCase {
  const char* name;
  const char* backup;
  const char* install;
  bool volumes;      // Every directory acts as a volume of its own.
  FaultPoint fault;  // The call that fails, once (kCount: none).
  int nth;
  const char* backup_after;
  const char* install_after;
  const char* logged;
  // "backup" is a link to this directory, which holds the backup column's tree (nullptr: none).
  const char* backup_link = nullptr;
  bool unopenable = false;  // No volume opens, so each file is flushed.
  const char* log = "log.txt";
  // The renames an earlier run queued for the restart, source then destination, a space between
  // each (nullptr: no queue).
  const char* queued = nullptr;
};

// A directory name that puts a full path below the test root past MAX_PATH, while the paths
// the walk builds from it (and a temporary name beside its file) still fit.
#define LONG                                                                                       \
  "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd" \
  "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd" \
  "dddddddddddddddddddddddddddddddddddddddddddd"

// A relative link path of 280 bytes that leads where its last part does.
#define DOTS10 "./././././././././././././././././././"
#define DOTS DOTS10 DOTS10 DOTS10 DOTS10 DOTS10 DOTS10 DOTS10

const PosixEventCase kPosixEventCases[] = {
    {"LinkBackIntoTheTree", "d/x=1 d/loop->..", "d/", false, FaultPoint::kCount, 0, "d/loop->..",
     "d/x=1", "flushed: moved:d/x not-entered:d/loop left:d:145 left::145 flushed-install:"},
    // One leads into the installation, one holds it (the test's root): walked as backup, they
    // would move installed files out of their place.
    {"LinksIntoTheInstallation", "lib->../install/lib64 all->..", "lib/ lib64/a=1", false,
     FaultPoint::kCount, 0, "all->.. lib->../install/lib64", "lib/ lib64/a=1",
     "not-entered-installed:all not-entered-installed:lib left::145"},
    // A backup reached through a link is not the backup's own: nothing of it is removed.
    {"BackupIsALink", "a=new d/b=new", "a=old d/", false, FaultPoint::kCount, 0, "d/",
     "a=new d/b=new", "flushed: moved:a moved:d/b flushed-install:", "real"},
    // A backup that is itself a link into the installation: nothing of it is walked, where each
    // file would replace the installed one of its name a level up.
    {"BackupIsALinkIntoTheInstallation", "", "core.dll=installed lib/core.dll=lib", false,
     FaultPoint::kCount, 0, "core.dll=lib", "core.dll=installed lib/core.dll=lib",
     "not-entered-installed:", "install/lib"},
    // A second link to the installed file: the rename does nothing and succeeds.
    {"HardLinkToTheInstalledFile", "a=new", "a=>backup/a", false, FaultPoint::kCount, 0, "a=new",
     "a=new", "flushed: moved:a still:a left::145 flushed-install:"},
    // A link into the backup would lead to nothing once it is restored, whether it leads there
    // from the installation too (b) or not (app.dll): it stays. One that leads to the same file
    // outside the backup from both places is moved.
    {"RelativeLinksToFiles",
     "app.dll->.store/app.dll .store/app.dll=new same->../shared/x ../shared/x=s b->../backup/x "
     "x=new",
     "app.dll=old same=old b=old x=old", false, FaultPoint::kCount, 0,
     ".store/app.dll=new app.dll->.store/app.dll b->../backup/x",
     "app.dll=old b=old same->../shared/x x=new",
     "flushed: kept-link-into-backup:app.dll kept-link-into-backup:b kept:.store moved:same "
     "moved:x "
     "left::145 flushed-install:"},
    // A linked directory that holds the backup would move files from outside it, and the log. A
    // relative link leads elsewhere from an installation at another depth.
    {"LinksAboveTheBackup", "up->.. a=new l->../../shared/x ../../shared/x=s", "a=old l=old up/",
     false, FaultPoint::kCount, 0, "l->../../shared/x up->..", "a=new l=old up/",
     "flushed: kept-link-elsewhere:l not-entered:up moved:a flushed-install:", "w/backup"},
    {"NameEndingInADot", "lib.=1 ok=2", "", false, FaultPoint::kCount, 0, "lib.=1", "ok=2",
     "kept-name:lib. flushed: moved:ok left::145 flushed-install:"},
    {"AcrossVolumes", "a=new", "a=old", true, FaultPoint::kCount, 0, "-", "a=new",
     "flushed: copied:a removed: flushed-install:"},
    // A directory whose full path is too long to be told apart from the installation is restored.
    {"AcrossVolumesLongPath", LONG "/a=new", LONG "/a=old", true, FaultPoint::kCount, 0, "-",
     LONG "/a=new", "flushed: copied:" LONG "/a removed:" LONG " removed: flushed-install:"},
    // The renamed file's own flush commits the rename that its directory's flush could not.
    {"AcrossVolumesRenameFlushedByItsFile", "a=new", "a=old", true, FaultPoint::kFlush, 3, "-",
     "a=new", "flushed: copied:a removed: flushed-install:"},
    {"AcrossVolumesNotDeleted", "a=new", "a=old", true, FaultPoint::kDeleteFile, 1, "a=new",
     "a=new", "flushed: in-both:a:19 left::145 flushed-install:"},
    // Each failure logged: the backup's volume, so each file is flushed instead; a file that
    // will not flush stays, as if held; the directories' flushes after the last walk.
    {"NoFlushSucceeds", "a=new d/b=new", "a=old d/", false, FaultPoint::kFlush, -1, "a=new d/b=new",
     "a=old d/",
     "volume-not-flushed::112 not-flushed:a:112 not-moved:a:112 not-flushed:d/b:112 "
     "not-moved:d/b:112 left:d:145 left::145 not-flushed-install::112 not-flushed::112"},
    // A file that will not flush through write access is flushed through read access.
    {"FlushedThroughReadAccess", "a=new", "a=old", false, FaultPoint::kFlush, 1, "-", "a=new",
     "volume-not-flushed-install::5 moved:a removed:", nullptr, true},
    {"NoVolumeOpens", "a=new", "", false, FaultPoint::kOpenVolume, -1, "-", "a=new",
     "volume-not-flushed-install::5 moved:a removed:"},
    {"NoMemoryForAPath", "a=1", "", false, FaultPoint::kHeapAlloc, 1, "a=1", "",
     "no-memory:a left::145"},
    // A linked directory that holds the log is walked as without one; only the log stays.
    {"LinkToTheLogsDirectory", "l->../ext a=new ../ext/x=new", "a=old l/x=old", false,
     FaultPoint::kCount, 0, "l->../ext", "a=new l/x=new",
     "flushed: moved:a moved:l/x kept-log:l/run.log left::145 flushed-install:", nullptr, false,
     "ext/run.log"},
    // Only a copy of this program's, beside the file just installed, is cancelled: not one named
    // otherwise, nor one elsewhere.
    // Nor a link of such a name, nor one queued for a file whose name differs only in case; a
    // delete queued first ("" destination) hides nothing after it.
    {"QueuedCopyCancelled", "a=new",
     "a=old A=o ~rb00A1.tmp=q ~rb00a1.tmp=q ~rbX.tmp=q sub/~rb0001.tmp=q ~rb00B2.tmp->A "
     "~rb00C3.tmp=q",
     false, FaultPoint::kCount, 0, "-",
     "A=o a=new sub/~rb0001.tmp=q ~rb00B2.tmp->A ~rb00C3.tmp=q ~rb00a1.tmp=q ~rbX.tmp=q",
     "flushed: moved:a cancelled:~rb00A1.tmp>a removed: flushed-install:", nullptr, false,
     "log.txt",
     "install/junk \"\" install/~rb00A1.tmp !install/a install/~rb00a1.tmp !install/a "
     "install/~rbX.tmp install/a install/sub/~rb0001.tmp !install/a install/~rb00B2.tmp "
     "!install/a install/~rb00C3.tmp !install/A"},
    // A link whose own path does not fit the buffer is placed beside its destination to learn
    // where it leads.
    {"LinkTextLongerThanItsBuffer", "l->" DOTS "../shared/x ../shared/x=s", "l=old", false,
     FaultPoint::kCount, 0, "-", "l->" DOTS "../shared/x",
     "flushed: moved:l removed: flushed-install:"},
    {"ListingEndsEarly", "", "", false, FaultPoint::kFindNext, 1, "-", "",
     "list-ended::29 removed:"},
};
#undef LONG
#undef DOTS
#undef DOTS10

void PrintTo(const PosixEventCase& c, std::ostream* out) {
  *out << c.name;
}

class PosixEventTable : public InTempRoot, public ::testing::WithParamInterface<PosixEventCase> {
 protected:
  void TearDown() override {
    SeparateDirectoryVolumes(false);
    OpenNoVolumes(false);
    FailNthCall(FaultPoint::kCount, 0);
    InTempRoot::TearDown();
  }
};

TEST_P(PosixEventTable, LeavesExpectedTreesAndLog) {
  const PosixEventCase& c = GetParam();
  MakeTree(c.backup_link ? c.backup_link : "backup", c.backup);
  if (c.backup_link) MakeTree(".", std::string("backup->") + c.backup_link);
  MakeTree("install", c.install);
  {
    Log log;
    ASSERT_TRUE(log.Open(c.log, ""));
    SeparateDirectoryVolumes(c.volumes);
    OpenNoVolumes(c.unopenable);
    FailNthCall(c.fault, c.nth);
    Durability durable("backup", "install", &log);
    // The queue as Windows keeps it: REG_MULTI_SZ, each path a string; no registry without one.
    std::string pairs = c.queued != nullptr ? c.queued : "", hex;
    for (std::size_t at; (at = pairs.find("\"\"")) != std::string::npos;) pairs.erase(at, 2);
    for (char& ch : pairs) ch = ch == ' ' ? '\0' : ch;
    for (const char ch : pairs + std::string(2, '\0')) {
      char digits[8];
      std::snprintf(digits, sizeof digits, ",%02x,00", static_cast<unsigned char>(ch));
      hex += digits;
    }
    const std::string hive = support::Join(root_, c.queued != nullptr ? "HKLM.reg" : "none.reg");
    if (c.queued != nullptr) {
      std::ofstream(hive) << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\"
                             "SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"
                             "\"PendingFileRenameOperations\"=hex(7):"
                          << hex.substr(1) << "\r\n";
    }
    const ScopedVariable registry("RESTORE_BACKUP_HKLM", hive.c_str());
    QueuedReplacements queue;
    MoveTree("backup", "install", &log, &durable, false, c.queued != nullptr ? &queue : nullptr);
    durable.Finish();
    FailNthCall(FaultPoint::kCount, 0);
    SeparateDirectoryVolumes(false);
  }
  EXPECT_EQ(ReadTree("backup"), c.backup_after);
  EXPECT_EQ(ReadTree("install"), c.install_after);
  EXPECT_EQ(logtest::Events(logtest::Lines(logtest::ReadText(c.log))), logtest::Expected(c.logged));
}

INSTANTIATE_TEST_SUITE_P(Rows, PosixEventTable, ::testing::ValuesIn(kPosixEventCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
