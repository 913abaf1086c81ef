#include "platform/core/Format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/core/Str.h"

namespace ns::detail {

namespace {

// Width and precision beyond this are clamped, so that a hostile format cannot ask for
// gigabytes of padding.
constexpr int kMaxWidth = 1 << 16;

long long saturatingFromDouble(double d) {
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775808.0) return std::numeric_limits<long long>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<long long>::min();
  return static_cast<long long>(d);
}

struct Directive {
  bool minus = false, plus = false, space = false, hash = false, zero = false, quote = false;
  int width = -1;
  int precision = -1;
  std::string length;  // "", "hh", "h", "l", "ll", "q", "j", "z", "t", "L"
  char conversion = 0;
};

std::string printfString(const Directive& dir, const char* lengthMod, char conversion, auto value) {
  std::string f = "%";
  if (dir.minus) f += '-';
  if (dir.plus) f += '+';
  if (dir.space) f += ' ';
  if (dir.hash) f += '#';
  if (dir.zero) f += '0';
  if (dir.width >= 0) f += std::to_string(dir.width);
  if (dir.precision >= 0) f += "." + std::to_string(dir.precision);
  f += lengthMod;
  f += conversion;
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, f.c_str(), value);
  if (n < 0) return std::string();
  if (static_cast<std::size_t>(n) < sizeof buf) return std::string(buf, static_cast<std::size_t>(n));
  std::string out(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), f.c_str(), value);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Pads text to the width (counted in UTF-16 units, as the platform counts characters).
std::string pad(std::string text, const Directive& dir) {
  if (dir.width <= 0) return text;
  std::size_t len = str::utf16Length(text);
  auto width = static_cast<std::size_t>(dir.width);
  if (len >= width) return text;
  std::string fill(width - len, ' ');
  return dir.minus ? text + fill : fill + text;
}

// Truncates to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string truncateBytes(std::string_view s, std::size_t bytes) {
  if (s.size() <= bytes) return std::string(s);
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return std::string(s.substr(0, end));
}

long long truncateSigned(long long v, const std::string& length) {
  if (length == "hh") return static_cast<signed char>(v);
  if (length == "h") return static_cast<short>(v);
  if (length.empty()) return static_cast<int>(v);
  return v;
}

unsigned long long truncateUnsigned(unsigned long long v, const std::string& length) {
  if (length == "hh") return static_cast<unsigned char>(v);
  if (length == "h") return static_cast<unsigned short>(v);
  if (length.empty()) return static_cast<unsigned int>(v);
  return v;
}

}  // namespace

// ---- FormatArg ----

std::string FormatArg::describeValue(const void* p) { return static_cast<const Value*>(p)->description(); }
std::string FormatArg::describeNumber(const void* p) { return static_cast<const Number*>(p)->description(); }
std::string FormatArg::describeError(const void* p) { return static_cast<const Error*>(p)->description(); }
std::string FormatArg::describeData(const void* p) { return static_cast<const Data*>(p)->description(); }
std::string FormatArg::describeMutableData(const void* p) {
  return static_cast<const MutableData*>(p)->description();
}
std::string FormatArg::describeDate(const void* p) { return static_cast<const Date*>(p)->description(); }
std::string FormatArg::describeArray(const void* p) { return Value(*static_cast<const Array*>(p)).description(); }
std::string FormatArg::describeDictionary(const void* p) {
  return Value(*static_cast<const Dictionary*>(p)).description();
}
std::string FormatArg::describeSet(const void* p) { return Value(*static_cast<const Set*>(p)).description(); }

std::optional<Number> FormatArg::heldNumber() const {
  if (type_ != Type::Numeric) return std::nullopt;
  if (describe_ == &describeNumber) return *static_cast<const Number*>(p_);
  const auto* v = static_cast<const Value*>(p_);
  if (v->isNumber()) return v->number();
  return std::nullopt;
}

bool FormatArg::isNumeric() const {
  return type_ == Type::Signed || type_ == Type::Unsigned || type_ == Type::Double || heldNumber().has_value();
}

bool FormatArg::isFloating() const {
  if (type_ == Type::Double) return true;
  auto n = heldNumber();
  return n && n->isFloatingPoint();
}

long long FormatArg::asSigned() const {
  switch (type_) {
    case Type::Signed: return i_;
    case Type::Unsigned: return static_cast<long long>(u_);
    case Type::Double: return saturatingFromDouble(d_);
    default:
      if (auto n = heldNumber()) return n->longLongValue();
      return 0;
  }
}

