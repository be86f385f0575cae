// Reading the log that a run wrote, and the lines the tests expect in it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"
#include "test/support.h"

namespace logtest {

// The whole file at `path`, "" when there is none.
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of `text` without their line ends. Every line must end with the platform's.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  const std::string_view end = kLineEnd;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t next = text.find(end, at);
    if (next == std::string::npos) {
      ADD_FAILURE() << "unterminated last line: " << text.substr(at);
      break;
    }
    lines.push_back(text.substr(at, next - at));
    at = next + end.size();
  }
  return lines;
}

// `line` with the system's message after "error N" cut off, so that the lines of both systems
// compare alike (Wine words its messages apart from Windows). The message must be there, unless
// the system has none (Wine has no text for some errors, 4390 among them).
inline std::string WithoutMessage(const std::string& line) {
  const std::size_t at = line.rfind(": error ");
  if (at == std::string::npos) return line;
  std::size_t end = at + 8;
  while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
  if (end == line.size()) return line;
  EXPECT_GT(line.size(), end + 2) << "no message: " << line;
  EXPECT_EQ(line.substr(end, 2), ": ") << line;
  return line.substr(0, end);
}

// The lines a walk of `backup` into `install` logs, sorted (the listing's order is the file
// system's), from `tokens`: space-separated "kind:path" or "kind:path:error", each path below
// `backup` ("" for `backup` itself), written with "/". The walk's first line comes first.
inline std::vector<std::string> Expected(std::string_view tokens,
                                         const std::string& backup = "backup",
                                         const std::string& install = "install") {
  std::vector<std::string> lines;
  std::istringstream words{std::string(tokens)};
  for (std::string token; words >> token;) {
    const std::size_t colon = token.find(':');
    const std::string kind = token.substr(0, colon);
    std::string path = token.substr(colon + 1), error;
    if (kind == "not-moved" || kind == "in-both" || kind == "left" || kind == "not-listed" ||
        kind == "list-ended" || kind.find("not-flushed") != std::string::npos) {
      error = ": error " + path.substr(path.rfind(':') + 1);
      path = path.substr(0, path.rfind(':'));
    }
    const std::string from = path.empty() ? backup : support::Join(backup, path);
    const std::string to = path.empty() ? install : support::Join(install, path);
    if (kind == "moved") {
      lines.push_back("moved: " + from + " -> " + to);
    } else if (kind == "copied") {
      lines.push_back("copied across volumes, then deleted: " + from + " -> " + to);
    } else if (kind == "not-moved") {
      lines.push_back("not moved: " + from + " -> " + to + error);
    } else if (kind == "in-both") {
      lines.push_back("copied across volumes but not deleted, so in both places: " + from + " -> " +
                      to + error);
    } else if (kind == "kept") {
      lines.push_back("kept: " + from + " (its name begins with \".\")");
    } else if (kind == "kept-name") {
      lines.push_back("kept: " + from +
                      " (its name ends in \".\" or a space, which Windows drops)");
    } else if (kind == "still") {
      lines.push_back("kept: " + from +
                      " (still here after the walk: a second link to the file it replaced, which "
                      "a rename leaves, or a file made during the walk)");
    } else if (kind == "kept-fffd") {
      lines.push_back(
          "kept: " + from +
          " (its name holds U+FFFD, shown for what the system cannot spell, or \"\\\", which a "
          "path reads as a separator)");
    } else if (kind == "kept-link-elsewhere") {
      lines.push_back(
          "kept: " + from +
          " (a link that would lead elsewhere, or to nothing, from where it would land)");
    } else if (kind == "cancelled") {
      const std::size_t arrow = path.find('>');
      lines.push_back(
          "deleted, so that the restart does not put it over the file just installed: " +
          support::Join(install, path.substr(0, arrow)) + " -> " +
          support::Join(install, path.substr(arrow + 1)));
    } else if (kind == "kept-log") {
      lines.push_back("kept: " + from + " (the log being written)");
    } else if (kind == "kept-link-into-backup") {
      lines.push_back("kept: " + from +
                      " (a link into the backup, which would lead to nothing once it is restored)");
    } else if (kind == "not-entered") {
      lines.push_back("not entered: " + from +
                      " (a linked directory that may lead back into the tree being walked, or "
                      "hold the backup)");
    } else if (kind == "not-entered-installed") {
      lines.push_back("not entered: " + from +
                      " (a linked or mounted directory that may lie inside the installation "
                      "directory, or hold it)");
    } else if (kind == "no-room") {
      lines.push_back("skipped: " + from + " (its path leaves no room for the search pattern)");
    } else if (kind == "no-memory") {
      lines.push_back("skipped: " + from + " (no memory for its path)");
    } else if (kind == "list-ended") {
      lines.push_back("listing ended early: " + from + error);
    } else if (kind == "removed") {
      lines.push_back("removed: " + from);
    } else if (kind == "left") {
      lines.push_back("left: " + from + error);
    } else if (kind == "flushed") {  // The backup's volume, before the first rename.
      lines.push_back("flushed: the volume of " + backup);
    } else if (kind == "flushed-install") {  // The installation's, after the last.
      lines.push_back("flushed: the volume of " + install);
    } else if (kind == "volume-not-flushed") {
      lines.push_back("not flushed, so each file is flushed before its rename: the volume of " +
                      from + error);
    } else if (kind == "volume-ignored") {
      lines.push_back("not flushed, so each file is flushed before its rename: the volume of " +
                      from +
                      " (the system is known to report a volume's flush that it does not make)");
    } else if (kind == "volume-not-flushed-install") {
      lines.push_back("not flushed, so each file is flushed before its rename: the volume of " +
                      install + error);
    } else if (kind == "not-flushed") {
      lines.push_back("not flushed: " + from + error);
    } else if (kind == "not-flushed-install") {  // By the write-through of its rename.
      lines.push_back("not flushed: " + to + error);
    } else if (kind == "not-listed") {
      lines.push_back("not listed: " + from + error);
    } else {
      ADD_FAILURE() << "unknown event " << token;
    }
  }
  std::sort(lines.begin(), lines.end());
  lines.insert(lines.begin(), "walk 1: " + backup + " -> " + install);
  return lines;
}

// The events of one walk as Expected gives them: `lines` without the run's first and last line,
// the messages cut off, sorted after the walk's first line.
inline std::vector<std::string> Events(std::vector<std::string> lines) {
  if (lines.size() < 3) {
    ADD_FAILURE() << "a log of " << lines.size() << " lines";
    return {};
  }
  // The totals close the log, and a run's outcome follows them.
  const bool outcome = lines.back().rfind("exit status ", 0) == 0;
  std::vector<std::string> events(lines.begin() + 1, lines.end() - (outcome ? 2 : 1));
  for (std::string& line : events) {
    line = WithoutMessage(line);
    // A flush's time is the disk's.
    if (line.rfind("flushed: ", 0) == 0) line = line.substr(0, line.rfind(", in "));
  }
  std::sort(events.begin() + 1, events.end());
  return events;
}

}  // namespace logtest
