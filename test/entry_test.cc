// The program as its users start it: a process of its own in the directory that holds "backup".
#include <gtest/gtest.h>

#include <cstdlib>
#include <list>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "restore/command_line.h"
#include "restore/entry.h"
#include "test/log_lines.h"
#include "test/names.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::Join;
using support::MakeTree;
using support::ReadTree;

class Program : public RegisteredInTempRoot {
 protected:
  void SetUp() override {
    RegisteredInTempRoot::SetUp();
    MakeTree("backup", "app.exe=new lib/a.dll=new lib/new.dll=1 .hidden=h");
    MakeTree("install", "app.exe=old lib/a.dll=old unins000.exe=u");
  }
  void ExpectRestored() {
    EXPECT_EQ(ReadTree("backup"), ".hidden=h");
    EXPECT_EQ(ReadTree("install"), "app.exe=new lib/a.dll=new lib/new.dll=1 unins000.exe=u");
  }
  void ExpectUntouched() {
    EXPECT_EQ(ReadTree("backup"), ".hidden=h app.exe=new lib/a.dll=new lib/new.dll=1");
    EXPECT_EQ(ReadTree("install"), "app.exe=old lib/a.dll=old unins000.exe=u");
  }
};

TEST_F(Program, RestoresSilentlyAndIgnoresArguments) {
  support::RegisterInstallPath(Join(root_, "install"));
  const support::Run run = support::RunProgram(root_, "/verysilent --help x");
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.output, "");
  ExpectRestored();
}

// The installer records the path as the user typed it: a trailing separator doubles at each join,
// which the file system accepts.
TEST_F(Program, InstallPathWithTrailingSeparator) {
  support::RegisterInstallPath(Join(root_, "install/"));
  EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
  ExpectRestored();
}

// Asked for, the exit status tells why nothing was restored.
TEST_F(Program, UnregisteredProductChangesNothing) {
  support::Unregister();
  EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
  const support::Run run = support::RunProgram(root_, "/ExitCode");
  EXPECT_EQ(run.exit_status, static_cast<int>(1605 & support::kExitStatusMask));
  EXPECT_EQ(run.output, "");
  ExpectUntouched();
}

// "backup" is looked for in the current directory only.
TEST_F(Program, NoBackupInCurrentDirectory) {
  support::RegisterInstallPath(Join(root_, "install"));
  MakeTree("elsewhere", "");
  EXPECT_EQ(support::RunProgram(Join(root_, "elsewhere")).exit_status, 0);
  EXPECT_EQ(support::RunProgram(Join(root_, "elsewhere"), "/EXITCODE").exit_status,
            static_cast<int>(1619 & support::kExitStatusMask));
  ExpectUntouched();
}

// Every name at once, into an installation directory whose own path is in other scripts, as its
// installer registered it (on Windows a REG_SZ in UTF-16).
class ProgramNames : public RegisteredInTempRoot {};

TEST_F(ProgramNames, RestoresEveryName) {
  std::vector<std::string> all;
  for (const names::Name& name : names::kNames) all.push_back(name.text);
  const names::Trees trees = names::LayOut(all);
  const std::string install = Join(root_, "Программы/日本 😀 cafe\xcc\x81");
  MakeTree("backup", trees.backup);
  MakeTree(install, trees.install);
  support::RegisterInstallPath(install);
  EXPECT_EQ(support::RunProgram(root_).exit_status, 0);
  EXPECT_EQ(ReadTree("backup"), support::Describe(trees.backup_after));
  EXPECT_EQ(ReadTree(install), support::Describe(trees.install_after));
}

// The installation path is read into 260 bytes, terminator included, and in UTF-8 a character of
// another script takes two to four: a path that fits is used whole, and one that does not moves
// nothing, never into the directory that the same path cut short would name.
struct PathLimitCase {
  const char* name;
  const char* character;  // The path ends in as many of these as fit.
  std::size_t bytes;      // The whole path's, without its terminator.
  bool moves;
};

