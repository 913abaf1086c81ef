#include "platform/serialization/PropertyListSerialization.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/Str.h"
#include "platform/serialization/PropertyListUID.h"

namespace ns {
namespace {

// Deeper nesting than this is refused rather than risking the stack on hostile input.
constexpr int kMaxDepth = 512;

struct PlistDeleter {
  void operator()(void* node) const {
    if (node) plist_free(static_cast<plist_t>(node));
  }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

const char* formatName(PropertyListFormat format) {
  switch (format) {
    case PropertyListXMLFormat_v1_0:
      return "100";
    case PropertyListBinaryFormat_v1_0:
      return "200";
    default:
      return "1";
  }
}

Error writeError(PropertyListFormat format, const std::string& why) {
  Dictionary info;
  std::string text =
      std::string("Property list invalid for format: ") + formatName(format) + " (" + why + ")";
  info.set(NSDebugDescriptionErrorKey, text);
  info.set(NSLocalizedDescriptionKey, "The data couldn’t be written because it isn’t in the correct format.");
  return Error(NSCocoaErrorDomain, NSPropertyListWriteInvalidError, std::move(info));
}

Error readError(const std::string& why) {
  Dictionary info;
  info.set(NSDebugDescriptionErrorKey, why);
  info.set(NSLocalizedDescriptionKey, "The data couldn’t be read because it isn’t in the correct format.");
  return Error(NSCocoaErrorDomain, NSPropertyListReadCorruptError, std::move(info));
}

std::string kindName(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Nil:
      return "nil";
    case Value::Kind::Null:
      return "CFNull";
    case Value::Kind::Set:
      return "NSSet";
    case Value::Kind::Object:
      return v.object()->className();
    default:
      return "value";
  }
}

// libplist 2.2 only builds integers from an unsigned 64-bit pattern and writes them as signed,
// so an unsigned value above the signed range would come out negative. Its XML reader marks
// such a value as unsigned, so we let it build that node.
plist_t newUnsignedAboveSignedRange(std::uint64_t value) {
  std::string xml = "<plist version=\"1.0\"><integer>" + std::to_string(value) + "</integer></plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &node);
  return node;
}

// True when an integer node with the top bit set stands for an unsigned value (it would be
// negative otherwise). The 2.2 interface hides the flag, so ask its XML writer.
bool integerNodeIsUnsigned(plist_t node) {
  PlistPtr copy(plist_copy(node));
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(static_cast<plist_t>(copy.get()), &xml, &length);
  if (!xml) return false;
  std::string text(xml, length);
  plist_to_xml_free(xml);
  auto open = text.find("<integer>");
  return open != std::string::npos && open + 9 < text.size() && text[open + 9] != '-';
}

// The exact seconds of a date node, read from its binary encoding (marker 0x33, then a
// big-endian double).
double exactDate(plist_t node) {
  PlistPtr array(plist_new_array());
  plist_array_append_item(static_cast<plist_t>(array.get()), plist_copy(node));
  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(static_cast<plist_t>(array.get()), &bin, &length);
  double result = 0;
  // "bplist00", the one-element array (0xA1 and its reference), then the date object.
  if (bin && length >= 19 && static_cast<unsigned char>(bin[10]) == 0x33) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | static_cast<unsigned char>(bin[11 + i]);
    std::memcpy(&result, &bits, sizeof result);
  }
  std::free(bin);
  return result;
}

// A date node for a date outside the 32-bit range, built by the library's XML reader.
plist_t newFarDate(const Date& date) {
  double since1970 = std::floor(date.timeIntervalSince1970());
  if (since1970 < -62167219200.0 || since1970 > 253402300799.0) return nullptr;  // years 0 to 9999
  time_t seconds = static_cast<time_t>(since1970);
  struct tm parts {};
  if (!gmtime_r(&seconds, &parts)) return nullptr;
  char text[96];
  std::snprintf(
      text, sizeof text, "<plist version=\"1.0\"><date>%04d-%02d-%02dT%02d:%02d:%02dZ</date></plist>",
      parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  plist_t node = nullptr;
  plist_from_xml(text, static_cast<std::uint32_t>(std::strlen(text)), &node);
  return node;
}

bool validText(const std::string& s, std::string* why) {
  if (s.find('\0') != std::string::npos) {
    *why = "strings cannot contain a NUL character";
    return false;
  }
  if (!str::isValidUtf8(s)) {
    *why = "strings must be valid UTF-8";
    return false;
  }
  return true;
}

plist_t toPlist(const Value& value, PropertyListFormat format, int depth, std::string* why) {
  if (depth > kMaxDepth) {
    *why = "nesting is too deep";
    return nullptr;
  }
  switch (value.kind()) {
    case Value::Kind::Number: {
      Number n = value.number();
      if (n.isBool()) return plist_new_bool(n.boolValue() ? 1 : 0);
      if (n.isFloatingPoint()) return plist_new_real(n.doubleValue());
      if (n.isUnsigned()) {
        std::uint64_t u = n.unsignedLongLongValue();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
          return newUnsignedAboveSignedRange(u);
        return plist_new_uint(u);
      }
      return plist_new_uint(static_cast<std::uint64_t>(n.longLongValue()));
    }
    case Value::Kind::String:
      if (!validText(value.string(), why)) return nullptr;
      return plist_new_string(value.string().c_str());
    case Value::Kind::Data: {
      const Data& d = value.data();
      return plist_new_data(reinterpret_cast<const char*>(d.bytes()), d.length());
    }
    case Value::Kind::Date: {
      double t = value.date().timeIntervalSinceReferenceDate();
      double whole = std::floor(t);
      if (!std::isfinite(t)) {
        *why = "dates must be finite";
        return nullptr;
      }
      if (whole < std::numeric_limits<std::int32_t>::min() + 1.0 ||
          whole > std::numeric_limits<std::int32_t>::max() - 1.0) {
        // Beyond the 32-bit seconds of the 2.2 interface (before 1933 or after 2069): its XML
        // reader keeps such dates whole, to the second.
        plist_t far = newFarDate(value.date());
        if (!far) *why = "dates must lie between the years 0 and 9999";
        return far;
      }
      auto sec = static_cast<std::int64_t>(whole);
      auto usec = static_cast<std::int64_t>(std::llround((t - whole) * 1e6));
      if (usec >= 1000000) {
        sec += 1;
        usec -= 1000000;
      }
      return plist_new_date(static_cast<std::int32_t>(sec), static_cast<std::int32_t>(usec));
    }
    case Value::Kind::Array: {
      PlistPtr array(plist_new_array());
      for (const Value& item : value.array()) {
        plist_t child = toPlist(item, format, depth + 1, why);
        if (!child) return nullptr;
        plist_array_append_item(static_cast<plist_t>(array.get()), child);
      }
      return static_cast<plist_t>(array.release());
    }
    case Value::Kind::Dictionary: {
      PlistPtr dict(plist_new_dict());
      for (const auto& [key, item] : value.dictionary()) {
        if (!key.isString()) {
          *why = "dictionary keys must be strings";
          return nullptr;
        }
        if (!validText(key.string(), why)) return nullptr;
        plist_t child = toPlist(item, format, depth + 1, why);
        if (!child) return nullptr;
        plist_dict_set_item(static_cast<plist_t>(dict.get()), key.string().c_str(), child);
      }
      return static_cast<plist_t>(dict.release());
    }
    case Value::Kind::Object:
      if (auto* uid = PropertyListUID::from(value)) return plist_new_uid(uid->value());
      [[fallthrough]];
    default:
      *why = "property lists cannot contain objects of type '" + kindName(value) + "'";
      return nullptr;
  }
}

// `xml`: read from the XML form, where a UID can only be written as a dictionary.
Value fromPlist(plist_t node, bool xml, int depth, std::string* why) {
  if (depth > kMaxDepth) {
    *why = "nesting is too deep";
    return Value();
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t u = 0;
      plist_get_uint_val(node, &u);
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) &&
          integerNodeIsUnsigned(node))
        return Value(static_cast<unsigned long long>(u));
      return Value(static_cast<long long>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING: {
      // The pointer form: the copying getter asserts (aborts) on a string with a NUL inside.
      std::uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      std::string text = s ? std::string(s, static_cast<std::size_t>(length)) : std::string();
      if (text.find('\0') != std::string::npos || !str::isValidUtf8(text)) {
        *why = "a string is not valid UTF-8 text";
        return Value();
      }
      return Value(std::move(text));
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      CString owned(bytes);
      return Value(Data(bytes, bytes ? static_cast<std::size_t>(length) : 0));
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      // The getter truncates toward zero and drops the sign of the fraction: -99.25 comes back
      // as -99 and 250000. The sign of the whole seconds restores it, except within the second
      // before the reference date, where only the stored double tells.
      // The getter's 32-bit seconds cannot hold dates before 1933 or after 2069 either.
      if ((sec == 0 && usec != 0) || sec <= std::numeric_limits<std::int32_t>::min() + 1 ||
          sec >= std::numeric_limits<std::int32_t>::max() - 1)
        return Value(Date::dateWithTimeIntervalSinceReferenceDate(exactDate(node)));
      double fraction = usec / 1e6;
      return Value(Date::dateWithTimeIntervalSinceReferenceDate(sec < 0 ? sec - fraction : sec + fraction));
    }
    case PLIST_UID: {
      std::uint64_t u = 0;
      plist_get_uid_val(node, &u);
      return PropertyListUID::uid(u);
    }
    case PLIST_ARRAY: {
      Array items;
      std::uint32_t count = plist_array_get_size(node);
      items.reserve(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        plist_t child = plist_array_get_item(node, i);
        if (!child) {
          *why = "an array element is missing";
          return Value();
        }
        Value v = fromPlist(child, xml, depth + 1, why);
        if (v.isNil()) return Value();
        items.push_back(std::move(v));
      }
      return Value(std::move(items));
    }
    case PLIST_DICT: {
      // The XML form writes a UID as a dictionary of the single key CF$UID; the binary form has
      // a UID of its own, so there such a dictionary is one.
      if (xml && plist_dict_get_size(node) == 1) {
        plist_t uidNode = plist_dict_get_item(node, "CF$UID");
        if (uidNode && plist_get_node_type(uidNode) == PLIST_UINT) {
          std::uint64_t u = 0;
          plist_get_uint_val(uidNode, &u);
          if (u <= 0xFFFFFFFFull) return PropertyListUID::uid(u);
        }
      }
      Dictionary dict;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      if (!it) return Value(std::move(dict));
      for (;;) {
        char* key = nullptr;
        plist_t child = nullptr;
        plist_dict_next_item(node, it, &key, &child);
        if (!child) {
          std::free(key);
          break;
        }
        CString owned(key);
        std::string keyText = key ? key : "";
        if (!str::isValidUtf8(keyText)) {
          std::free(it);
          *why = "a dictionary key is not valid UTF-8";
          return Value();
        }
        Value v = fromPlist(child, xml, depth + 1, why);
        if (v.isNil()) {
          std::free(it);
          return Value();
        }
        dict.set(Value(std::move(keyText)), std::move(v));
      }
      std::free(it);
      return Value(std::move(dict));
    }
    default:
      *why = "unexpected node type";
      return Value();
  }
}

// The text between each <tag> and </tag> (empty for <tag/>), without the whitespace around
// it; comments, CDATA sections and processing instructions are passed over, as the reader
// passes over them. An element or section left open ends the walk; the reader reports it.
template <class Check>
bool eachXMLLeaf(std::string_view text, std::string_view tag, Check check) {
  std::string open = "<" + std::string(tag) + ">";
  std::string close = "</" + std::string(tag) + ">";
  std::string empty = "<" + std::string(tag) + "/>";
  constexpr std::pair<std::string_view, std::string_view> kSkipped[] = {
      {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
  std::size_t pos = 0;
  while ((pos = text.find('<', pos)) != std::string_view::npos) {
    std::string_view rest = text.substr(pos);
    bool skipped = false;
    for (const auto& [begin, finish] : kSkipped) {
      if (rest.substr(0, begin.size()) != begin) continue;
      std::size_t e = text.find(finish, pos + begin.size());
      if (e == std::string_view::npos) return true;
      pos = e + finish.size();
      skipped = true;
      break;
    }
    if (skipped) continue;
    if (rest.substr(0, empty.size()) == empty) {
      if (!check(std::string_view())) return false;
      pos += empty.size();
      continue;
    }
    if (rest.substr(0, open.size()) != open) {
      ++pos;
      continue;
    }
    std::size_t start = pos + open.size();
    std::size_t end = text.find(close, start);
    if (end == std::string_view::npos) return true;
    std::string_view leaf = text.substr(start, end - start);
    while (!leaf.empty() && std::isspace(static_cast<unsigned char>(leaf.front()))) leaf.remove_prefix(1);
    while (!leaf.empty() && std::isspace(static_cast<unsigned char>(leaf.back()))) leaf.remove_suffix(1);
    if (!check(leaf)) return false;
    pos = end + close.size();
  }
  return true;
}

// The XML reader saturates integers it cannot hold, decimal or hexadecimal ("0x"), and a
// negative hexadecimal one beyond the signed range comes back with another sign; such text is
// refused here instead of read as a different number.
bool xmlIntegersFit(std::string_view text) {
  return eachXMLLeaf(text, "integer", [](std::string_view digits) {
    bool negative = !digits.empty() && digits[0] == '-';
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (hex) digits.remove_prefix(2);
    while (digits.size() > 1 && digits[0] == '0') digits.remove_prefix(1);
    std::string_view allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.find_first_not_of(allowed) != std::string_view::npos) return true;
    if (hex) {
      if (digits.size() > 16) return false;
      // Sixteen digits fit unsigned; a negative value may reach 0x8000000000000000.
      return !negative || digits.size() < 16 || digits <= "8000000000000000";
    }
    std::string_view limit = negative ? "9223372036854775808" : "18446744073709551615";
    return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
  });
}

// The XML reader turns date text it cannot parse into 1970, moves fields out of range into the
// next month or day, and misreads years beyond four digits or with a sign (its writer leaves
// years before 1000 unpadded); so a date must be a real UTC time,
// year-month-dayThour:minute:second with an optional fraction and Z, or the list is refused.
bool xmlDatesValid(std::string_view text) {
  return eachXMLLeaf(text, "date", [](std::string_view date) {
    if (!date.empty() && date.back() == 'Z') date.remove_suffix(1);
    // Year, month, day, hour, minute, second, each with its separator before it.
    constexpr char separators[] = {0, '-', '-', 'T', ':', ':'};
    int fields[6] = {};
    std::size_t i = 0;
    for (int f = 0; f < 6; ++f) {
      if (f > 0) {
        if (i >= date.size() || date[i] != separators[f]) return false;
        ++i;
      }
      std::size_t start = i;
      while (i < date.size() && i - start < 4 && date[i] >= '0' && date[i] <= '9')
        fields[f] = fields[f] * 10 + (date[i++] - '0');
      std::size_t width = i - start;
      if (width < 1 || width > (f == 0 ? 4u : 2u)) return false;
    }
    // A fraction of a second is read to the whole second.
    if (i + 1 < date.size() && date[i] == '.' &&
        date.find_first_not_of("0123456789", i + 1) == std::string_view::npos)
      i = date.size();
    if (i != date.size()) return false;
    int year = fields[0], month = fields[1], day = fields[2];
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1) return false;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) return false;
    // A leap second reads as the first second of the next minute.
    return fields[3] <= 23 && fields[4] <= 59 && fields[5] <= 60;
  });
}

