// What the tests need of the system that does not depend on which system it is.
#include <algorithm>
#include <map>
#include <sstream>

#include "test/support.h"

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

}  // namespace

void MakeTree(const std::string& root, std::string_view entries) {
  std::vector<std::string> split;
  std::istringstream words{std::string(entries)};
  for (std::string entry; words >> entry;) split.push_back(entry);
  MakeTree(root, split);
}

std::string Describe(std::vector<std::string> entries) {
  std::sort(entries.begin(), entries.end());
  std::string joined;
  for (const std::string& entry : entries) joined += (joined.empty() ? "" : " ") + entry;
  return joined;
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
