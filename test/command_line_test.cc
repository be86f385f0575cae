// Splitting the program's command line as Windows programs split theirs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/command_line.h"
#include "test/command_line_cases.h"

namespace {

std::vector<std::string> Split(const char* line, std::size_t size) {
  std::vector<std::string> arguments;
  std::vector<char> argument(size);
  std::size_t length = 0;
  for (const char* rest = line;
       (rest = NextArgument(rest, argument.data(), argument.size(), &length)) != nullptr;) {
    arguments.emplace_back(argument.data());
    EXPECT_EQ(arguments.back().size(), std::min(length, size - 1)) << line;
  }
  return arguments;
}

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, GivesWindowsArguments) {
  const SplitCase& c = GetParam();
  const std::string line = WholeLine(c);
  EXPECT_EQ(Split(SkipProgramName(line.c_str()), 1024), c.arguments) << c.line;
}

INSTANTIATE_TEST_SUITE_P(Rows, SplitTable, ::testing::ValuesIn(kSplitCases));

// An argument longer than the buffer is cut, terminated, and reported at its whole length, and
// the next one is still found.
TEST(Split, LongArgumentIsCutAndMeasured) {
  const char line[] = "\"/LOG=a b c d\" next";
  char argument[6];
  std::size_t length = 0;
  const char* rest = NextArgument(line, argument, sizeof argument, &length);
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(argument, "/LOG=");
  EXPECT_EQ(length, 12u);
  rest = NextArgument(rest, argument, sizeof argument, &length);
  ASSERT_NE(rest, nullptr);
  EXPECT_STREQ(argument, "next");
  EXPECT_EQ(NextArgument(rest, argument, sizeof argument, &length), nullptr);
  EXPECT_EQ(NextArgument(nullptr, argument, sizeof argument, &length), nullptr);
}

}  // namespace