// libplist's binary reader expands every reference into a copy of the object it names and
// follows nesting down the stack, so a small file whose objects each refer twice to the next
// would grow exponentially, and a long chain of arrays would overflow the stack. The object graph
// is measured here first: the copies it would make and its depth must stay within bounds.
class BinaryPlistShape {
 public:
  explicit BinaryPlistShape(std::string_view bytes) : bytes_(bytes) {}

  // Empty when the reader may be given the data; otherwise why not.
  std::string check() {
    if (bytes_.size() < 8 + 32) return "the binary property list is malformed";
    std::string_view trailer = bytes_.substr(bytes_.size() - 32);
    offsetSize_ = static_cast<unsigned char>(trailer[6]);
    refSize_ = static_cast<unsigned char>(trailer[7]);
    std::uint64_t count = be(trailer.substr(8, 8));
    std::uint64_t root = be(trailer.substr(16, 8));
    offsetTable_ = be(trailer.substr(24, 8));
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || count == 0 || root >= count ||
        offsetTable_ < 8 || offsetTable_ > bytes_.size() - 32 ||
        count > (bytes_.size() - 32 - offsetTable_) / offsetSize_)
      return "the binary property list is malformed";
    count_ = count;
    copies_.assign(count, 0);
    // Sharing is normal (writers store each distinct string once), so the bound scales with the
    // objects the file holds; only a hostile file multiplies them.
    limit_ = std::max<std::uint64_t>(1u << 20, count * 16);
    std::uint64_t total = measure(root, 0);
    return total == 0 ? why_ : std::string();
  }

 private:
  static constexpr std::uint64_t kInProgress = ~std::uint64_t{0};

  static std::uint64_t be(std::string_view field) {
    std::uint64_t v = 0;
    for (char c : field) v = v << 8 | static_cast<unsigned char>(c);
    return v;
  }

  // Records why the data is refused; answers 0, the count that means "refused".
  std::uint64_t fail(const char* why) {
    why_ = why;
    return 0;
  }

  // The same for a check that answers whether the data may be read.
  bool refuse(const char* why) {
    why_ = why;
    return false;
  }

  // The element count of the container marker at `pos`, and where its references start.
  bool containerCount(std::uint64_t pos, std::uint64_t* n, std::uint64_t* refs) {
    unsigned char marker = static_cast<unsigned char>(bytes_[pos]);
    *n = marker & 0x0F;
    *refs = pos + 1;
    if (*n != 0x0F) return true;
    if (pos + 2 > offsetTable_) {
      fail("the binary property list is malformed");
      return false;
    }
    unsigned char intMarker = static_cast<unsigned char>(bytes_[pos + 1]);
    if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) {
      fail("the binary property list is malformed");
      return false;
    }
    std::uint64_t width = std::uint64_t{1} << (intMarker & 0x0F);
    if (pos + 2 + width > offsetTable_) {
      fail("the binary property list is malformed");
      return false;
    }
    *n = be(bytes_.substr(pos + 2, width));
    *refs = pos + 2 + width;
    return true;
  }

  // Whether object `index` can be a dictionary key: the reader asserts (aborts the process) on a
  // key that is no string or holds a NUL.
  bool keyIsText(std::uint64_t index) {
    if (index >= count_) return refuse("the binary property list is malformed");
    std::uint64_t pos = be(bytes_.substr(offsetTable_ + index * offsetSize_, offsetSize_));
    if (pos < 8 || pos >= offsetTable_) return refuse("the binary property list is malformed");
    unsigned char type = static_cast<unsigned char>(bytes_[pos]) & 0xF0;
    if (type != 0x50 && type != 0x60) return refuse("a dictionary key is not a string");
    std::uint64_t n = 0, start = 0;
    if (!containerCount(pos, &n, &start)) return false;
    std::uint64_t width = type == 0x60 ? 2 : 1;
    if (n > (offsetTable_ - start) / width) return refuse("the binary property list is malformed");
    std::string_view text = bytes_.substr(start, n * width);
    bool nul = false;
    if (width == 1) {
      nul = text.find('\0') != std::string_view::npos;
    } else {
      for (std::size_t i = 0; i + 1 < text.size() && !nul; i += 2) nul = text[i] == 0 && text[i + 1] == 0;
    }
    if (nul) return refuse("a dictionary key contains a NUL character");
    return true;
  }

  // Whether the reader would give the integer, date or text at `pos` its own value. It keeps only
  // the low half of a 16-byte integer (2^64 would read as 0, a 128-bit -1 as 2^64 - 1), and
  // turns a date that is no finite time into 1970.
  bool leafReadable(std::uint64_t pos) {
    unsigned char marker = static_cast<unsigned char>(bytes_[pos]);
    if (marker == 0x14) {
      if (pos + 17 > offsetTable_) return refuse("the binary property list is malformed");
      if (be(bytes_.substr(pos + 1, 8)) != 0) return refuse("an integer is too large to represent");
    } else if (marker == 0x33) {
      if (pos + 9 > offsetTable_) return refuse("the binary property list is malformed");
      std::uint64_t bits = be(bytes_.substr(pos + 1, 8));
      double seconds = 0;
      std::memcpy(&seconds, &bits, sizeof seconds);
      if (!std::isfinite(seconds)) return refuse("a date is not a finite time");
    } else if ((marker & 0xF0) == 0x60) {
      // The reader drops a UTF-16 half without its partner, and the text with it would read
      // back shorter than it was: such text is refused, as bytes that are not UTF-8 are.
      std::uint64_t n = 0, start = 0;
      if (!containerCount(pos, &n, &start)) return false;
      if (n > (offsetTable_ - start) / 2) return refuse("the binary property list is malformed");
      for (std::uint64_t i = 0; i < n; ++i) {
        std::uint64_t unit = be(bytes_.substr(start + 2 * i, 2));
        if (unit < 0xD800 || unit > 0xDFFF) continue;
        std::uint64_t next = i + 1 < n ? be(bytes_.substr(start + 2 * (i + 1), 2)) : 0;
        if (unit > 0xDBFF || next < 0xDC00 || next > 0xDFFF)
          return refuse("a string is not valid UTF-16 text");
        ++i;
      }
    }
    return true;
  }

  // The number of nodes the reader would make for object `index`; 0 when refused.
  std::uint64_t measure(std::uint64_t index, int depth) {
    if (depth > kMaxDepth) return fail("nesting is too deep");
    if (index >= count_) return fail("the binary property list is malformed");
    if (copies_[index] == kInProgress) return fail("an array or dictionary contains itself");
    if (copies_[index] != 0) return copies_[index];
    std::uint64_t pos = be(bytes_.substr(offsetTable_ + index * offsetSize_, offsetSize_));
    if (pos < 8 || pos >= offsetTable_) return fail("the binary property list is malformed");
    unsigned char type = static_cast<unsigned char>(bytes_[pos]) & 0xF0;
    if (!leafReadable(pos)) return 0;
    std::uint64_t nodes = 1;
    if (type == 0xA0 || type == 0xC0 || type == 0xD0) {
      std::uint64_t n = 0, refs = 0;
      if (!containerCount(pos, &n, &refs)) return 0;
      std::uint64_t refCount = type == 0xD0 ? 2 * n : n;
      if (n > offsetTable_ || refCount > (offsetTable_ - refs) / refSize_)
        return fail("the binary property list is malformed");
      if (type == 0xD0) {
        for (std::uint64_t i = 0; i < n; ++i) {
          if (!keyIsText(be(bytes_.substr(refs + i * refSize_, refSize_)))) return 0;
        }
      }
      copies_[index] = kInProgress;
      for (std::uint64_t i = 0; i < refCount; ++i) {
        std::uint64_t child = measure(be(bytes_.substr(refs + i * refSize_, refSize_)), depth + 1);
        if (child == 0) return 0;
        nodes += child;
        if (nodes > limit_) return fail("the property list refers to its objects too many times");
      }
    }
    copies_[index] = nodes;
    return nodes;
  }

  std::string_view bytes_;
  unsigned offsetSize_ = 0;
  unsigned refSize_ = 0;
  std::uint64_t offsetTable_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t limit_ = 0;
  std::vector<std::uint64_t> copies_;
  std::string why_;
};

