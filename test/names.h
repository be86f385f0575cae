// Names the program must carry unchanged, and trees laid out with them, for the tables that run
// the transfer in the test process and the program as a process.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace names {

struct Name {
  const char* label;
  const char* text;  // UTF-8
};

// Each script, a character outside the Basic Multilingual Plane (a surrogate pair in UTF-16), a
// combining accent beside the precomposed letter that the old ANSI code page 1252 held, and
// ASCII that a careless format or split would change.
inline const Name kNames[] = {
    {"Cyrillic", "Ж-кириллица"},
    {"Greek", "Ελληνικά"},
    {"Cjk", "日本語"},
    {"Hangul", "한국어"},
    {"Emoji", "emoji-😀"},
    {"CombiningAccent", "cafe\xcc\x81"},
    {"CodePage1252", "caf\xc3\xa9"},
    {"Space", "with space"},
    {"Percent", "100% %s%n%x"},
    {"Dots", "a.b.c"},
    {"Dash", "-"},
#ifndef _WIN32
    // Not UTF-8: only a POSIX file system holds such a name (Latin-1 "café").
    {"NotUtf8", "caf\xe9"},
#endif
};

inline void PrintTo(const Name& name, std::ostream* out) {
  *out << name.label;
}

struct Trees {
  std::vector<std::string> backup, install;              // As MakeTree takes them.
  std::vector<std::string> backup_after, install_after;  // As Describe takes them.
};

// For each name: a file at the top, and one two levels down below a directory of that name; the
// same name inside a dot-named directory at the top and inside that directory, which stay. Each
// installed file is longer than its replacement, so a replacement that kept any of it shows.
inline Trees LayOut(const std::vector<std::string>& names) {
  Trees trees;
  for (const std::string& name : names) {
    for (const std::string& path : {name, "d/" + name + "/" + name}) {
      trees.backup.push_back(path + "=new:" + name);
      trees.install.push_back(path + "=old, and longer:" + name);
      trees.install_after.push_back(path + "=new:" + name);
    }
    for (const std::string& path : {".d/" + name, "d/" + name + "/." + name + "/" + name}) {
      trees.backup.push_back(path + "=kept:" + name);
      trees.backup_after.push_back(path + "=kept:" + name);
    }
  }
  return trees;
}

// A name of exactly `bytes` bytes: as many `character` as fit, after "x" padding.
inline std::string FillBytes(std::size_t bytes, std::string_view character) {
  std::string name;
  while (name.size() + character.size() <= bytes) name += character;
  return std::string(bytes - name.size(), 'x') + name;
}

}  // namespace names
