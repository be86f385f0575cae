#include "restore/log.h"

#include <cstring>

#include "restore/command_line.h"

namespace {

constexpr char kDefaultName[] = "restore-backup.log";
constexpr char kSwitch[] = "/log";
constexpr std::size_t kSwitchLength = sizeof kSwitch - 1;

const char* const kTypeNames[] = {
    "REG_NONE",
    "REG_SZ",
    "REG_EXPAND_SZ",
    "REG_BINARY",
    "REG_DWORD",
    "REG_DWORD_BIG_ENDIAN",
    "REG_LINK",
    "REG_MULTI_SZ",
    "REG_RESOURCE_LIST",
    "REG_FULL_RESOURCE_DESCRIPTOR",
    "REG_RESOURCE_REQUIREMENTS_LIST",
    "REG_QWORD",
};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `argument` begins with the log switch, in any case, followed by its end or "=".
bool IsLogSwitch(const char* argument) {
  for (std::size_t i = 0; i < kSwitchLength; ++i) {
    if (Lower(argument[i]) != kSwitch[i]) return false;
  }
  return argument[kSwitchLength] == '\0' || argument[kSwitchLength] == '=';
}

const char* Plural(unsigned long count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

}  // namespace

bool LogPath(const char* command_line, char (&path)[MAX_PATH]) {
  // Room for the switch, "=" and the longest path that fits, so that a longer one shows.
  char argument[kSwitchLength + 1 + MAX_PATH];
  std::size_t length = 0;
  bool found = false;
  for (const char* rest = command_line;
       (rest = NextArgument(rest, argument, sizeof argument, &length)) != nullptr;) {
    if (!IsLogSwitch(argument)) continue;
    found = true;
    if (length >= sizeof argument) {
      path[0] = '\0';  // Too long: no log, rather than one in some other file.
    } else if (length == kSwitchLength) {
      const DWORD directory = GetTempPathA(MAX_PATH, path);
      if (directory == 0 || directory + sizeof kDefaultName > MAX_PATH) {
        path[0] = '\0';
      } else {
        std::memcpy(path + directory, kDefaultName, sizeof kDefaultName);
      }
    } else {
      std::memcpy(path, argument + kSwitchLength + 1, length - kSwitchLength);
    }
  }
  return found && path[0] != '\0';
}

bool Log::Open(const char* path, const char* command_line) {
  // Append access alone: every write lands at the end, after what earlier runs wrote.
  file_.reset(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  start_ = GetTickCount64();
  SYSTEMTIME now;
  GetLocalTime(&now);
  PutNumber(now.wYear, 4);
  Put("-");
  PutNumber(now.wMonth, 2);
  Put("-");
  PutNumber(now.wDay, 2);
  Put(" ");
  PutNumber(now.wHour, 2);
  Put(":");
  PutNumber(now.wMinute, 2);
  Put(":");
  PutNumber(now.wSecond, 2);
  Put(" restore-backup " RESTORE_BACKUP_VERSION ", in ");
  char directory[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, directory);
  PutPath(length != 0 && length < MAX_PATH ? directory : "?");
  Put(", command line: ");
  PutPath(command_line != nullptr ? command_line : "");
  EndLine();
  return true;
}

void Log::Close() {
  if (!file_) return;
  const ULONGLONG elapsed = GetTickCount64() - start_;
  Put("done: ");
  PutNumber(moved_);
  Put(Plural(moved_, " file moved, ", " files moved, "));
  PutNumber(not_moved_);
  Put(" not moved, ");
  PutNumber(kept_);
  Put(" kept, ");
  PutNumber(left_);
  Put(Plural(left_, " directory left, in ", " directories left, in "));
  PutSeconds(elapsed);
  EndLine();
  Flush();
  file_.reset();
}

void Log::Note(Event event, const char* path, const char* other, DWORD number) {
  if (!file_) return;
  // The error is read first and kept: the log's own calls must not change what the walk reads.
  const DWORD error = GetLastError();
  // "." and ".." are the directory itself and its parent, not members kept; a listing that
  // reached its end ended as it should.
  if ((event == Event::kKeptDot &&
       (std::strcmp(other, ".") == 0 || std::strcmp(other, "..") == 0)) ||
      (event == Event::kListEnded && error == ERROR_NO_MORE_FILES)) {
    return;
  }
  switch (event) {
    case Event::kWalk:
      ++walks_;
      not_moved_ = kept_ = left_ = 0;
      Put("walk ");
      PutNumber(walks_);
      Put(": ");
      PutPath(path);
      Put(" -> ");
      PutPath(other);
      break;
    case Event::kWaiting:
      Put("waiting ");
      PutNumber(number / 1000);
      Put(".");
      PutNumber(number % 1000 / 100);
      Put(" s to walk again, since a file was held by another process");
      break;
    case Event::kMoved:
    case Event::kCopied:
    case Event::kNotMoved:
    case Event::kInBoth:
      Put(event == Event::kMoved      ? "moved: "
          : event == Event::kCopied   ? "copied across volumes, then deleted: "
          : event == Event::kNotMoved ? "not moved: "
                                      : "copied across volumes but not deleted, so in both "
                                        "places: ");
      PutPath(path);
      Put(" -> ");
      PutPath(other);
      if (event == Event::kMoved || event == Event::kCopied) {
        ++moved_;
      } else {
        ++not_moved_;
        PutError(error);
      }
      break;
    case Event::kKeptDot:
      ++kept_;
      Put("kept: ");
      PutPath(path);
      Put(&kPathSeparator, 1);
      PutPath(other);
      Put(" (its name begins with \".\")");
      break;
    case Event::kKeptName: {
      ++kept_;
      const char last = path[std::strlen(path) - 1];
      Put("kept: ");
      PutPath(path);
      Put(last == '.' || last == ' '
              ? " (its name ends in \".\" or a space, which Windows drops)"
              : " (its name holds \"~\" and may be the short name of another installed file)");
      break;
    }
    case Event::kUnspelled:
      ++kept_;
      Put("kept: ");
      PutPath(path);
      Put(" (its name holds U+FFFD, shown for what the system cannot spell, or \"\\\", which a "
          "path reads as a separator)");
      break;
    case Event::kStillThere:
      ++kept_;
      Put("kept: ");
      PutPath(path);
      Put(" (still here after the walk: a second link to the file it replaced, which a rename "
          "leaves, or a file made during the walk)");
      break;
    case Event::kKeptLink:
      ++kept_;
      Put("kept: ");
      PutPath(path);
      Put(" (a link that leads to the file it would replace, or to nothing)");
      break;
    case Event::kNameTooLong:
      ++kept_;
      Put("kept: a member of ");
      PutPath(path);
      Put(" (its name fills the whole name field, with no room for a terminator)");
      break;
    case Event::kNotEntered:
    case Event::kNotEnteredInstalled:
      ++kept_;
      Put("not entered: ");
      PutPath(path);
      Put(event == Event::kNotEntered
              ? " (a linked directory that may lead back into the tree being walked)"
              : " (a linked or mounted directory that may lie inside the installation directory, "
                "or hold it)");
      break;
    case Event::kNoMemory:
      ++not_moved_;
      Put("skipped: ");
      PutPath(path);
      Put(&kPathSeparator, 1);
      PutPath(other);
      Put(" (no memory for its path)");
      break;
    case Event::kNoRoom:
      ++left_;
      Put("skipped: ");
      PutPath(path);
      Put(" (its path leaves no room for the search pattern)");
      break;
    case Event::kNotListed:
      // A directory that is not there is not left behind.
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ++left_;
      Put("not listed: ");
      PutPath(path);
      PutError(error);
      break;
    case Event::kListEnded:
      Put("listing ended early: ");
      PutPath(path);
      PutError(error);
      break;
    case Event::kRemoved:
      Put("removed: ");
      PutPath(path);
      break;
    case Event::kLeft:
      ++left_;
      Put("left: ");
      PutPath(path);
      PutError(error);
      break;
    case Event::kVolumeFlushed:
      Put("flushed: the volume of ");
      PutPath(path);
      Put(", in ");
      PutSeconds(number);
      break;
    case Event::kVolumeNotFlushed:
      Put("not flushed, so each file is flushed before its rename: the volume of ");
      PutPath(path);
      PutError(error);
      break;
    case Event::kVolumeNotFlushedAfter:
      Put("not flushed after the last rename: the volume of ");
      PutPath(path);
      PutError(error);
      break;
    case Event::kNotFlushed:
      Put("not flushed: ");
      PutPath(path);
      PutError(error);
      break;
    default:
      return;
  }
  EndLine();
  SetLastError(error);
}

void Log::NoteRegistry(Event event, const char* key, const char* value, const char* directory,
                       DWORD number) {
  if (!file_) return;
  Put("registry: HKLM\\");
  PutPath(key);
  Put(", \"");
  PutPath(value);
  Put("\"");
  switch (event) {
    case Event::kFound:
      Put(" = ");
      PutPath(directory);
      EndLine();
      return;
    case Event::kNoKey:
      if (number == ERROR_FILE_NOT_FOUND) {
        Put(": no such key");
      } else {
        Put(": the key could not be opened");
        PutError(number);
      }
      break;
    case Event::kNotRead:
      if (number == ERROR_FILE_NOT_FOUND) {
        Put(": no such value");
      } else if (number == ERROR_MORE_DATA) {
        Put(": longer than its buffer of ");
        PutNumber(MAX_PATH);
        Put(" bytes");
      } else {
        Put(": the value could not be read");
        PutError(number);
      }
      break;
    case Event::kNotString:
      Put(": a ");
      Put(number < sizeof kTypeNames / sizeof *kTypeNames ? kTypeNames[number] : "value");
      Put(" (type ");
      PutNumber(number);
      Put("), not a REG_SZ");
      break;
    case Event::kEmpty:
      Put(": empty");
      break;
    case Event::kUnterminated:
      Put(": fills its buffer of ");
      PutNumber(MAX_PATH);
      Put(" bytes without a terminator");
      break;
    case Event::kUnspellable:
      Put(": holds U+FFFD, shown for a character the system could not spell");
      break;
    default:
      break;
  }
  Put(", so nothing is restored");
  EndLine();
}

void Log::Put(const char* text, std::size_t length) {
  while (length > 0 && file_) {
    const std::size_t room = sizeof buffer_ - used_;
    const std::size_t part = length < room ? length : room;
    std::memcpy(buffer_ + used_, text, part);
    used_ += part;
    text += part;
    length -= part;
    if (used_ == sizeof buffer_) Flush();
  }
}

void Log::Put(const char* text) {
  Put(text, std::strlen(text));
}

// A path as it is, except that a control character (a line break in a name) is written as "?",
// so that each event stays one line.
void Log::PutPath(const char* path) {
  for (const char* run = path; *run != '\0';) {
    const char* end = run;
    while (static_cast<unsigned char>(*end) >= 0x20) ++end;
    Put(run, static_cast<std::size_t>(end - run));
    if (*end == '\0') break;
    Put("?");
    run = end + 1;
  }
}

void Log::PutNumber(unsigned long long number, int digits) {
  char text[20];
  int length = 0;
  do {
    text[sizeof text - 1 - length++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0 || length < digits);
  Put(text + sizeof text - length, static_cast<std::size_t>(length));
}

// "S.SS s".
void Log::PutSeconds(ULONGLONG milliseconds) {
  PutNumber(milliseconds / 1000);
  Put(".");
  PutNumber(milliseconds % 1000 / 10, 2);
  Put(" s");
}

// ": error N: the system's message", the message without its line break.
void Log::PutError(DWORD error) {
  Put(": error ");
  PutNumber(error);
  char message[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, message, sizeof message, nullptr);
  while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                        message[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) return;
  message[length] = '\0';
  Put(": ");
  PutPath(message);
}

void Log::EndLine() {
  Put(kLineEnd);
}

void Log::Flush() {
  if (used_ == 0 || !file_) return;
  DWORD written = 0;
  // A failed write ends the log; the restore goes on.
  if (!WriteFile(file_.get(), buffer_, static_cast<DWORD>(used_), &written, nullptr) ||
      written != used_) {
    file_.reset();
  }
  used_ = 0;
}