unsigned long long FormatArg::asUnsigned() const {
  switch (type_) {
    case Type::Signed: return static_cast<unsigned long long>(i_);
    case Type::Unsigned: return u_;
    case Type::Double: return static_cast<unsigned long long>(saturatingFromDouble(d_));
    default:
      if (auto n = heldNumber()) return n->unsignedLongLongValue();
      return 0;
  }
}

double FormatArg::asDouble() const {
  switch (type_) {
    case Type::Signed: return static_cast<double>(i_);
    case Type::Unsigned: return static_cast<double>(u_);
    case Type::Double: return d_;
    default:
      if (auto n = heldNumber()) return n->doubleValue();
      return 0.0;
  }
}

const void* FormatArg::pointer() const {
  switch (type_) {
    case Type::CString:
    case Type::Pointer:
    case Type::Object: return p_;
    case Type::String: return sv_.data();
    case Type::Numeric:
    case Type::Described:
      if (describe_ == &describeValue) {
        const auto* v = static_cast<const Value*>(p_);
        if (v->isObject()) return v->object().get();
      }
      return p_;
    default: return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(asUnsigned()));
  }
}

std::string FormatArg::text() const {
  switch (type_) {
    case Type::Signed: return std::to_string(i_);
    case Type::Unsigned: return std::to_string(u_);
    case Type::Double: return Number(d_).description();
    case Type::CString: return p_ ? static_cast<const char*>(p_) : "(null)";
    case Type::String: return std::string(sv_);
    case Type::Pointer: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%p", p_);
      return p_ ? buf : "0x0";
    }
    case Type::Object: return p_ ? static_cast<const Object*>(p_)->description() : "(null)";
    case Type::Described:
    case Type::Numeric: return describe_(p_);
  }
  return std::string();
}

// ---- the formatter ----

