// Reading a crash record back. One byte of look-ahead over a buffered read(), with bounds on
// everything the file controls.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "CrashReporter/CRSCrashFile.h"
#include "platform/core/Str.h"

namespace {

constexpr int kMaxObjects = 22;
constexpr std::size_t kMaxString = 10239;
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxFileBytes = 64u << 20;

class Reader {
 public:
  explicit Reader(int fd) : fd_(fd) {}

  // The next byte, or -1 at the end (or past the file limit).
  int peek() {
    if (at_ == length_) fill();
    return at_ < length_ ? static_cast<unsigned char>(buffer_[at_]) : -1;
  }
  int next() {
    int c = peek();
    if (c >= 0) ++at_;
    return c;
  }
  void skipSpace() {
    for (int c = peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = peek()) next();
  }

  bool object(ns::Dictionary& out, int depth) {
    if (next() != '{' || depth > kMaxDepth) return false;
    skipSpace();
    if (peek() == '}') {
      next();
      return true;
    }
    for (;;) {
      skipSpace();
      std::string key;
      if (!string(key)) return false;
      skipSpace();
      if (next() != ':') return false;
      ns::Value value;
      if (!this->value(value, depth)) return false;
      out.setObject_forKey(value, key);
      skipSpace();
      int c = next();
      if (c == '}') return true;
      if (c != ',') return false;
    }
  }

 private:
  void fill() {
    at_ = length_ = 0;
    if (total_ >= kMaxFileBytes) return;
    ssize_t n;
    do {
      n = ::read(fd_, buffer_, sizeof buffer_);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      length_ = static_cast<std::size_t>(n);
      total_ += length_;
    }
  }

  bool value(ns::Value& out, int depth) {
    skipSpace();
    int c = peek();
    if (c == '{') {
      ns::Dictionary dictionary;
      if (!object(dictionary, depth + 1)) return false;
      out = ns::Value(std::move(dictionary));
      return true;
    }
    if (c == '[') return array(out, depth + 1);
    if (c == '"') {
      std::string text;
      if (!string(text)) return false;
      out = ns::Value(text);
      return true;
    }
    if (c >= '0' && c <= '9') return number(out);
    if (c == 't') return word("true", true, out);
    if (c == 'f') return word("false", false, out);
    return false;
  }

  bool array(ns::Value& out, int depth) {
    next();
    if (depth > kMaxDepth) return false;
    ns::Array items;
    skipSpace();
    if (peek() == ']') {
      next();
      out = ns::Value(std::move(items));
      return true;
    }
    for (;;) {
      ns::Value item;
      if (!value(item, depth)) return false;
      items.push_back(std::move(item));
      skipSpace();
      int c = next();
      if (c == ']') break;
      if (c != ',') return false;
    }
    out = ns::Value(std::move(items));
    return true;
  }

  // Unsigned decimal up to 2^64 - 1: the writer emits all 20 digits of the largest values.
  bool number(ns::Value& out) {
    std::uint64_t value = 0;
    while (peek() >= '0' && peek() <= '9') {
      unsigned digit = static_cast<unsigned>(next() - '0');
      if (value > (UINT64_MAX - digit) / 10) return false;
      value = value * 10 + digit;
    }
    out = ns::Value(static_cast<unsigned long long>(value));
    return true;
  }

  bool word(const char* text, bool flag, ns::Value& out) {
    for (const char* p = text; *p; ++p) {
      if (next() != *p) return false;
    }
    out = ns::Value(flag);
    return true;
  }

  static void appendUTF8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // A quoted string with the escapes the writer produces; too long fails, bad UTF-8 reads as
  // "(invalid UTF8)".
  bool string(std::string& out) {
    if (next() != '"') return false;
    std::size_t raw = 0;
    for (;;) {
      int c = next();
      if (c < 0) return false;
      if (c == '"') break;
      if (++raw > kMaxString) return false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      int e = next();
      ++raw;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += static_cast<char>(e);
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) {
            int h = next();
            ++raw;
            int v = h >= '0' && h <= '9'   ? h - '0'
                    : h >= 'a' && h <= 'f' ? h - 'a' + 10
                    : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                           : -1;
            if (v < 0) return false;
            code = code * 16 + static_cast<unsigned>(v);
          }
          // Lone surrogates are not text: the string then reads as invalid below.
          if (code >= 0xD800 && code <= 0xDFFF) {
            out += '\xff';
          } else {
            appendUTF8(out, code);
          }
          break;
        }
        default:
          return false;
      }
    }
    if (!ns::str::isValidUtf8(out)) out = "(invalid UTF8)";
    return true;
  }

  int fd_;
  char buffer_[4096];
  std::size_t at_ = 0;
  std::size_t length_ = 0;
  std::size_t total_ = 0;
};

}  // namespace

ns::Dictionary CRSCrashFile::parse(const std::string& path) {
  ns::Dictionary data;
  int objects = 0;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    Reader reader(fd);
    while (objects < kMaxObjects) {
      reader.skipSpace();
      if (reader.peek() != '{') break;
      ns::Dictionary line;
      bool complete = reader.object(line, 0);
      // A line that does not parse to its end ends the reading: the record is then incomplete.
      if (!complete) break;
      for (const auto& entry : line.entries()) data.setObject_forKey(entry.second, entry.first);
      ++objects;
    }
    ::close(fd);
  }
  data.setObject_forKey(ns::Value(objects), "file_lines");
  return data;
}