const PathLimitCase kPathLimitCases[] = {
    {"Fits", "日", 259, true},
    {"FitsWithSurrogatePairs", "😀", 259, true},
    {"NoRoomForTerminator", "日", 260, false},
    {"CharacterAcrossTheEnd", "日", 261, false},
    {"SurrogatePairAcrossTheEnd", "😀", 262, false},
    {"FarTooLong", "日", 280, false},
};

void PrintTo(const PathLimitCase& c, std::ostream* out) {
  *out << c.name;
}

class PathLimitTable : public RegisteredInTempRoot,
                       public ::testing::WithParamInterface<PathLimitCase> {};

TEST_P(PathLimitTable, MovesOnlyIntoTheWholePath) {
  const PathLimitCase& c = GetParam();
  const std::string parent = Join(root_, "");
  ASSERT_LT(parent.size() + 8, c.bytes) << "temporary directory too long: " << root_;
  const std::string install = parent + names::FillBytes(c.bytes - parent.size(), c.character);
  // The longest part of the path that would fit, cut where a character starts.
  std::size_t cut = std::min<std::size_t>(install.size(), 259);
  while ((install[cut] & 0xC0) == 0x80) --cut;
  const std::string shortened = install.substr(0, cut);
  MakeTree("backup", "f=new");
  MakeTree(install, "f=old");
  if (shortened != install) MakeTree(shortened, "f=old");
  support::RegisterInstallPath(install);
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadTree("backup"), c.moves ? "-" : "f=new");
  EXPECT_EQ(ReadTree(install), c.moves ? "f=new" : "f=old");
  EXPECT_EQ(ReadTree(shortened), shortened == install ? ReadTree(install) : "f=old");
}

INSTANTIATE_TEST_SUITE_P(Rows, PathLimitTable, ::testing::ValuesIn(kPathLimitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Points the temporary directory of this process and of the programs it starts at `directory`
// while it lives: TMPDIR for POSIX, TMP and TEMP for Windows.
class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(const std::string& directory) {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.emplace_back(value ? value : "");
      Set(name, directory);
    }
  }
  ~TemporaryDirectory() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) Set(kNames[i], saved_[i]);
  }

 private:
  static constexpr const char* kNames[] = {"TMPDIR", "TMP", "TEMP"};
  static void Set(const std::string& name, const std::string& value) {
    // POSIX's putenv keeps the string itself, so each one lives on.
    static std::list<std::string> strings;
    strings.push_back(name + "=" + value);
    putenv(strings.back().data());
  }
  std::vector<std::string> saved_;
};

// The arguments Windows programs see in `line`.
std::vector<std::string> Arguments(const std::string& line) {
  std::vector<std::string> arguments;
  std::vector<char> argument(line.size() + 1);
  std::size_t length = 0;
  for (const char* rest = line.c_str();
       (rest = NextArgument(rest, argument.data(), argument.size(), &length)) != nullptr;) {
    arguments.emplace_back(argument.data());
  }
  return arguments;
}

// The program started with a log switch. The temporary directory is "tmp" below the test's
// root, so that everything the program could write is seen there.
class ProgramLog : public Program {
 protected:
  void SetUp() override {
    Program::SetUp();
    // Registered first: the POSIX suite keeps its registry file in the temporary directory.
    support::RegisterInstallPath(Join(root_, "install"));
    MakeTree("tmp", "");
    temporary_ = std::make_unique<TemporaryDirectory>(Join(root_, "tmp"));
  }
  void TearDown() override {
    temporary_.reset();
    Program::TearDown();
  }