std::string formatArgs(std::string_view fmt, const FormatArg* args, std::size_t count) {
  std::string out;
  out.reserve(fmt.size() + 16 * count);
  std::size_t next = 0;  // next sequential argument
  auto argAt = [&](std::size_t index) -> const FormatArg* { return index < count ? &args[index] : nullptr; };
  auto takeArg = [&](std::size_t positional) -> const FormatArg* {
    if (positional > 0) return argAt(positional - 1);
    return argAt(next++);
  };

  auto readNumber = [&](std::size_t& i) -> long long {
    long long v = 0;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
      v = std::min<long long>(v * 10 + (fmt[i] - '0'), 1LL << 40);
      ++i;
    }
    return v;
  };
  // Reads "*" or "*m$" and answers the int argument.
  auto readStar = [&](std::size_t& i) -> long long {
    ++i;  // '*'
    std::size_t save = i;
    long long pos = readNumber(i);
    if (pos > 0 && i < fmt.size() && fmt[i] == '$') {
      ++i;
      const FormatArg* a = argAt(static_cast<std::size_t>(pos - 1));
      return a ? static_cast<int>(a->asSigned()) : 0;
    }
    i = save;
    const FormatArg* a = takeArg(0);
    return a ? static_cast<int>(a->asSigned()) : 0;
  };

  std::size_t i = 0;
  while (i < fmt.size()) {
    std::size_t pct = fmt.find('%', i);
    if (pct == std::string_view::npos) {
      out.append(fmt.substr(i));
      break;
    }
    out.append(fmt.substr(i, pct - i));
    i = pct + 1;
    if (i >= fmt.size()) {
      out += '%';  // a lone trailing '%'
      break;
    }
    if (fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t directiveStart = pct;
    Directive dir;
    // Positional argument "n$".
    std::size_t positional = 0;
    {
      std::size_t j = i;
      long long n = readNumber(j);
      if (n > 0 && j < fmt.size() && fmt[j] == '$') {
        positional = static_cast<std::size_t>(n);
        i = j + 1;
      }
    }
    // Flags.
    for (bool more = true; more && i < fmt.size();) {
      switch (fmt[i]) {
        case '-': dir.minus = true, ++i; break;
        case '+': dir.plus = true, ++i; break;
        case ' ': dir.space = true, ++i; break;
        case '#': dir.hash = true, ++i; break;
        case '0': dir.zero = true, ++i; break;
        case '\'': dir.quote = true, ++i; break;
        default: more = false;
      }
    }
    // Width.
    if (i < fmt.size() && fmt[i] == '*') {
      long long w = readStar(i);
      if (w < 0) {
        dir.minus = true;
        w = w == std::numeric_limits<int>::min() ? kMaxWidth : -w;
      }
      dir.width = static_cast<int>(std::min<long long>(w, kMaxWidth));
    } else if (i < fmt.size() && fmt[i] >= '1' && fmt[i] <= '9') {
      dir.width = static_cast<int>(std::min<long long>(readNumber(i), kMaxWidth));
    }
    // Precision.
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      if (i < fmt.size() && fmt[i] == '*') {
        long long p = readStar(i);
        dir.precision = p < 0 ? -1 : static_cast<int>(std::min<long long>(p, kMaxWidth));
      } else {
        dir.precision = static_cast<int>(std::min<long long>(readNumber(i), kMaxWidth));
      }
    }
    // Length modifier.
    if (i < fmt.size()) {
      char c = fmt[i];
      if ((c == 'h' || c == 'l') && i + 1 < fmt.size() && fmt[i + 1] == c) {
        dir.length = std::string(2, c);
        i += 2;
      } else if (c == 'h' || c == 'l' || c == 'q' || c == 'j' || c == 'z' || c == 't' || c == 'L') {
        dir.length = std::string(1, c);
        ++i;
      }
    }
    if (i >= fmt.size()) {
      out.append(fmt.substr(directiveStart));  // an unfinished conversion prints as written
      break;
    }
    dir.conversion = fmt[i++];
    const char conv = dir.conversion;

    switch (conv) {
      case 'd':
      case 'i':
      case 'D': {
        const FormatArg* a = takeArg(positional);
        Directive s = dir;
        s.quote = false;
        if (a && !a->isNumeric()) {
          out += pad(a->text(), dir);
          break;
        }
        long long v = a ? a->asSigned() : 0;
        if (conv != 'D') v = truncateSigned(v, dir.length);
        out += printfString(s, "ll", 'd', v);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X':
      case 'U':
      case 'O': {
        const FormatArg* a = takeArg(positional);
        if (a && !a->isNumeric()) {
          out += pad(a->text(), dir);
          break;
        }
        unsigned long long v = a ? a->asUnsigned() : 0;
        char c = conv == 'U' ? 'u' : conv == 'O' ? 'o' : conv;
        if (conv != 'U' && conv != 'O') v = truncateUnsigned(v, dir.length);
        Directive s = dir;
        s.plus = s.space = s.quote = false;
        out += printfString(s, "ll", c, v);
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A': {
        const FormatArg* a = takeArg(positional);
        if (a && !a->isNumeric()) {
          out += pad(a->text(), dir);
          break;
        }
        Directive s = dir;
        s.quote = false;
        out += printfString(s, "", conv, a ? a->asDouble() : 0.0);
        break;
      }
      case 'c':
      case 'C': {
        const FormatArg* a = takeArg(positional);
        std::string ch;
        if (a && a->isNumeric()) {
          unsigned long long v = a->asUnsigned();
          // %c is a byte, %C a UTF-16 unit, %lc a wide character (a code point here).
          char32_t cp = dir.length == "l" ? static_cast<char32_t>(std::min<unsigned long long>(v, 0x10FFFF))
                        : conv == 'c'      ? static_cast<unsigned char>(v)
                                           : static_cast<char16_t>(v);
          if (cp != 0) str::appendUtf8(ch, cp);
        } else if (a) {
          ch = str::substringToIndex(a->text(), 1);
        }
        out += pad(ch, dir);
        break;
      }
      case 's':
      case 'S':
      case '@': {
        const FormatArg* a = takeArg(positional);
        std::string text = a ? a->text() : "(null)";
        if (dir.precision >= 0) {
          text = conv == '@' ? str::substringToIndex(text, static_cast<std::size_t>(dir.precision))
                             : truncateBytes(text, static_cast<std::size_t>(dir.precision));
        }
        out += pad(std::move(text), dir);
        break;
      }
      case 'p': {
        const FormatArg* a = takeArg(positional);
        const void* p = a ? a->pointer() : nullptr;
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%llx",
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
        out += pad(buf, dir);
        break;
      }
      case 'n':
        takeArg(positional);  // never writes through the argument
        break;
      default:
        // Not a conversion: print it as written.
        out.append(fmt.substr(directiveStart, i - directiveStart));
    }
  }
  return out;
}

}  // namespace ns::detail
