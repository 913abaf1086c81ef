#include "platform/core/Format.h"

#include <algorithm>
#include <charconv>
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

using Directive = FormatDirective;

// A bare %d, %u or %x is most of what logging formats: written directly, it costs a fraction of a
// trip through snprintf. Answers false for anything else.
bool appendPlainInteger(const Directive& dir, char conversion, auto value, std::string& out) {
  if (dir.minus || dir.plus || dir.space || dir.hash || dir.zero || dir.width >= 0 || dir.precision >= 0 ||
      (conversion != 'd' && conversion != 'u' && conversion != 'x'))
    return false;
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof buf, value, conversion == 'x' ? 16 : 10);
  out.append(buf, result.ptr);
  return true;
}

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

long long truncateSigned(long long v, std::string_view length) {
  if (length == "hh") return static_cast<signed char>(v);
  if (length == "h") return static_cast<short>(v);
  if (length.empty()) return static_cast<int>(v);
  return v;
}

unsigned long long truncateUnsigned(unsigned long long v, std::string_view length) {
  if (length == "hh") return static_cast<unsigned char>(v);
  if (length == "h") return static_cast<unsigned short>(v);
  if (length.empty()) return static_cast<unsigned int>(v);
  return v;
}

}  // namespace

// ---- FormatArg ----

std::string FormatArg::describeValue(const void* p) {
  return static_cast<const Value*>(p)->description();
}
std::string FormatArg::describeNumber(const void* p) {
  return static_cast<const Number*>(p)->description();
}
std::string FormatArg::describeError(const void* p) {
  return static_cast<const Error*>(p)->description();
}
std::string FormatArg::describeData(const void* p) {
  return static_cast<const Data*>(p)->description();
}
std::string FormatArg::describeMutableData(const void* p) {
  return static_cast<const MutableData*>(p)->description();
}
std::string FormatArg::describeDate(const void* p) {
  return static_cast<const Date*>(p)->description();
}
std::string FormatArg::describeArray(const void* p) {
  return Value(*static_cast<const Array*>(p)).description();
}
std::string FormatArg::describeDictionary(const void* p) {
  return Value(*static_cast<const Dictionary*>(p)).description();
}
std::string FormatArg::describeSet(const void* p) {
  return Value(*static_cast<const Set*>(p)).description();
}

std::optional<Number> FormatArg::heldNumber() const {
  if (type_ != Type::Numeric) return std::nullopt;
  if (describe_ == &describeNumber) return *static_cast<const Number*>(p_);
  const auto* v = static_cast<const Value*>(p_);
  if (v->isNumber()) return v->number();
  return std::nullopt;
}

bool FormatArg::isNumeric() const {
  return type_ == Type::Signed || type_ == Type::Unsigned || type_ == Type::Double ||
         heldNumber().has_value();
}

bool FormatArg::isFloating() const {
  if (type_ == Type::Double) return true;
  auto n = heldNumber();
  return n && n->isFloatingPoint();
}

long long FormatArg::asSigned() const {
  switch (type_) {
    case Type::Signed:
      return i_;
    case Type::Unsigned:
      return static_cast<long long>(u_);
    case Type::Double:
      return saturatingFromDouble(d_);
    default:
      if (auto n = heldNumber()) return n->longLongValue();
      return 0;
  }
}

unsigned long long FormatArg::asUnsigned() const {
  switch (type_) {
    case Type::Signed:
      return static_cast<unsigned long long>(i_);
    case Type::Unsigned:
      return u_;
    case Type::Double:
      return static_cast<unsigned long long>(saturatingFromDouble(d_));
    default:
      if (auto n = heldNumber()) return n->unsignedLongLongValue();
      return 0;
  }
}

double FormatArg::asDouble() const {
  switch (type_) {
    case Type::Signed:
      return static_cast<double>(i_);
    case Type::Unsigned:
      return static_cast<double>(u_);
    case Type::Double:
      return d_;
    default:
      if (auto n = heldNumber()) return n->doubleValue();
      return 0.0;
  }
}

const void* FormatArg::pointer() const {
  switch (type_) {
    case Type::CString:
    case Type::Pointer:
    case Type::Object:
      return p_;
    case Type::String:
      return sv_.data();
    case Type::Numeric:
    case Type::Described:
      if (describe_ == &describeValue) {
        const auto* v = static_cast<const Value*>(p_);
        if (v->isObject()) return v->object().get();
      }
      return p_;
    default:
      return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(asUnsigned()));
  }
}

std::string FormatArg::text() const {
  switch (type_) {
    case Type::Signed:
      return std::to_string(i_);
    case Type::Unsigned:
      return std::to_string(u_);
    case Type::Double:
      return Number(d_).description();
    case Type::CString:
      return p_ ? static_cast<const char*>(p_) : "(null)";
    case Type::String:
      return std::string(sv_);
    case Type::Pointer: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%p", p_);
      return p_ ? buf : "0x0";
    }
    case Type::Object:
      return p_ ? static_cast<const Object*>(p_)->description() : "(null)";
    case Type::Described:
    case Type::Numeric:
      return describe_(p_);
  }
  return std::string();
}

