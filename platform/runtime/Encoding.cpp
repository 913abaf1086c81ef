#include "platform/runtime/Encoding.h"

#include <cctype>
#include <cstring>

#include "platform/runtime/Raise.h"

namespace ns::runtime {
namespace {

constexpr int kMaxDepth = 64;  // hostile encodings must not exhaust the stack
constexpr std::size_t kMaxSize = std::size_t(1) << 40;

bool isQualifier(char c) {
  return c == 'r' || c == 'n' || c == 'N' || c == 'o' || c == 'O' || c == 'R' || c == 'V' || c == 'A' ||
         c == '!';
}

std::size_t roundUp(std::size_t v, std::size_t a) {
  return a == 0 ? v : (v + a - 1) / a * a;
}

struct Parser {
  std::string_view s;
  std::size_t pos = 0;

  char peek(std::size_t ahead = 0) const { return pos + ahead < s.size() ? s[pos + ahead] : '\0'; }

  bool number(std::size_t& value) {
    if (!std::isdigit(static_cast<unsigned char>(peek()))) return false;
    value = 0;
    while (std::isdigit(static_cast<unsigned char>(peek()))) {
      value = value * 10 + static_cast<std::size_t>(peek() - '0');
      if (value > kMaxSize) return false;
      ++pos;
    }
    return true;
  }

  // Skips a quoted name ("...") when one starts here.
  bool quoted() {
    if (peek() != '"') return true;
    auto end = s.find('"', pos + 1);
    if (end == std::string_view::npos) return false;
    pos = end + 1;
    return true;
  }

  // Parses one type, qualifiers included, into normalized text, size and alignment.
  bool type(std::string& norm, std::size_t& size, std::size_t& align, int depth) {
    if (depth > kMaxDepth) return false;
    while (isQualifier(peek())) ++pos;
    char c = peek();
    if (c == '\0') return false;
    ++pos;
    if (scalar(c, size, align)) {
      norm += c;
      return true;
    }
    switch (c) {
      case '@':
        return object(norm, size, align);
      case '^':
        return pointer(norm, size, align, depth);
      case 'j':
        return complex(norm, size, align, depth);
      case 'b':
        return bitField(norm, size, align);
      case '[':
        return array(norm, size, align, depth);
      case '{':
      case '(':
        return aggregate(c, norm, size, align, depth);
      default:
        return false;
    }
  }

  // A type written as its one letter alone: numbers, void, unknown, strings, selectors, classes.
  static bool scalar(char c, std::size_t& size, std::size_t& align) {
    switch (c) {
      case 'c':
      case 'C':
      case 'B':
        size = align = 1;
        return true;
      case 's':
      case 'S':
        size = align = 2;
        return true;
      case 'i':
      case 'I':
      case 'l':
      case 'L':
      case 'f':
        size = align = 4;
        return true;
      case 'q':
      case 'Q':
      case 'd':
        size = align = 8;
        return true;
      case 'D':
        size = align = 16;
        return true;
      case 'v':
      case '?':
        size = 0;
        align = 1;
        return true;
      case '*':
      case ':':
      case '#':
      case '%':
        size = align = 8;
        return true;
      default:
        return false;
    }
  }

  // After '@': an object, optionally with its class name in quotes, or a block ("@?"), whose
  // extended signature in angle brackets is skipped.
  bool object(std::string& norm, std::size_t& size, std::size_t& align) {
    size = align = 8;
    if (peek() == '?') {
      ++pos;
      norm += "@?";
      if (peek() == '<') {  // extended block signature
        int nesting = 0;
        do {
          if (peek() == '\0') return false;
          if (peek() == '<') ++nesting;
          if (peek() == '>') --nesting;
          ++pos;
        } while (nesting > 0);
      }
      return true;
    }
    norm += '@';
    return quoted();
  }

  // After '^': the pointee is parsed for validity only.
  bool pointer(std::string& norm, std::size_t& size, std::size_t& align, int depth) {
    std::string inner;
    std::size_t isz = 0, ial = 1;
    if (!type(inner, isz, ial, depth + 1)) return false;
    size = align = 8;
    norm += "^v";  // every pointer has one layout
    return true;
  }

  // After 'j': a complex number, two of its element type.
  bool complex(std::string& norm, std::size_t& size, std::size_t& align, int depth) {
    std::string inner;
    std::size_t isz = 0, ial = 1;
    if (!type(inner, isz, ial, depth + 1)) return false;
    size = isz * 2;
    align = ial;
    norm += 'j';
    norm += inner;
    return true;
  }

  // After 'b': a bit field of the given width.
  bool bitField(std::string& norm, std::size_t& size, std::size_t& align) {
    std::size_t bits = 0;
    if (!number(bits) || bits > 64 * 8) return false;
    size = (bits + 7) / 8;
    align = 1;
    norm += 'b';
    norm += std::to_string(bits);
    return true;
  }

  // After '[': the count, the element type and ']'.
  bool array(std::string& norm, std::size_t& size, std::size_t& align, int depth) {
    std::size_t count = 0;
    if (!number(count)) return false;
    std::string inner;
    std::size_t esz = 0, eal = 1;
    if (!type(inner, esz, eal, depth + 1)) return false;
    if (peek() != ']') return false;
    ++pos;
    if (esz != 0 && count > kMaxSize / esz) return false;
    size = esz * count;
    align = eal;
    norm += '[' + std::to_string(count) + inner + ']';
    return true;
  }

