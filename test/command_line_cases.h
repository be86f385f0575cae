// Command lines and the arguments Windows programs split them into (CommandLineToArgvW's rules,
// for a line without the program's name unless the row says it has one), shared by the splitter's
// table and, on Windows, the check of the same rows against CommandLineToArgvW itself.
#pragma once

#include <string>
#include <vector>

struct SplitCase {
  const char* line;
  std::vector<std::string> arguments;
  bool named = false;  // The line begins with the program's name; else "program.exe " is put first.
};

inline std::string WholeLine(const SplitCase& c) {
  return c.named ? c.line : std::string("program.exe ") + c.line;
}

inline const SplitCase kSplitCases[] = {
    {"", {}},
    {" \t ", {}},
    {"a b\tc", {"a", "b", "c"}},
    {"  a  ", {"a"}},
    {"\"\"", {""}},
    {"\"\" \"\"", {"", ""}},
    // The log switch, quoted by an installer either way, and with other arguments around it.
    {"/LOG=\"C:\\my dir\\x.log\"", {"/LOG=C:\\my dir\\x.log"}},
    {"\"/LOG=C:\\my dir\\x.log\"", {"/LOG=C:\\my dir\\x.log"}},
    {"/VERYSILENT /LOG=\"C:\\Users\\ann\\AppData\\Local\\Temp\\is-8T1QF.tmp\\restore.log\" /x",
     {"/VERYSILENT", "/LOG=C:\\Users\\ann\\AppData\\Local\\Temp\\is-8T1QF.tmp\\restore.log", "/x"}},
    // Quoting toggles anywhere in an argument.
    {"a\"b c\"d e", {"ab cd", "e"}},
    {"\"a b c\" d e", {"a b c", "d", "e"}},
    // Backslashes: literal unless a quote follows; 2n then give n and the quote toggles,
    // 2n + 1 give n and a literal quote.
    {"a\\\\\\b d\"e f\"g h", {"a\\\\\\b", "de fg", "h"}},
    {"\"ab\\\"c\" \"\\\\\" d", {"ab\"c", "\\", "d"}},
    {"a\\\\\\\"b c d", {"a\\\"b", "c", "d"}},
    {"a\\\\\\\\\"b c\" d e", {"a\\\\b c", "d", "e"}},
    {"\"C:\\dir\\\\\" next", {"C:\\dir\\", "next"}},
    {"\"C:\\dir\\\" next", {"C:\\dir\" next"}},
    {"trailing\\", {"trailing\\"}},
    // Inside quotes two quotes give one and close the quotes.
    {"a\"b\"\" c d", {"ab\"", "c", "d"}},
    {"\"a\"\"b\"", {"a\"b"}},
    {"\"\"\"\"", {"\""}},
    {"\"\"\"a b\"\"\"", {"\"a", "b\""}},
    {"\\\"\"a b\"", {"\"a b"}},
    // The program's name: quoted, it ends at the next quote, and the switch may follow at once.
    {"\"C:\\x\\restore-backup.exe\"/LOG=C:\\r.log", {"/LOG=C:\\r.log"}, true},
    {"\"C:\\my dir\\restore-backup.exe\" /LOG", {"/LOG"}, true},
    {"\"C:\\x\\\"/LOG a", {"/LOG", "a"}, true},
    {"C:\\x\\restore-backup.exe\t/LOG=a", {"/LOG=a"}, true},
    {"\"C:\\x y /LOG", {}, true},
};