  // Runs the program with `command_line`; it must restore silently.
  void Run(const std::string& command_line) {
    const support::Run run = support::RunProgramWithCommandLine(root_, command_line);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output, "");
  }

  // Checks the lines of one run that restored the fixture's trees, started with
  // `command_line`, and removes the log at `path`.
  void ExpectRunLogged(const std::string& path, const std::string& command_line) {
    ExpectRestored();
    const std::vector<std::string> lines = logtest::Lines(logtest::ReadText(path));
    std::remove(path.c_str());
    const std::vector<std::string> expected = Flushed(kRestoredEvents);
    // The run's first line, the registration, the walk, the totals and the outcome.
    ASSERT_EQ(lines.size(), expected.size() + 4) << ::testing::PrintToString(lines);
    ExpectFirstLine(lines[0], command_line);
    EXPECT_EQ(lines[1], kRegistry + Join(root_, "install"));
    EXPECT_EQ(logtest::Events({lines.begin() + 1, lines.end()}), expected);
    ExpectLastLines(lines, "3 files moved, 0 not moved, 1 kept, 1 directory left");
  }

  // The lines Expected gives for `tokens`, with the flushes of a run that renamed files.
  std::vector<std::string> Flushed(const std::string& tokens) {
    return logtest::Expected(
        std::string(support::kFlushedBefore) + " " + tokens + " " + support::kFlushedAfter,
        "backup", Join(root_, "install"));
  }

  void ExpectFirstLine(const std::string& line, const std::string& command_line) {
    const std::string head =
        " restore-backup " RESTORE_BACKUP_VERSION ", in " + root_ + ", command line: ";
    ASSERT_TRUE(
        std::regex_match(line.substr(0, 19), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << line;
    ASSERT_EQ(line.substr(19, head.size()), head);
    // On POSIX the entry quotes the arguments again, its own way: they must be the same.
    EXPECT_EQ(Arguments(line.substr(19 + head.size())), Arguments(command_line)) << line;
  }

  // The totals, then the outcome: the dot name stays on purpose, so every file is installed.
  void ExpectLastLines(const std::vector<std::string>& lines, const std::string& counts) {
    ASSERT_GE(lines.size(), 2u);
    const std::string& done = lines[lines.size() - 2];
    EXPECT_TRUE(std::regex_match(done, std::regex("done: " + counts + R"(, in \d+\.\d\d s)")))
        << done;
    EXPECT_EQ(lines.back(), "exit status 0: every file is installed");
  }

  // The test's root holds the two trees as restored, the empty temporary directory and
  // `other` (if any), and nothing else.
  void ExpectNothingElse(const std::string& other = "") {
    std::vector<std::string> entries = {"backup/.hidden=h",       "install/app.exe=new",
                                        "install/lib/a.dll=new",  "install/lib/new.dll=1",
                                        "install/unins000.exe=u", "tmp/"};
    if (!other.empty()) entries.push_back(other);
    EXPECT_EQ(ReadTree(root_), support::Describe(entries));
  }

  // What a run logs of the fixture's trees.
  const std::string kRestoredEvents =
      "moved:app.exe moved:lib/a.dll moved:lib/new.dll kept:.hidden removed:lib left::145";
  const std::string kRegistry =
      "registry: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1, "
      "\"Inno Setup: App Path\" = ";
  std::unique_ptr<TemporaryDirectory> temporary_;
};

// However an installer or a shell quoted it, and wherever it stands among other arguments, the
// switch names the same file, spaces and all.
TEST_F(ProgramLog, QuotedPathWithSpaces) {
  const std::string path = Join(root_, "my logs/restore run.log");
  for (const std::string& command_line :
       {"/LOG=\"" + path + "\"", "\"/LOG=" + path + "\"", "/VERYSILENT /log=\"" + path + "\" /x"}) {
    SCOPED_TRACE(command_line);
    support::RemoveTree("backup");
    support::RemoveTree("install");
    MakeTree("backup", "app.exe=new lib/a.dll=new lib/new.dll=1 .hidden=h");
    MakeTree("install", "app.exe=old lib/a.dll=old unins000.exe=u");
    MakeTree("my logs", "");
    Run(command_line);
    ExpectRunLogged(path, command_line);
    ExpectNothingElse("my logs/");
  }
}

// "/LOG" alone writes restore-backup.log in the system's temporary directory.
TEST_F(ProgramLog, AloneWritesToTheTemporaryDirectory) {
  Run("/LOG");
  ExpectRunLogged(Join(root_, "tmp/restore-backup.log"), "/LOG");
  ExpectNothingElse();
}

// A log that cannot be opened is not kept, and nothing else is written in its place; nor is one
// inside the backup (it would be moved as one of its files) or the installation (it would be
// written into an installed file), however its path reaches there: a second link to a file, or a
// link to a directory. Each row: the command line, and what "log dir" holds before and after.
TEST_F(ProgramLog, UnusablePathKeepsNoLog) {
  struct Row {
    std::string command_line, log_dir, log_dir_after;
  };
  std::vector<Row> rows = {
      {"/LOG=\"" + Join(root_, "missing dir/x.log") + "\"", "", ""},
      {"/LOG=\"" + Join(root_, "log dir") + "\"", "", ""},
      {std::string("/LOG="), "", ""},
      {"/LOG=" + Join("backup", "restore.log"), "", ""},
      {"/LOG=\"" + Join(root_, "log dir/../install/unins000.exe") + "\"", "", ""},
      {"/LOG=\"" + Join(root_, "log dir/hard.log") + "\"", "hard.log=>backup/app.exe",
       "hard.log=new"}};
  if (support::kSymbolicLinks) {
    rows.push_back({"/LOG=\"" + Join(root_, "log dir/in/restore.log") + "\"", "in->../install",
                    "in->../install"});
    rows.push_back({"/LOG=\"" + Join(root_, "log dir/in/restore.log") + "\"", "in->../backup",
                    "in->../backup"});
    // Opened through a dangling link, the log would make a file that the walk installs empty.
    for (const char* link : {"d.log->../backup/unins000.exe", "d.log->../install/new.ini"}) {
      rows.push_back({"/LOG=\"" + Join(root_, "log dir/d.log") + "\"", link, link});
    }
  }
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command_line + " " + row.log_dir);
    for (const char* tree : {"backup", "install", "log dir"}) support::RemoveTree(tree);
    MakeTree("backup", "app.exe=new lib/a.dll=new lib/new.dll=1 .hidden=h");
    MakeTree("install", "app.exe=old lib/a.dll=old unins000.exe=u");
    MakeTree("log dir", row.log_dir);
    Run(row.command_line);
    ExpectNothingElse(row.log_dir_after.empty() ? "log dir/" : "log dir/" + row.log_dir_after);
  }
}

