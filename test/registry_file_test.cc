// The machine's hive as a registry file: its shapes, and what the program makes of each value.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/regfile.h"
#include "platform/resource.h"
#include "platform/win32.h"
#include "restore/entry.h"
#include "test/posix_support.h"
#include "test/support.h"
#include "test/temp_root.h"

namespace {

using support::MakeTree;
using support::ReadTree;

constexpr char kV5[] = "Windows Registry Editor Version 5.00\r\n\r\n";
constexpr char kPath[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1";
const std::string kKey = std::string("[") + kPath + "]\r\n";

// Writes `text` as the hive, in UTF-16LE behind a byte order mark when `utf16`, with every "$I"
// replaced by `install` escaped for a quoted string, "$O" by the same for `install` + "-other",
// and "$H" by `install` as UTF-16LE hex bytes.
void WriteHive(const std::string& path, std::string text, const std::string& install, bool utf16) {
  auto replace = [&](const std::string& tag, const std::string& with) {
    for (std::size_t at; (at = text.find(tag)) != std::string::npos;) text.replace(at, 2, with);
  };
  auto escape = [](const std::string& raw) {
    std::string escaped;
    for (char c : raw) {
      if (c == '\\' || c == '"') escaped += '\\';
      escaped += c;
    }
    return escaped;
  };
  std::string hex;
  for (char c : install) {
    char byte[8];
    snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    hex += byte;
  }
  if (!hex.empty()) hex.pop_back();
  replace("$I", escape(install));
  replace("$O", escape(install + "-other"));
  replace("$H", hex);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!utf16) {
    out << text;
    return;
  }
  out << "\xFF\xFE";
  for (char c : text) out << c << '\0';  // The texts here are ASCII.
}

class Hive : public InTempRoot {
 protected:
  void SetUp() override {
    InTempRoot::SetUp();
    hive_ = support::Join(root_, "HKLM.reg");
    setenv("RESTORE_BACKUP_HKLM", hive_.c_str(), 1);
  }
  std::string hive_;
};

struct HiveCase {
  const char* name;
  std::string text;
  bool moves;
  bool utf16 = false;
};

const std::string kSz = std::string(kV5) + kKey + "\"Inno Setup: App Path\"=\"$I\"\r\n";
// The same key as 64-bit Windows exports what a 32-bit program sees there.
constexpr char kWowKey[] =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "velmarok_is1]\r\n";
const std::string kWowSz = std::string(kWowKey) + "\"Inno Setup: App Path\"=\"$I\"\r\n";
const std::string kNativeOtherSz = std::string(kKey) + "\"Inno Setup: App Path\"=\"$O\"\r\n";

const HiveCase kHiveCases[] = {
    {"Version5", kSz, true},
    {"Utf16WithByteOrderMark", kSz, true, true},
    {"Regedit4",
     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
     "Uninstall\\velmarok_is1]\n\"Inno Setup: App Path\"=\"$I\"\n",
     true},
    {"NamesMatchWhateverTheirCase",
     "Windows Registry Editor Version 5.00\n[hkey_local_machine\\software\\MICROSOFT\\windows\\"
     "currentversion\\uninstall\\VELMAROK_IS1]\n\"inno setup: app path\"=\"$I\"\n",
     true},
    {"BesideInnoSetupsOtherValues",
     (std::string(kV5) + kKey +
      "\"Inno Setup: Setup Version\"=\"6.2.2\"\r\n\"Inno Setup: App Path\"=\"$I\"\r\n"
      "\"InstallLocation\"=\"$I\\\\\"\r\n\"DisplayName\"=\"Velmarok\"\r\n"
      "\"EstimatedSize\"=dword:00000400\r\n"),
     true},
    {"MalformedLinesSkipped",
     (std::string(kV5) + kKey +
      "garbage\r\n\"broken\"=\"no end\r\n\"Inno Setup: App Path\"=\"$I\"\r\n"),
     true},
    {"StoredWithoutTerminator",
     (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=hex(1):$H\r\n"), true},
    {"StoredWithTerminatorAsHex",
     (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=hex(1):$H,00,00\r\n"), true},
    {"ExpandSzRefused", (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=hex(2):$H,00,00\r\n"),
     false},
    {"DwordRefused", (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=dword:00000001\r\n"),
     false},
    {"EmptyString", (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=\"\"\r\n"), false},
    {"NoData", (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=hex(1):\r\n"), false},
    {"ValueMissing", (std::string(kV5) + kKey + "\"DisplayName\"=\"$I\"\r\n"), false},
    {"ValueDeletedLater", (kSz + kKey + "\"Inno Setup: App Path\"=-\r\n"), false},
    {"KeyDeletedLater",
     (kSz + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n"),
     false},
    {"OnlyUnderCurrentUser",
     "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\"
     "CurrentVersion\\Uninstall\\velmarok_is1]\n\"Inno Setup: App Path\"=\"$I\"\n",
     false},
    {"NoHeader", (std::string(kKey) + "\"Inno Setup: App Path\"=\"$I\"\r\n"), false},
    {"Garbage", "\x01\xff\xfe[[[\"=\"\\\n\\", false},
    {"EmptyFile", "", false},
    // Only hex data continues onto the next line; any other line ending in "\" ends there.
    {"HexContinued",
     (std::string(kV5) + kKey + "\"Inno Setup: App Path\"=hex(1):$H,\\\r\n  00,00\r\n"), true},
    {"BelowCommentEndingInBackslash",
     (std::string(kV5) + kKey + "; was C:\\Velmarok\\\r\n\"Inno Setup: App Path\"=\"$I\"\r\n"),
     true},
    {"BelowUnterminatedStringEndingInBackslash",
     (std::string(kV5) + kKey + "\"Note\"=\"C:\\Velmarok\\\r\n\"Inno Setup: App Path\"=\"$I\"\r\n"),
     true},
    {"BelowKeyEndingInBackslash",
     (std::string(kV5) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\r\n" + kKey +
      "\"Inno Setup: App Path\"=\"$I\"\r\n"),
     true},
    // 64-bit Windows exports the 32-bit view under Wow6432Node; a file with any key there is read
    // as that view, the one this 32-bit program sees.
    {"Wow64ExportUnderWow6432Node", std::string(kV5) + kWowSz, true, true},
    {"Wow64ExportOnBothSides", std::string(kV5) + kNativeOtherSz + kWowSz, true},
    {"Wow64ExportOnBothSides64BitLast", std::string(kV5) + kWowSz + kNativeOtherSz, true},
    {"Wow64ExportOnlyOn64BitSide",
     (kSz + "[hkey_local_machine\\software\\WOW6432NODE\\Microsoft\\Windows]\r\n"), false},
    {"Wow64ExportKeyDeletedLater",
     (std::string(kV5) + kWowSz +
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion]\r\n"),
     false},
    {"DeletingUnderWow6432NodeLeavesFileAsIs",
     (kSz + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows]\r\n"), true},
};

void PrintTo(const HiveCase& c, std::ostream* out) {
  *out << c.name;
}

class HiveTable : public Hive, public ::testing::WithParamInterface<HiveCase> {};

// "install-other" is where a row's wrong key points.
TEST_P(HiveTable, MovesOnlyForAUsableInstallPath) {
  const HiveCase& c = GetParam();
  MakeTree("backup", "f=new");
  MakeTree("install", "f=old");
  MakeTree("install-other", "f=old");
  WriteHive(hive_, c.text, support::Join(root_, "install"), c.utf16);
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadTree("backup"), c.moves ? "-" : "f=new");
  EXPECT_EQ(ReadTree("install"), c.moves ? "f=new" : "f=old");
  EXPECT_EQ(ReadTree("install-other"), "f=old");
}

INSTANTIATE_TEST_SUITE_P(Rows, HiveTable, ::testing::ValuesIn(kHiveCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Starts the program in `root` and waits for it, at most 10 seconds: a program that hangs is
// killed, so that a regression fails the test instead of hanging the run. Returns the exit status;
// -1 when the program had to be killed, -2 when it could not be waited for.
int RunProgramWithin10Seconds(const std::string& root) {
  const pid_t child = support::StartProgram(root);
  for (int waited_ms = 0;; waited_ms += 10) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0) return -2;
    if (waited_ms >= 10000) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    usleep(10000);
  }
}

// A hive that is no usable registry file, or one that would make reading it hang or take the
// machine's memory. Each is made at `path` below the test's directory.
struct HostileCase {
  const char* name;
  std::function<std::string(const std::string& path)> make;  // Returns the hive's path.
  bool moves;
};

// A valid hive padded with a hole (read as zero bytes) to `size` bytes in all.
std::string PaddedHive(const std::string& path, const std::string& install, off_t size) {
  WriteHive(path, kSz, install, false);
  EXPECT_EQ(truncate(path.c_str(), size), 0) << path;
  return path;
}

const HostileCase kHostileCases[] = {
    {"Missing", [](const std::string& path) { return path; }, false},
    {"Directory",
     [](const std::string& path) {
       MakeTree(path, "");
       return path;
     },
     false},
    {"DevNull", [](const std::string&) { return std::string("/dev/null"); }, false},
    {"DevZero", [](const std::string&) { return std::string("/dev/zero"); }, false},
    // Opening a FIFO for reading waits for a writer; none ever comes.
    {"Fifo",
     [](const std::string& path) {
       EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
       return path;
     },
     false},
    {"AtSizeLimit",
     [](const std::string& path) {
       return PaddedHive(path, support::Join(support::CurrentDirectory(), "install"), 16 << 20);
     },
     true},
    {"OverSizeLimit",
     [](const std::string& path) {
       return PaddedHive(path, support::Join(support::CurrentDirectory(), "install"),
                         (16 << 20) + 1);
     },
     false},
    // Many values in the key, then as many lines deleting an ancestor of it as fill the size
    // limit, then the key anew: each deletion must cost no more than what it deletes.
    {"ManyValuesThenDeletedOverAndOver",
     [](const std::string& path) {
       std::string text = std::string(kV5) + kKey;
       for (int i = 0; i < 100000; ++i) text += "\"" + std::to_string(i) + "\"=\"\"\r\n";
       const std::string deletion = "[-HKEY_LOCAL_MACHINE]\r\n";
       while (text.size() + deletion.size() < (15 << 20)) text += deletion;
       WriteHive(path, text + kSz.substr(std::string(kV5).size()),
                 support::Join(support::CurrentDirectory(), "install"), false);
       return path;
     },
     true},
    // Read whole, this would take gigabytes of memory and a minute.
    {"ThreeGiB",
     [](const std::string& path) {
       return PaddedHive(path, support::Join(support::CurrentDirectory(), "install"),
                         off_t{3} << 30);
     },
     false},
};

void PrintTo(const HostileCase& c, std::ostream* out) {
  *out << c.name;
}

class HostileHiveTable : public Hive, public ::testing::WithParamInterface<HostileCase> {};

// The program as a whole ends promptly, and only a hive it can read moves anything.
TEST_P(HostileHiveTable, EndsPromptlyAsAnAbsentKey) {
  const HostileCase& c = GetParam();
  MakeTree("backup", "f=new");
  MakeTree("install", "f=old");
  const std::string path = c.make(hive_);
  setenv("RESTORE_BACKUP_HKLM", path.c_str(), 1);
  EXPECT_EQ(RunProgramWithin10Seconds(root_), 0);
  EXPECT_EQ(ReadTree("backup"), c.moves ? "-" : "f=new");
  EXPECT_EQ(ReadTree("install"), c.moves ? "f=new" : "f=old");
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileHiveTable, ::testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// 80,000 values in the key; then each even one deleted, each fourth set again and each eighth
// written anew after its deletion, under other cases. What is left is counted whole. (A reader
// that looked each name up by a scan of the values took over a minute and a half on this file.)
TEST_F(Hive, ManyValuesOverriddenAndDeleted) {
  constexpr int kValues = 80000;
  std::string text = std::string(kV5) + kKey;
  for (int i = 0; i < kValues; ++i) {
    text += "\"Value " + std::to_string(i) + "\"=\"" + std::to_string(i) + "\"\r\n";
  }
  for (int i = 0; i < kValues; i += 2) text += "\"VALUE " + std::to_string(i) + "\"=-\r\n";
  for (int i = 0; i < kValues; ++i) {
    if (i % 4 == 1 || i % 8 == 0) {
      text += "\"value " + std::to_string(i) + "\"=\"again " + std::to_string(i) + "\"\r\n";
    }
  }
  text += "\"Inno Setup: App Path\"=\"$I\"\r\n";
  MakeTree("backup", "f=new");
  MakeTree("install", "f=old");
  WriteHive(hive_, text, support::Join(root_, "install"), false);
  EXPECT_EQ(RestoreFromBackup(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(ReadTree("install"), "f=new");

  std::ifstream in(hive_, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<RegValue> values;
  ASSERT_TRUE(ReadRegistryKey(written, kPath, &values));
  std::set<int> left;
  for (const RegValue& value : values) {
    if (value.name == "Inno Setup: App Path") continue;
    std::string lower = value.name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(lower.substr(0, 6), "value ");
    const int i = std::stoi(lower.substr(6));
    EXPECT_TRUE(i % 2 == 1 || i % 8 == 0) << value.name;
    const bool again = i % 4 == 1 || i % 8 == 0;
    EXPECT_EQ(value.data, (again ? "again " : "") + std::to_string(i) + '\0') << value.name;
    EXPECT_TRUE(left.insert(i).second) << value.name;
  }
  EXPECT_EQ(left.size(), kValues / 2u + kValues / 8u);
  EXPECT_EQ(values.size(), left.size() + 1);
}

// The installation path exactly fills the 260-byte buffer with its terminator; one byte more no
// longer fits and moves nothing.
TEST_F(Hive, InstallPathOfBufferSize) {
  std::string fits = support::Join(root_, "");
  while (fits.size() < 259) fits += fits.size() % 100 == 99 ? '/' : 'i';
  ASSERT_NE(fits.back(), '/');
  MakeTree(fits, "");
  MakeTree(fits + "j", "");  // A sibling whose path is one byte longer.
  MakeTree("backup", "f=1");
  WriteHive(hive_, kSz, fits + "j", false);
  RestoreFromBackup(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(ReadTree("backup"), "f=1");
  WriteHive(hive_, kSz, fits, false);
  RestoreFromBackup(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(ReadTree("backup"), "-");
  EXPECT_EQ(ReadTree(fits), "f=1");
  EXPECT_EQ(ReadTree(fits + "j"), "");
}

// What RegQueryValueExA gives for each shape of value.
struct QueryCase {
  const char* name;
  const char* lines;  // Below the key.
  const char* value;
  LSTATUS status;
  DWORD type;
  std::string data;
};

const QueryCase kQueryCases[] = {
    {"Escapes", "\"v\"=\"C:\\\\Apps\\\\\\\"q\\\"\"", "v", ERROR_SUCCESS, REG_SZ,
     std::string("C:\\Apps\\\"q\"\0", 12)},
    {"Default", "@=\"d\"", "", ERROR_SUCCESS, REG_SZ, std::string("d\0", 2)},
    {"Dword", "\"v\"=dword:0001fF02", "v", ERROR_SUCCESS, REG_DWORD,
     std::string("\x02\xff\x01\0", 4)},
    {"BinaryContinued", "\"v\"=hex:01,02,\\\r\n  03,ff", "v", ERROR_SUCCESS, REG_BINARY,
     "\x01\x02\x03\xff"},
    {"ExpandSzAsUtf8", "\"v\"=hex(2):25,00,e9,00,00,00", "v", ERROR_SUCCESS, REG_EXPAND_SZ,
     std::string("%\xc3\xa9\0", 4)},
    {"OtherType", "\"v\"=hex(b):01,00,00,00,00,00,00,00", "v", ERROR_SUCCESS, 11,
     std::string("\x01\0\0\0\0\0\0\0", 8)},
    {"LaterLineWins", "\"v\"=\"a\"\r\n\"V\"=\"b\"", "v", ERROR_SUCCESS, REG_SZ,
     std::string("b\0", 2)},
    {"BadHexSkipped", "\"v\"=\"a\"\r\n\"v\"=hex:0g", "v", ERROR_SUCCESS, REG_SZ,
     std::string("a\0", 2)},
    {"Missing", "\"v\"=\"a\"", "w", ERROR_FILE_NOT_FOUND, REG_NONE, ""},
    {"TooLong", "\"v\"=\"0123456789abcdefghij\"", "v", ERROR_MORE_DATA, REG_SZ,
     std::string(21, '?')},
};

void PrintTo(const QueryCase& c, std::ostream* out) {
  *out << c.name;
}

class QueryTable : public Hive, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryTable, ReturnsWhatWindowsReturns) {
  const QueryCase& c = GetParam();
  WriteHive(hive_, std::string(kV5) + kKey + c.lines + "\r\n", "", false);
  unique_hkey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                          "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\velmarok_is1",
                          0, KEY_QUERY_VALUE, key.put()),
            ERROR_SUCCESS);
  char data[16] = {};
  DWORD type = REG_NONE, size = sizeof data;
  EXPECT_EQ(
      RegQueryValueExA(key.get(), c.value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
      c.status);
  EXPECT_EQ(type, c.type);
  if (c.status == ERROR_FILE_NOT_FOUND) return;
  EXPECT_EQ(size, c.data.size());  // With ERROR_MORE_DATA: the size needed.
  if (c.status == ERROR_SUCCESS) {
    EXPECT_EQ(std::string(data, size), c.data);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, QueryTable, ::testing::ValuesIn(kQueryCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
