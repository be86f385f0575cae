// What only a real registry shows: views, hives, and values as installers really store them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "restore/entry.h"
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
  bool install_path;  // The value holds the installation path; otherwise nothing.
  bool terminate;
  bool moves;
};

const RegistryCase kRegistryCases[] = {
    {"ThirtyTwoBitView", HKEY_LOCAL_MACHINE, 0, REG_SZ, true, true, true},
    {"StoredWithoutTerminator", HKEY_LOCAL_MACHINE, 0, REG_SZ, true, false, true},
    {"OnlyInSixtyFourBitView", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, REG_SZ, true, true, false},
    {"OnlyUnderCurrentUser", HKEY_CURRENT_USER, 0, REG_SZ, true, true, false},
    {"StoredWithNoData", HKEY_LOCAL_MACHINE, 0, REG_SZ, false, false, false},
    {"EmptyString", HKEY_LOCAL_MACHINE, 0, REG_SZ, false, true, false},
    {"ExpandSz", HKEY_LOCAL_MACHINE, 0, REG_EXPAND_SZ, true, true, false},
    {"Binary", HKEY_LOCAL_MACHINE, 0, REG_BINARY, true, true, false},
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
  MakeTree("backup", "f=new");
  MakeTree("install", "f=old");
  {
    const RegistryKey key(c.hive, c.view);
    key.Set("Inno Setup: App Path", c.type, c.install_path ? support::Join(root_, "install") : "",
            c.terminate);
  }
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadTree("backup"), c.moves ? "-" : "f=new");
  EXPECT_EQ(ReadTree("install"), c.moves ? "f=new" : "f=old");
}

INSTANTIATE_TEST_SUITE_P(Rows, RegistryTable, ::testing::ValuesIn(kRegistryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
