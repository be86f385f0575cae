#include "restore/log.h"

#include <cstring>

#include "restore/log_words.h"

namespace {

using log_words::kOutcomeWords;
using log_words::kTypeNames;
using log_words::kWords;
using log_words::Tally;
using log_words::Words;

const char* Plural(unsigned long count, const char* one, const char* many) {
  return count == 1 ? one : many;
}

}  // namespace

bool Log::Open(const char* path, const char* command_line) {
  // Append access alone: every write lands at the end, after what earlier runs wrote. A file is
  // made only where no name is: one made through a dangling link could be a file of the backup,
  // which the walk would then install empty, or one of the installation.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  file_.reset(CreateFileA(path, FILE_APPEND_DATA, kShare, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  made_ = nullptr;
  if (!file_ && GetLastError() == ERROR_FILE_NOT_FOUND) {
    file_.reset(CreateFileA(path, FILE_APPEND_DATA, kShare, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    made_ = path;
  }
  if (!file_) return false;
  path_ = path;
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
  if (queued_ != 0) {
    Put(", ");
    PutNumber(queued_);
    Put(" queued for the next restart");
  }
  EndLine();
  if (told_) {
    Put("exit status ");
    PutNumber(status_);
    if (status_ != ExitStatus(outcome_)) {
      Put(" (");
      PutNumber(ExitStatus(outcome_));
      Put(" with /EXITCODE)");
    }
    Put(": ");
    Put(kOutcomeWords[static_cast<unsigned>(outcome_)]);
    EndLine();
  }
  Flush();
  // On disk before the program returns, as the restore it tells of is.
  if (file_) FlushFileBuffers(file_.get());
  file_.reset();
  path_ = nullptr;
}

void Log::Abandon() {
  file_.reset();
  used_ = 0;
  if (made_ != nullptr) DeleteFileA(made_);
  path_ = nullptr;
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
  const std::size_t index = static_cast<std::size_t>(event);
  if (index >= sizeof kWords / sizeof *kWords) return;
  const Words& words = kWords[index];
  Tally tally = words.tally;
  if (event == Event::kWalk) {
    ++walks_;
    not_moved_ = kept_ = left_ = 0;
  } else if (event == Event::kNotListed &&
             (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
    tally = Tally::kNone;  // A directory that is not there is not left behind.
  }
  switch (tally) {
    case Tally::kMoved:
      ++moved_;
      break;
    case Tally::kQueued:
      ++queued_;
      break;
    case Tally::kNotMoved:
      ++not_moved_;
      break;
    case Tally::kKept:
      ++kept_;
      break;
    case Tally::kLeft:
      ++left_;
      break;
    case Tally::kNone:
      break;
  }
  for (const char* text = words.text; *text != '\0'; ++text) {
    const char* plain = text;
    while (*text != '\0' && *text != '%') ++text;
    Put(plain, static_cast<std::size_t>(text - plain));
    if (*text == '\0') break;
    switch (*++text) {
      case 'p':
        PutPath(path);
        break;
      case 'o':
        PutPath(other);
        break;
      case '/':
        Put(&kPathSeparator, 1);
        break;
      case 'w':
        PutNumber(walks_);
        break;
      case 't':  // Tenths of a second.
        PutNumber(number / 1000);
        Put(".");
        PutNumber(number % 1000 / 100);
        break;
      case 's':
        PutSeconds(number);
        break;
      case 'e':
        PutError(error);
        break;
    }
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