// libplist's XML reader builds the tree recursively and frees it the same way, so deep nesting
// must be refused before it starts; and it cuts a key short at a raw NUL, which no XML document
// may hold. One pass over the text checks both. Comments, CDATA sections, processing
// instructions and the document type are skipped, so a close tag inside them cannot hide real
// nesting; one that is never closed is malformed.
std::string checkXMLShape(std::string_view text) {
  constexpr const char* malformed = "the XML property list is malformed";
  if (text.find('\0') != std::string_view::npos) return "the XML property list contains a NUL character";
  // The plist element and a leaf add two levels to the nesting of arrays and dictionaries.
  constexpr int kMaxElementDepth = kMaxDepth + 2;
  int depth = 0;
  std::size_t i = 0;
  auto skipPast = [&](std::string_view end, std::size_t from) {
    std::size_t e = text.find(end, from);
    i = e == std::string_view::npos ? e : e + end.size();
    return e != std::string_view::npos;
  };
  while ((i = text.find('<', i)) != std::string_view::npos) {
    std::string_view rest = text.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      if (!skipPast("-->", i + 4)) return malformed;
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      if (!skipPast("]]>", i + 9)) return malformed;
    } else if (rest.substr(0, 2) == "<?") {
      if (!skipPast("?>", i + 2)) return malformed;
    } else {
      // A tag, or a declaration with an internal subset in brackets; quoted text may hold '>'.
      bool declaration = rest.substr(0, 2) == "<!";
      int brackets = 0;
      char quote = 0;
      std::size_t j = i + 1;
      for (; j < text.size(); ++j) {
        char c = text[j];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (declaration && c == '[') {
          ++brackets;
        } else if (declaration && c == ']') {
          --brackets;
        } else if (c == '>' && brackets <= 0) {
          break;
        }
      }
      if (j >= text.size()) return malformed;
      if (!declaration) {
        if (rest.size() > 1 && rest[1] == '/') {
          --depth;
        } else if (text[j - 1] != '/' && ++depth > kMaxElementDepth) {
          return "nesting is too deep";
        }
      }
      i = j + 1;
    }
    if (i == std::string_view::npos) break;
  }
  return {};
}

