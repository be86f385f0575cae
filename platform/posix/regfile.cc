#include "platform/posix/regfile.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>

namespace {

constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kVersion4 = "REGEDIT4";

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// True when `key` is `ancestor` or lies below it.
bool WithinNoCase(std::string_view key, std::string_view ancestor) {
  return EqualNoCase(key.substr(0, ancestor.size()), ancestor) &&
         (key.size() == ancestor.size() || key[ancestor.size()] == '\\');
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

void AppendUtf8(std::string* out, std::uint32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD and an odd last byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(&out, c);
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Parses 1 to `max_digits` hex digits making up all of `s`.
bool ParseHex(std::string_view s, std::size_t max_digits, std::uint32_t* value) {
  if (s.empty() || s.size() > max_digits) return false;
  *value = 0;
  for (char c : s) {
    const int digit = HexDigit(c);
    if (digit < 0) return false;
    *value = *value << 4 | static_cast<std::uint32_t>(digit);
  }
  return true;
}

// "01,ab,ff" (a trailing comma allowed, as line continuations leave one) into bytes.
bool ParseBytes(std::string_view s, std::string* bytes) {
  s = Trim(s);
  while (!s.empty()) {
    const std::size_t comma = s.find(',');
    std::uint32_t byte;
    if (!ParseHex(Trim(s.substr(0, comma)), 2, &byte)) return false;
    bytes->push_back(static_cast<char>(byte));
    if (comma == std::string_view::npos) break;
    s = Trim(s.substr(comma + 1));
  }
  return true;
}

// Parses a quoted string at the start of `*s` ("\\" and "\"" are escapes; any other backslash
// stands for itself) into `out`, when given, and advances past the closing quote.
bool ParseQuoted(std::string_view* s, std::string* out) {
  if (s->empty() || s->front() != '"') return false;
  for (std::size_t i = 1; i < s->size(); ++i) {
    const char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s->size() && ((*s)[i + 1] == '\\' || (*s)[i + 1] == '"')) ++i;
    if (out != nullptr) out->push_back((*s)[i]);
  }
  return false;
}

// Parses the start of a value line, "name"= or @=, into `name`, when given, and leaves `*line` at
// the data.
bool ParseValueName(std::string_view* line, std::string* name) {
  if (!line->empty() && line->front() == '@') {
    line->remove_prefix(1);
  } else if (!ParseQuoted(line, name)) {
    return false;
  }
  *line = Trim(*line);
  if (line->empty() || line->front() != '=') return false;
  *line = Trim(line->substr(1));
  return true;
}

// Parses the "hex:" (REG_BINARY) or "hex(N):" (type N) that opens hex data and advances past it.
bool ParseHexType(std::string_view* data, DWORD* type) {
  constexpr std::string_view kHex = "hex:", kHexType = "hex(";
  if (EqualNoCase(data->substr(0, kHex.size()), kHex)) {
    *type = REG_BINARY;
    data->remove_prefix(kHex.size());
    return true;
  }
  if (!EqualNoCase(data->substr(0, kHexType.size()), kHexType)) return false;
  const std::size_t close = data->find("):", kHexType.size());
  std::uint32_t number;
  if (close == std::string_view::npos ||
      !ParseHex(data->substr(kHexType.size(), close - kHexType.size()), 8, &number)) {
    return false;
  }
  *type = number;
  data->remove_prefix(close + 2);
  return true;
}

// True when `line` is a value line holding hex data: the only line regedit continues onto the
// next one with a trailing backslash.
bool IsHexValueLine(std::string_view line) {
  DWORD type;
  return ParseValueName(&line, nullptr) && ParseHexType(&line, &type);
}

// One value line. Sets `*deleted` for "name"=-.
bool ParseValue(std::string_view line, bool unicode, RegValue* value, bool* deleted) {
  if (!ParseValueName(&line, &value->name)) return false;
  *deleted = line == "-";
  if (*deleted) return true;

  if (!line.empty() && line.front() == '"') {
    value->type = REG_SZ;
    if (!ParseQuoted(&line, &value->data) || !Trim(line).empty()) return false;
    value->data.push_back('\0');
    return true;
  }
  constexpr std::string_view kDword = "dword:";
  if (EqualNoCase(line.substr(0, kDword.size()), kDword)) {
    std::uint32_t number;
    if (!ParseHex(line.substr(kDword.size()), 8, &number)) return false;
    value->type = REG_DWORD;
    for (int i = 0; i < 4; ++i) value->data.push_back(static_cast<char>(number >> (8 * i)));
    return true;
  }
  if (!ParseHexType(&line, &value->type) || !ParseBytes(line, &value->data)) return false;
  // Version 5 files hold string types as UTF-16LE; the ANSI query gives this system's UTF-8.
  if (unicode &&
      (value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ)) {
    value->data = Utf16ToUtf8(value->data);
  }
  return true;
}

// Yields logical lines: a value line of hex data is joined with the physical lines that follow
// while each ends in a backslash, as regedit wraps long data. A comment, key or string line that
// ends in a backslash ends there ("; was C:\Apps\" must not swallow the value below it).
class Lines {
 public:
  explicit Lines(std::string_view text) : rest_(text) {}
  bool Next(std::string* line) {
    if (done_) return false;
    line->clear();
    for (bool first = true;; first = false) {
      const std::size_t end = rest_.find('\n');
      std::string_view physical = Trim(rest_.substr(0, end));
      if (end == std::string_view::npos) {
        done_ = true;
      } else {
        rest_.remove_prefix(end + 1);
      }
      // Only the first physical line is examined, so the work stays linear in the text.
      const bool continued = !done_ && !physical.empty() && physical.back() == '\\' &&
                             (!first || IsHexValueLine(physical));
      if (continued) physical.remove_suffix(1);
      line->append(physical);
      if (!continued) return true;
    }
  }

 private:
  std::string_view rest_;
  bool done_ = false;
};

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

constexpr std::string_view kSoftware = "HKEY_LOCAL_MACHINE\\SOFTWARE";
constexpr std::string_view kWow64Software = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node";

// The values of one key as the file's lines build them up. Each line costs time in its own
// length only: a value is found through an index by lower-case name, never by a scan, and a
// deleted value is only marked, never moved, until the values are handed over.
class KeyValues {
 public:
  explicit KeyValues(std::string_view path) : path_(path) {}

  // A key line "[key]": the value lines that follow belong to `key`.
  void Open(std::string_view key) {
    in_key_ = EqualNoCase(key, path_);
    // A key exists once any key at or below it is written.
    if (WithinNoCase(key, path_)) exists_ = true;
  }
  // A key line that names no key.
  void Leave() { in_key_ = false; }
  // A deletion line "[-key]".
  void Delete(std::string_view key) {
    in_key_ = false;
    if (!WithinNoCase(path_, key)) return;
    exists_ = false;
    values_.clear();
    live_.clear();
    // Replaced, not cleared: clear() keeps the buckets and empties every one of them, so that
    // each later deletion would cost as much as the largest the key ever was.
    decltype(index_)().swap(index_);
  }
  bool in_key() const { return in_key_; }
  // A value line of this key; `deleted` for "name"=-.
  void Set(RegValue value, bool deleted) {
    std::string name = LowerCopy(value.name);
    const auto found = index_.find(name);
    if (found != index_.end() && deleted) {
      values_[found->second] = RegValue{};  // Frees its data now.
      live_[found->second] = false;
      index_.erase(found);
    } else if (found != index_.end()) {
      values_[found->second] = std::move(value);
    } else if (!deleted) {
      index_.emplace(std::move(name), values_.size());
      values_.push_back(std::move(value));
      live_.push_back(true);
    }
  }
  // Hands over the values, in the order they were first written; false when the key does not
  // exist.
  bool Take(std::vector<RegValue>* values) {
    if (!exists_) return false;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < values_.size(); ++i) {
      if (!live_[i]) continue;
      if (kept != i) values_[kept] = std::move(values_[i]);
      ++kept;
    }
    values_.resize(kept);
    *values = std::move(values_);
    return true;
  }

 private:
  std::string_view path_;
  bool exists_ = false;
  bool in_key_ = false;
  std::vector<RegValue> values_;
  std::vector<bool> live_;  // Whether values_[i] is still set.
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace

bool ReadRegistryKey(std::string_view text, std::string_view path, std::vector<RegValue>* values) {
  values->clear();
  std::string decoded;
  if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
    decoded = Utf16ToUtf8(text.substr(2));
    text = decoded;
  } else if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    text.remove_prefix(3);
  }

