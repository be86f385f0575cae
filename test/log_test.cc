// The log's switch and its buffer, on both systems.
#include <gtest/gtest.h>

#include <string>

#include "restore/command_line.h"
#include "restore/log.h"
#include "restore/transfer.h"
#include "test/log_lines.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

struct SwitchCase {
  const char* name;
  const char* command_line;
  const char* path;  // nullptr: no log; "" for the default file in the temporary directory.
};

const std::string kLongest(MAX_PATH - 1, 'p');

const SwitchCase kSwitchCases[] = {
    {"None", "", nullptr},
    {"NoCommandLine", nullptr, nullptr},
    {"OtherArguments", "/VERYSILENT /SUPPRESSMSGBOXES", nullptr},
    {"Plain", "/LOG=restore.log", "restore.log"},
    {"QuotedValue", "/x /LOG=\"my dir\\restore run.log\" /y", "my dir\\restore run.log"},
    {"QuotedWhole", "\"/LOG=my dir\\restore run.log\"", "my dir\\restore run.log"},
    {"AnyCase", "/log=a /Log=b", "b"},
    {"LastCounts", "/LOG=first /LOG=second", "second"},
    {"Alone", "/LOG", ""},
    {"AloneInAnyCase", "/x /log", ""},
    {"EmptyValue", "/LOG=", nullptr},
    {"LongerName", "/LOGFILE=x /LOGS", nullptr},
    {"OtherSeparator", "/LOG:x -LOG=x LOG=x", nullptr},
};

void PrintTo(const SwitchCase& c, std::ostream* out) {
  *out << c.name;
}

class SwitchTable : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchTable, FindsTheLogsPath) {
  const SwitchCase& c = GetParam();
  char path[MAX_PATH];
  const bool found = LogPath(c.command_line, path);
  ASSERT_EQ(found, c.path != nullptr);
  if (!found) return;
  std::string expected = c.path;
  if (expected.empty()) {
    char temporary[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temporary, temporary);
    ASSERT_GT(length, 0u);
    ASSERT_EQ(temporary[length - 1], kPathSeparator);
    expected = std::string(temporary) + "restore-backup.log";
  }
  EXPECT_EQ(path, expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, SwitchTable, ::testing::ValuesIn(kSwitchCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A path of MAX_PATH - 1 characters is used; a longer one keeps no log rather than a cut one.
TEST(Switch, LongestPath) {
  char path[MAX_PATH];
  ASSERT_TRUE(LogPath(("/LOG=" + kLongest).c_str(), path));
  EXPECT_EQ(path, kLongest);
  EXPECT_FALSE(LogPath(("/LOG=" + kLongest + "p").c_str(), path));
  EXPECT_FALSE(LogPath(("/LOG=\"" + kLongest + " " + kLongest + "\"").c_str(), path));
}

class LogFile : public InTempRoot {};

// A log several times the buffer's size arrives whole and in order: nothing is lost or doubled
// where one buffer ends and the next begins.
TEST_F(LogFile, LargerThanItsBufferArrivesWhole) {
  constexpr int kFiles = 2000;
  std::vector<std::string> backup;
  for (int i = 0; i < kFiles; ++i)
    backup.push_back("d/a-longer-file-name-" + std::to_string(i) + "=x");
  support::MakeTree("backup", backup);
  support::MakeTree("install", "d/");
  {
    Log log;
    ASSERT_TRUE(log.Open("log.txt", "/LOG=log.txt"));
    MoveTree("backup", "install", &log);
  }
  const std::string text = logtest::ReadText("log.txt");
  EXPECT_GT(text.size(), 2u * 64 * 1024);
  const std::vector<std::string> lines = logtest::Lines(text);
  // The run's first line, the walk, the files, two directories removed, and the last line.
  ASSERT_EQ(lines.size(), kFiles + 5u);
  EXPECT_NE(lines[0].find("command line: /LOG=log.txt"), std::string::npos) << lines[0];
  std::vector<std::string> moved;
  for (const std::string& line : lines) {
    if (line.rfind("moved: ", 0) == 0) moved.push_back(line);
  }
  ASSERT_EQ(moved.size(), static_cast<std::size_t>(kFiles));
  std::sort(moved.begin(), moved.end());
  EXPECT_EQ(std::unique(moved.begin(), moved.end()), moved.end());
  EXPECT_EQ(
      lines.back().rfind("done: 2000 files moved, 0 not moved, 0 kept, 0 directories left, in ", 0),
      0u)
      << lines.back();
  EXPECT_EQ(support::ReadTree("backup"), "-");
}

}  // namespace