// ---- reading a directive ----

namespace {

long long readNumber(std::string_view fmt, std::size_t& i) {
  long long v = 0;
  while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
    v = std::min<long long>(v * 10 + (fmt[i] - '0'), 1LL << 40);
    ++i;
  }
  return v;
}

// Reads "*" or "*m$" at fmt[i].
void readStar(std::string_view fmt, std::size_t& i, bool& fromArgument, std::size_t& argument) {
  ++i;  // '*'
  fromArgument = true;
  std::size_t j = i;
  long long pos = readNumber(fmt, j);
  if (pos > 0 && j < fmt.size() && fmt[j] == '$') {
    argument = static_cast<std::size_t>(pos);
    i = j + 1;
  }
}

}  // namespace

bool parseFormatDirective(std::string_view fmt, std::size_t start, FormatDirective& dir) {
  dir = FormatDirective();
  std::size_t i = start + 1;
  // Positional argument "n$".
  {
    std::size_t j = i;
    long long n = readNumber(fmt, j);
    if (n > 0 && j < fmt.size() && fmt[j] == '$') {
      dir.positional = static_cast<std::size_t>(n);
      i = j + 1;
    }
  }
  for (bool more = true; more && i < fmt.size();) {
    switch (fmt[i]) {
      case '-':
        dir.minus = true, ++i;
        break;
      case '+':
        dir.plus = true, ++i;
        break;
      case ' ':
        dir.space = true, ++i;
        break;
      case '#':
        dir.hash = true, ++i;
        break;
      case '0':
        dir.zero = true, ++i;
        break;
      case '\'':
        dir.quote = true, ++i;
        break;
      default:
        more = false;
    }
  }
  if (i < fmt.size() && fmt[i] == '*') {
    readStar(fmt, i, dir.widthFromArgument, dir.widthArgument);
  } else if (i < fmt.size() && fmt[i] >= '1' && fmt[i] <= '9') {
    dir.width = static_cast<int>(std::min<long long>(readNumber(fmt, i), kMaxWidth));
  }
  if (i < fmt.size() && fmt[i] == '.') {
    ++i;
    if (i < fmt.size() && fmt[i] == '*') {
      readStar(fmt, i, dir.precisionFromArgument, dir.precisionArgument);
    } else {
      dir.precision = static_cast<int>(std::min<long long>(readNumber(fmt, i), kMaxWidth));
    }
  }
  if (i < fmt.size()) {
    char c = fmt[i];
    if ((c == 'h' || c == 'l') && i + 1 < fmt.size() && fmt[i + 1] == c) {
      dir.length = fmt.substr(i, 2);
      i += 2;
    } else if (c == 'h' || c == 'l' || c == 'q' || c == 'j' || c == 'z' || c == 't' || c == 'L') {
      dir.length = fmt.substr(i, 1);
      ++i;
    }
  }
  if (i >= fmt.size()) return false;
  dir.conversion = fmt[i];
  dir.end = i + 1;
  return true;
}

// ---- converting a directive ----

namespace {

// The arguments in the order the directives consume them.
class ArgumentCursor {
 public:
  ArgumentCursor(const FormatArg* args, std::size_t count) : args_(args), count_(count) {}
  // The 1-based argument `position`, or with 0 the next one in order.
  const FormatArg* take(std::size_t position) {
    if (position > 0) return at(position - 1);
    return at(next_++);
  }