  Lines lines(text);
  std::string line;
  do {
    if (!lines.Next(&line)) return false;
  } while (line.empty());
  const bool unicode = line == kVersion5;
  if (!unicode && line != kVersion4) return false;

  // Whether the file comes from 64-bit Windows is known only at its end, so the key is followed
  // both as named and as WOW64 shows it to a 32-bit program: SOFTWARE\X as SOFTWARE\Wow6432Node\X.
  // A path already below Wow6432Node, or outside SOFTWARE, is the same in both views.
  std::string redirected;
  if (WithinNoCase(path, kSoftware) && !WithinNoCase(path, kWow64Software)) {
    (redirected = kWow64Software) += path.substr(kSoftware.size());
  }
  KeyValues native(path), wow64(redirected.empty() ? path : std::string_view(redirected));
  bool from_64_bit = false;

  while (lines.Next(&line)) {
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close == std::string::npos) {
        native.Leave();  // No key: the values that follow belong to none.
        wow64.Leave();
        continue;
      }
      std::string_view key = Trim(std::string_view(line).substr(1, close - 1));
      if (!key.empty() && key.front() == '-') {
        // Deleting a Wow6432Node key does not make the file a 64-bit export: a deletion is
        // written by hand for either system, never by an export.
        key = Trim(key.substr(1));
        native.Delete(key);
        wow64.Delete(key);
        continue;
      }
      if (WithinNoCase(key, kWow64Software)) from_64_bit = true;
      native.Open(key);
      wow64.Open(key);
      continue;
    }
    KeyValues* target = native.in_key() ? &native : wow64.in_key() ? &wow64 : nullptr;
    if (target == nullptr) continue;
    RegValue value{};
    bool deleted = false;
    if (ParseValue(line, unicode, &value, &deleted)) target->Set(std::move(value), deleted);
  }
  return (from_64_bit && !redirected.empty() ? wow64 : native).Take(values);
}
