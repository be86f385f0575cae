// What the tests need of the system that is the same on every system: directory trees, over
// std::filesystem, and the comparison of trees before and after a run.
#include "test/support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace support {
namespace {

// The files of a tree description, by path. "-" (no tree) has none.
std::map<std::string, std::string> Files(const std::string& tree) {
  std::map<std::string, std::string> files;
  std::istringstream words(tree == "-" ? "" : tree);
  for (std::string entry; words >> entry;) {
    const std::size_t equals = entry.find('=');
    if (equals != std::string::npos) files[entry.substr(0, equals)] = entry.substr(equals + 1);
  }
  return files;
}

void WriteText(const fs::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.good()) throw std::runtime_error("cannot write " + Utf8(path));
}

std::string LinkTarget(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? "?" : Utf8(target);
}

void Collect(const fs::path& directory, const std::string& prefix, std::vector<std::string>* out) {
  bool empty = true;
  for (const fs::directory_entry& member : fs::directory_iterator(directory)) {
    empty = false;
    const std::string relative = prefix + Utf8(member.path().filename());
    const fs::file_status status = member.symlink_status();
    if (fs::is_symlink(status)) {
      out->push_back(relative + "->" + LinkTarget(member.path()));
    } else if (fs::is_directory(status)) {
      Collect(member.path(), relative + "/", out);
    } else {
      out->push_back(relative + "=" + ReadText(Utf8(member.path())));
    }
  }
  if (empty && !prefix.empty()) out->push_back(prefix);
}

}  // namespace

fs::path Path(std::string_view utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string MakeTempRoot() {
  static std::mt19937_64 random{std::random_device{}()};
  // Under Wine, opening the volume device of C: from a long-running test process hangs; the
  // suite there points this at a file system of its own, which has no device to open.
  const char* chosen = std::getenv("RESTORE_TEST_TEMP");
  const fs::path base = chosen != nullptr ? fs::path(chosen) : fs::temp_directory_path();
  for (;;) {
    char name[32];
    std::snprintf(name, sizeof name, "restore-test-%08x", static_cast<unsigned>(random()));
    if (fs::create_directory(base / name)) return Utf8(base / name);
  }
}

std::string Join(const std::string& directory, std::string_view relative) {
  constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);
  std::string joined = directory + kSeparator + std::string(relative);
  std::replace(joined.begin() + static_cast<std::ptrdiff_t>(directory.size()), joined.end(), '/',
               kSeparator);
  return joined;
}

void MakeTree(const std::string& root, std::string_view entries) {
  std::vector<std::string> split;
  std::istringstream words{std::string(entries)};
  for (std::string entry; words >> entry;) split.push_back(entry);
  MakeTree(root, split);
}

void MakeTree(const std::string& root, const std::vector<std::string>& entries) {
  fs::create_directories(Path(root));
  for (const std::string& entry : entries) {
    const std::size_t equals = entry.find('='), arrow = entry.find("->"), hard = entry.find("=>");
    std::string relative = entry.substr(0, std::min(equals, arrow));
    if (equals == std::string::npos && arrow == std::string::npos) {
      while (relative.ends_with('/')) relative.pop_back();
      fs::create_directories(Path(root) / Path(relative));
      continue;
    }
    const fs::path path = Path(root) / Path(relative);
    fs::create_directories(path.parent_path());
    if (arrow < equals) {
      fs::create_symlink(Path(entry.substr(arrow + 2)), path);
    } else if (hard == equals) {
      fs::create_hard_link(Path(entry.substr(hard + 2)), path);
    } else {
      WriteText(path, std::string_view(entry).substr(equals + 1));
    }
  }
}

std::string ReadTree(const std::string& root) {
  std::error_code error;
  if (!fs::exists(fs::symlink_status(Path(root), error))) return "-";
  std::vector<std::string> entries;
  Collect(Path(root), "", &entries);
  return Describe(std::move(entries));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(Path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Describe(std::vector<std::string> entries) {
  std::sort(entries.begin(), entries.end());
  std::string joined;
  for (const std::string& entry : entries) joined += (joined.empty() ? "" : " ") + entry;
  return joined;
}

void RemoveTree(const std::string& root) {
  const fs::path path = Path(root);
  std::error_code error;
  fs::remove_all(path, error);
  if (!error) return;
  // A read-only file (Windows' attribute) cannot be deleted: make each writable, then again.
  for (fs::recursive_directory_iterator member(path, error), end; !error && member != end;
       member.increment(error)) {
    if (!member->is_symlink()) {
      fs::permissions(member->path(), fs::perms::owner_write, fs::perm_options::add, error);
    }
  }
  fs::remove_all(path);
}

void ChangeDirectory(const std::string& directory) {
  fs::current_path(Path(directory));
}

std::string CurrentDirectory() {
  return Utf8(fs::current_path());
}

std::string LostFiles(const std::string& backup_before, const std::string& install_before,
                      const std::string& backup_after, const std::string& install_after,
                      bool across) {
  const auto backup = Files(backup_before), installed = Files(install_before);
  const auto backup_now = Files(backup_after), install_now = Files(install_after);
  std::string problems;
  for (const auto& [path, content] : backup) {
    const int places = (backup_now.count(path) && backup_now.at(path) == content) +
                       (install_now.count(path) && install_now.at(path) == content);
    if (places != 1 && !(across && places == 2))
      problems += path + " is in " + std::to_string(places) + " places; ";
  }
  for (const auto& [path, content] : installed) {
    const auto now = install_now.find(path);
    if (now == install_now.end()) {
      problems += "installed " + path + " is gone; ";
    } else if (now->second != content && !(backup.count(path) && backup.at(path) == now->second)) {
      problems += "installed " + path + " holds " + now->second + "; ";
    }
  }
  for (const auto& [path, content] : install_now) {
    if (!installed.count(path) && !backup.count(path)) problems += path + " appeared; ";
  }
  for (const auto& [path, content] : backup_now) {
    if (!backup.count(path)) problems += "backup " + path + " appeared; ";
  }
  return problems;
}

}  // namespace support