bool looksLikeXML(const Data& data) {
  std::string_view v = data.view();
  if (v.substr(0, 3) == "\xEF\xBB\xBF") v.remove_prefix(3);
  std::size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || v[i] == '\t' || v[i] == '\r' || v[i] == '\n')) ++i;
  return i < v.size() && v[i] == '<';
}

}  // namespace

std::optional<Data> PropertyListSerialization::dataWithPropertyList_format_options_error(
    const Value& plist, PropertyListFormat format, unsigned /*options*/, Error* error) {
  if (format != PropertyListXMLFormat_v1_0 && format != PropertyListBinaryFormat_v1_0) {
    setError(error, writeError(format, "only the XML and binary forms can be written"));
    return std::nullopt;
  }
  std::string why;
  PlistPtr root(toPlist(plist, format, 0, &why));
  if (!root) {
    setError(error, writeError(format, why.empty() ? "the value cannot be stored" : why));
    return std::nullopt;
  }
  char* out = nullptr;
  std::uint32_t length = 0;
  if (format == PropertyListXMLFormat_v1_0) {
    plist_to_xml(static_cast<plist_t>(root.get()), &out, &length);
  } else {
    plist_to_bin(static_cast<plist_t>(root.get()), &out, &length);
  }
  if (!out) {
    setError(error, writeError(format, "the property list could not be encoded"));
    return std::nullopt;
  }
  Data data(out, length);
  std::free(out);
  return data;
}