  // After '{' (structure) or '(' (union): the tag, then optionally '=' and the fields, then the
  // closing bracket. The tag is dropped from the normalized text.
  bool aggregate(char open, std::string& norm, std::size_t& size, std::size_t& align, int depth) {
    const char close = open == '{' ? '}' : ')';
    if (!skipTag(close)) return false;
    norm += open;
    norm += '=';
    size = 0;
    align = 1;
    if (peek() == '=') {
      ++pos;
      if (!fields(open == '(', close, norm, size, align, depth)) return false;
    }
    ++pos;  // the closing bracket
    size = roundUp(size, align);
    norm += close;
    return true;
  }

  // The tag runs to '=' or to the closing bracket; nested brackets belong to templates.
  bool skipTag(char close) {
    int nesting = 0;
    while (true) {
      char t = peek();
      if (t == '\0') return false;
      if (nesting == 0 && (t == '=' || t == close)) return true;
      if (t == '<') ++nesting;
      if (t == '>') --nesting;
      ++pos;
    }
  }

  // The fields up to the closing bracket, each optionally named in quotes. A union is as large
  // as its largest field; a structure lays its fields out in order, each at its alignment.
  bool fields(bool isUnion, char close, std::string& norm, std::size_t& size, std::size_t& align, int depth) {
    std::size_t offset = 0, bits = 0;
    while (peek() != close) {
      if (peek() == '\0') return false;
      if (!quoted()) return false;
      if (peek() == close) break;
      std::string field;
      std::size_t fsz = 0, fal = 1;
      bool bitfield = peek() == 'b';
      if (!type(field, fsz, fal, depth + 1)) return false;
      norm += field;
      if (isUnion) {
        size = std::max(size, fsz);
        align = std::max(align, fal);
        continue;
      }
      if (bitfield) {  // consecutive bit fields share storage
        bits += std::stoul(field.substr(1));
        continue;
      }
      offset += (bits + 7) / 8;
      bits = 0;
      offset = roundUp(offset, fal) + fsz;
      align = std::max(align, fal);
      if (offset > kMaxSize) return false;
    }
    if (!isUnion) size = offset + (bits + 7) / 8;
    return true;
  }

  int offset() {
    bool negative = false;
    if (peek() == '-' && std::isdigit(static_cast<unsigned char>(peek(1)))) {
      negative = true;
      ++pos;
    }
    std::size_t v = 0;
    if (!number(v)) return 0;
    return negative ? -static_cast<int>(v) : static_cast<int>(v);
  }
};

}  // namespace

std::size_t parseType(std::string_view text, EncodedType& out) {
  Parser p{text};
  std::string norm;
  std::size_t size = 0, align = 1;
  if (!p.type(norm, size, align, 0)) return 0;
  std::size_t typeEnd = p.pos;
  int off = p.offset();
  out.text = std::string(text.substr(0, typeEnd));
  out.normalized = std::move(norm);
  out.size = size;
  out.alignment = align == 0 ? 1 : align;
  out.offset = off;
  return p.pos;
}

bool parseSignature(std::string_view text, std::vector<EncodedType>& out) {
  out.clear();
  while (!text.empty()) {
    EncodedType t;
    std::size_t used = parseType(text, t);
    if (used == 0) return false;
    out.push_back(std::move(t));
    text.remove_prefix(used);
  }
  return !out.empty();
}

std::string normalizeEncoding(std::string_view text) {
  std::vector<EncodedType> types;
  if (!parseSignature(text, types)) return {};
  std::string result;
  for (auto& t : types) result += t.normalized;
  return result;
}

std::string_view stripQualifiers(std::string_view type) {
  while (!type.empty() && isQualifier(type.front())) type.remove_prefix(1);
  return type;
}

bool isObjectType(std::string_view n) {
  return n == "@" || n == "@?" || n == "#";
}

bool isArithmeticType(std::string_view n) {
  return n.size() == 1 && std::strchr("cCBsSiIlLqQfdD", n[0]) != nullptr;
}

bool isFloatingType(std::string_view n) {
  return n == "f" || n == "d" || n == "D";
}

TypeMatch matchTypes(std::string_view from, std::string_view to) {
  if (from == to) return TypeMatch::same;
  if ((from == "@" || from == "@?") && (to == "@" || to == "@?")) return TypeMatch::convertible;
  if (isArithmeticType(from) && isArithmeticType(to) && to != "D" && from != "D") {
    // Numbers widen or change kind by value; a floating value never silently becomes an integer.
    if (isFloatingType(from) && !isFloatingType(to)) return TypeMatch::mismatch;
    return TypeMatch::convertible;
  }
  return TypeMatch::mismatch;
}

}  // namespace ns::runtime

namespace ns {

const char* NSGetSizeAndAlignment(const char* typePtr, std::size_t* sizep, std::size_t* alignp) {
  if (!typePtr) runtime::raise("NSInvalidArgumentException", "NSGetSizeAndAlignment: null type");
  runtime::EncodedType t;
  std::size_t used = runtime::parseType(typePtr, t);
  if (used == 0) {
    runtime::raise("NSInvalidArgumentException",
                   std::string("NSGetSizeAndAlignment: unsupported type encoding '") + typePtr + "'");
  }
  if (sizep) *sizep = t.size;
  if (alignp) *alignp = t.alignment;
  return typePtr + used;
}

}  // namespace ns