 private:
  const FormatArg* at(std::size_t index) const { return index < count_ ? &args_[index] : nullptr; }
  const FormatArg* args_;
  std::size_t count_;
  std::size_t next_ = 0;
};

int intArgument(ArgumentCursor& args, std::size_t position) {
  const FormatArg* a = args.take(position);
  return a ? static_cast<int>(a->asSigned()) : 0;
}

// Widths and precisions that come from arguments, in the order printf takes them.
void resolveStars(Directive& dir, ArgumentCursor& args) {
  if (dir.widthFromArgument) {
    long long w = intArgument(args, dir.widthArgument);
    if (w < 0) {
      dir.minus = true;
      w = w == std::numeric_limits<int>::min() ? kMaxWidth : -w;
    }
    dir.width = static_cast<int>(std::min<long long>(w, kMaxWidth));
  }
  if (dir.precisionFromArgument) {
    long long p = intArgument(args, dir.precisionArgument);
    dir.precision = p < 0 ? -1 : static_cast<int>(std::min<long long>(p, kMaxWidth));
  }
}

// The converters clear in the directive the flags their conversion ignores: it is the caller's
// copy, used once. Copying it instead, right after the parse wrote it field by field, made the
// copy wait for those writes to reach the cache.
void convertSigned(Directive& dir, const FormatArg* a, std::string& out) {
  if (a && !a->isNumeric()) {
    out += pad(a->text(), dir);
    return;
  }
  dir.quote = false;
  long long v = a ? a->asSigned() : 0;
  if (dir.conversion != 'D') v = truncateSigned(v, dir.length);
  if (appendPlainInteger(dir, 'd', v, out)) return;
  out += printfString(dir, "ll", 'd', v);
}

void convertUnsigned(Directive& dir, const FormatArg* a, std::string& out) {
  if (a && !a->isNumeric()) {
    out += pad(a->text(), dir);
    return;
  }
  const char conv = dir.conversion;
  unsigned long long v = a ? a->asUnsigned() : 0;
  char c = conv == 'U' ? 'u' : conv == 'O' ? 'o' : conv;
  if (conv != 'U' && conv != 'O') v = truncateUnsigned(v, dir.length);
  dir.plus = dir.space = dir.quote = false;
  if (appendPlainInteger(dir, c, v, out)) return;
  out += printfString(dir, "ll", c, v);
}

void convertFloating(Directive& dir, const FormatArg* a, std::string& out) {
  if (a && !a->isNumeric()) {
    out += pad(a->text(), dir);
    return;
  }
  dir.quote = false;
  out += printfString(dir, "", dir.conversion, a ? a->asDouble() : 0.0);
}

void convertCharacter(const Directive& dir, const FormatArg* a, std::string& out) {
  std::string ch;
  if (a && a->isNumeric()) {
    unsigned long long v = a->asUnsigned();
    // %c is a byte, %C a UTF-16 unit, %lc a wide character (a code point here).
    char32_t cp = dir.length == "l"       ? static_cast<char32_t>(std::min<unsigned long long>(v, 0x10FFFF))
                  : dir.conversion == 'c' ? static_cast<unsigned char>(v)
                                          : static_cast<char16_t>(v);
    if (cp != 0) str::appendUtf8(ch, cp);
  } else if (a) {
    ch = str::substringToIndex(a->text(), 1);
  }
  out += pad(ch, dir);
}

void convertText(const Directive& dir, const FormatArg* a, std::string& out) {
  std::string text = a ? a->text() : "(null)";
  if (dir.precision >= 0) {
    text = dir.conversion == '@' ? str::substringToIndex(text, static_cast<std::size_t>(dir.precision))
                                 : truncateBytes(text, static_cast<std::size_t>(dir.precision));
  }
  out += pad(std::move(text), dir);
}

void convertPointer(const Directive& dir, const FormatArg* a, std::string& out) {
  const void* p = a ? a->pointer() : nullptr;
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
  out += pad(buf, dir);
}

// Appends what one directive prints; `written` is the directive as it stands in the format.
void convertDirective(Directive& dir, std::string_view written, ArgumentCursor& args, std::string& out) {
  resolveStars(dir, args);
  switch (dir.conversion) {
    case 'd':
    case 'i':
    case 'D':
      return convertSigned(dir, args.take(dir.positional), out);
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'U':
    case 'O':
      return convertUnsigned(dir, args.take(dir.positional), out);
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return convertFloating(dir, args.take(dir.positional), out);
    case 'c':
    case 'C':
      return convertCharacter(dir, args.take(dir.positional), out);
    case 's':
    case 'S':
    case '@':
      return convertText(dir, args.take(dir.positional), out);
    case 'p':
      return convertPointer(dir, args.take(dir.positional), out);
    case 'n':
      args.take(dir.positional);  // never writes through the argument
      return;
    default:
      out.append(written);  // not a conversion: printed as written
  }
}

}  // namespace

// ---- the formatter ----

std::string formatArgs(std::string_view fmt, const FormatArg* args, std::size_t count) {
  std::string out;
  out.reserve(fmt.size() + 16 * count);
  ArgumentCursor cursor(args, count);
  std::size_t i = 0;
  while (i < fmt.size()) {
    std::size_t pct = fmt.find('%', i);
    if (pct == std::string_view::npos) {
      out.append(fmt.substr(i));
      break;
    }
    out.append(fmt.substr(i, pct - i));
    if (pct + 1 >= fmt.size()) {
      out += '%';  // a lone trailing '%'
      break;
    }
    if (fmt[pct + 1] == '%') {
      out += '%';
      i = pct + 2;
      continue;
    }
    Directive dir;
    if (!parseFormatDirective(fmt, pct, dir)) {
      out.append(fmt.substr(pct));  // an unfinished conversion prints as written
      break;
    }
    convertDirective(dir, fmt.substr(pct, dir.end - pct), cursor, out);
    i = dir.end;
  }
  return out;
}

}  // namespace ns::detail