TEST_F(ProgramLog, SecondRunAppends) {
  const std::string path = Join(root_, "run log.txt");
  const std::string command_line = "/LOG=\"" + path + "\"";
  Run(command_line);
  const std::string first = logtest::ReadText(path);
  ASSERT_EQ(logtest::Lines(first).size(), Flushed(kRestoredEvents).size() + 4);
  MakeTree("backup", "app.exe=newer");
  Run(command_line);
  const std::string both = logtest::ReadText(path);
  ASSERT_EQ(both.substr(0, first.size()), first);
  const std::vector<std::string> second = logtest::Lines(both.substr(first.size()));
  const std::vector<std::string> expected = Flushed("moved:app.exe kept:.hidden left::145");
  ASSERT_EQ(second.size(), expected.size() + 4) << ::testing::PrintToString(second);
  ExpectFirstLine(second[0], command_line);
  EXPECT_EQ(second[1], kRegistry + Join(root_, "install"));
  EXPECT_EQ(logtest::Events({second.begin() + 1, second.end()}), expected);
  ExpectLastLines(second, "1 file moved, 0 not moved, 1 kept, 1 directory left");
}

// Without the switch nothing is written anywhere: not in the working directory, the backup,
// the installation or the temporary directory.
TEST_F(ProgramLog, NoSwitchWritesNothing) {
  Run("/VERYSILENT /SUPPRESSMSGBOXES");
  ExpectRestored();
  ExpectNothingElse();
}

}  // namespace
