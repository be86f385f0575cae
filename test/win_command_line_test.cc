// The splitter's rows checked against CommandLineToArgvW itself.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <string>
#include <vector>

#include "test/command_line_cases.h"

namespace {

class WindowsSplitTable : public ::testing::TestWithParam<SplitCase> {};

// The rows' lines are ASCII, so widening and narrowing them is a plain copy. The line begins
// with a program name, as CommandLineToArgvW expects, and that first argument is dropped.
TEST_P(WindowsSplitTable, AgreesWithCommandLineToArgvW) {
  const SplitCase& c = GetParam();
  const std::string line = WholeLine(c);
  const std::wstring wide(line.begin(), line.end());
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(wide.c_str(), &count);
  ASSERT_NE(arguments, nullptr);
  std::vector<std::string> split;
  for (int i = 1; i < count; ++i) {
    const std::wstring argument = arguments[i];
    split.emplace_back(argument.begin(), argument.end());
  }
  LocalFree(arguments);
  EXPECT_EQ(split, c.arguments) << c.line;
}

INSTANTIATE_TEST_SUITE_P(Rows, WindowsSplitTable, ::testing::ValuesIn(kSplitCases));

}  // namespace