Value PropertyListSerialization::propertyListWithData_options_format_error(const Data& data,
                                                                           unsigned /*options*/,
                                                                           PropertyListFormat* format,
                                                                           Error* error) {
  if (data.length() > std::numeric_limits<std::uint32_t>::max()) {
    setError(error, readError("the property list is too large"));
    return Value();
  }
  auto length = static_cast<std::uint32_t>(data.length());
  const char* bytes = reinterpret_cast<const char*>(data.bytes());
  plist_t raw = nullptr;
  PropertyListFormat found;
  if (length >= 8 && plist_is_binary(bytes, length)) {
    found = PropertyListBinaryFormat_v1_0;
    std::string refused = BinaryPlistShape(data.view()).check();
    if (!refused.empty()) {
      setError(error, readError(refused));
      return Value();
    }
    plist_from_bin(bytes, length, &raw);
  } else if (looksLikeXML(data)) {
    found = PropertyListXMLFormat_v1_0;
    std::string refused = checkXMLShape(data.view());
    if (!refused.empty()) {
      setError(error, readError(refused));
      return Value();
    }
    if (!xmlIntegersFit(data.view())) {
      setError(error, readError("an integer is too large to represent"));
      return Value();
    }
    if (!xmlDatesValid(data.view())) {
      setError(error, readError("a date is not a valid time"));
      return Value();
    }
    plist_from_xml(bytes, length, &raw);
  } else {
    setError(error, readError("the data is neither an XML nor a binary property list"));
    return Value();
  }
  PlistPtr root(raw);
  if (!root) {
    setError(error, readError(found == PropertyListXMLFormat_v1_0 ? "the XML property list is malformed"
                                                                  : "the binary property list is malformed"));
    return Value();
  }
  std::string why;
  Value result = fromPlist(static_cast<plist_t>(root.get()), found == PropertyListXMLFormat_v1_0, 0, &why);
  if (result.isNil()) {
    setError(error, readError(why.empty() ? "the property list is malformed" : why));
    return Value();
  }
  if (format) *format = found;
  return result;
}

bool PropertyListSerialization::propertyList_isValidForFormat(const Value& plist, PropertyListFormat format) {
  if (format != PropertyListXMLFormat_v1_0 && format != PropertyListBinaryFormat_v1_0) return false;
  std::string why;
  PlistPtr root(toPlist(plist, format, 0, &why));
  return root != nullptr;
}

}  // namespace ns
