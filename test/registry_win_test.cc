// What only a real registry shows: views, hives, and values as installers really store them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "restore/entry.h"
#include "test/log_lines.h"
#include "test/support.h"
#include "test/temp_root.h"
#include "test/win_registry.h"

namespace {

using support::MakeTree;
using support::ReadTree;

struct RegistryCase {
  const char* name;
  HKEY hive;
  REGSAM view;  // 0: the 32-bit view this 32-bit process sees, where Inno Setup writes.
  DWORD type;
  const char* data;  // "INSTALL" stands for the installation path.
  bool terminate;
  bool moves;
  // What the log's registry line says after the value's name ("INSTALL" as above).
  const char* said;
  const char* value = "Inno Setup: App Path";
};

const std::string kTooLong(300, 'x');
const std::string kFull(MAX_PATH, 'x');

const RegistryCase kRegistryCases[] = {
    {"ThirtyTwoBitView", HKEY_LOCAL_MACHINE, 0, REG_SZ, "INSTALL", true, true, " = INSTALL"},
    {"StoredWithoutTerminator", HKEY_LOCAL_MACHINE, 0, REG_SZ, "INSTALL", false, true,
     " = INSTALL"},
    {"OnlyInSixtyFourBitView", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, REG_SZ, "INSTALL", true, false,
     ": no such key, so nothing is restored"},
    {"OnlyUnderCurrentUser", HKEY_CURRENT_USER, 0, REG_SZ, "INSTALL", true, false,
     ": no such key, so nothing is restored"},
    {"NoSuchValue", HKEY_LOCAL_MACHINE, 0, REG_SZ, "INSTALL", true, false,
     ": no such value, so nothing is restored", "InstallLocation"},
    {"StoredWithNoData", HKEY_LOCAL_MACHINE, 0, REG_SZ, "", false, false,
     ": empty, so nothing is restored"},
    {"EmptyString", HKEY_LOCAL_MACHINE, 0, REG_SZ, "", true, false,
     ": empty, so nothing is restored"},
    {"ExpandSz", HKEY_LOCAL_MACHINE, 0, REG_EXPAND_SZ, "INSTALL", true, false,
     ": a REG_EXPAND_SZ (type 2), not a REG_SZ, so nothing is restored"},
    {"Binary", HKEY_LOCAL_MACHINE, 0, REG_BINARY, "INSTALL", true, false,
     ": a REG_BINARY (type 3), not a REG_SZ, so nothing is restored"},
    {"LongerThanTheBuffer", HKEY_LOCAL_MACHINE, 0, REG_SZ, kTooLong.c_str(), true, false,
     ": longer than its buffer of 260 bytes, so nothing is restored"},
    {"FillsTheBufferUnterminated", HKEY_LOCAL_MACHINE, 0, REG_SZ, kFull.c_str(), false, false,
     ": fills its buffer of 260 bytes without a terminator, so nothing is restored"},
};

void PrintTo(const RegistryCase& c, std::ostream* out) {
  *out << c.name;
}

class RegistryTable : public InTempRoot, public ::testing::WithParamInterface<RegistryCase> {
 protected:
  void TearDown() override {
    RegistryKey::Delete(HKEY_LOCAL_MACHINE, 0);
    RegistryKey::Delete(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY);
    RegistryKey::Delete(HKEY_CURRENT_USER, 0);
    InTempRoot::TearDown();
  }
};

TEST_P(RegistryTable, MovesOnlyForTheMachinesThirtyTwoBitString) {
  const RegistryCase& c = GetParam();
  const std::string install = support::Join(root_, "install");
  MakeTree("backup", "f=new");
  MakeTree("install", "f=old");
  {
    const RegistryKey key(c.hive, c.view);
    key.Set(c.value, c.type, std::string(c.data) == "INSTALL" ? install : c.data, c.terminate);
  }
  char command_line[] = "/LOG=log.txt";
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, command_line, 0), 0);
  EXPECT_EQ(ReadTree("backup"), c.moves ? "-" : "f=new");
  EXPECT_EQ(ReadTree("install"), c.moves ? "f=new" : "f=old");
  const std::vector<std::string> lines = logtest::Lines(logtest::ReadText("log.txt"));
  ASSERT_GE(lines.size(), 3u);
  const std::string said = c.said;
  EXPECT_EQ(lines[1],
            "registry: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
            "velmarok_is1, \"Inno Setup: App Path\"" +
                (said == " = INSTALL" ? " = " + install : said));
  // A move adds the walk's lines: the file, the directory removed and the flushes; the outcome
  // follows the totals.
  const std::size_t flushes =
      logtest::Expected(std::string(support::kFlushedBefore) + " " + support::kFlushedAfter)
          .size() -
      1;
  EXPECT_EQ(lines.size(), c.moves ? 7u + flushes : 4u) << ::testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(Rows, RegistryTable, ::testing::ValuesIn(kRegistryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
