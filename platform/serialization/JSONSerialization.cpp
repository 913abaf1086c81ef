#include "platform/serialization/JSONSerialization.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core/Str.h"

namespace ns {
namespace {

constexpr std::size_t kMaxDepth = 512;

Error readError(const std::string& why, std::optional<std::size_t> index = std::nullopt) {
  Dictionary info;
  info.set(NSDebugDescriptionErrorKey, why);
  info.set(NSLocalizedDescriptionKey, "The data couldn’t be read because it isn’t in the correct format.");
  if (index) info.set(NSJSONSerializationErrorIndex, static_cast<unsigned long>(*index));
  return Error(NSCocoaErrorDomain, NSPropertyListReadCorruptError, std::move(info));
}

Error writeError(const std::string& why) {
  Dictionary info;
  info.set(NSDebugDescriptionErrorKey, why);
  info.set(NSLocalizedDescriptionKey, "The data couldn’t be written because it isn’t in the correct format.");
  return Error(NSCocoaErrorDomain, NSPropertyListWriteInvalidError, std::move(info));
}

// Builds Values straight from the parser's events, without an intermediate document.
class ValueBuilder : public nlohmann::json::json_sax_t {
 public:
  Value root;
  std::string failure;      // our own reason to stop (depth, non-finite number)
  std::string syntaxError;  // the parser's complaint
  std::optional<std::size_t> position;

  bool null() override { return add(Value::null()); }
  bool boolean(bool v) override { return add(Value(v)); }
  bool number_integer(number_integer_t v) override { return add(Value(static_cast<long long>(v))); }
  bool number_unsigned(number_unsigned_t v) override {
    if (v <= static_cast<std::uint64_t>(INT64_MAX)) return add(Value(static_cast<long long>(v)));
    return add(Value(static_cast<unsigned long long>(v)));
  }
  bool number_float(number_float_t v, const string_t& text) override {
    if (!std::isfinite(v)) {
      failure = "Number " + text + " is not representable.";
      return false;
    }
    return add(Value(static_cast<double>(v)));
  }
  bool string(string_t& v) override { return add(Value(std::move(v))); }
  bool binary(binary_t&) override {
    failure = "Binary values are not JSON.";
    return false;
  }
  bool start_object(std::size_t) override {
    if (!enter()) return false;
    frames_.push_back(Frame{true, {}, {}, {}});
    return true;
  }
  bool key(string_t& k) override {
    frames_.back().key = std::move(k);
    return true;
  }
  bool end_object() override { return leave(); }
  bool start_array(std::size_t) override {
    if (!enter()) return false;
    frames_.push_back(Frame{false, {}, {}, {}});
    return true;
  }
  bool end_array() override { return leave(); }
  bool parse_error(std::size_t pos, const std::string&, const nlohmann::json::exception& ex) override {
    position = pos > 0 ? pos - 1 : 0;
    std::string what = ex.what();
    auto bracket = what.find("] ");
    syntaxError = bracket == std::string::npos ? what : what.substr(bracket + 2);
    return false;
  }

 private:
  struct Frame {
    bool isObject;
    Array array;
    Dictionary dictionary;
    std::string key;
  };
  std::vector<Frame> frames_;

  bool enter() {
    if (frames_.size() >= kMaxDepth) {
      failure = "Too many nested arrays or dictionaries.";
      return false;
    }
    return true;
  }
  bool add(Value v) {
    if (frames_.empty()) {
      root = std::move(v);
    } else if (frames_.back().isObject) {
      frames_.back().dictionary.set(Value(std::move(frames_.back().key)), std::move(v));
      frames_.back().key.clear();
    } else {
      frames_.back().array.push_back(std::move(v));
    }
    return true;
  }
  bool leave() {
    Frame frame = std::move(frames_.back());
    frames_.pop_back();
    return add(frame.isObject ? Value(std::move(frame.dictionary)) : Value(std::move(frame.array)));
  }
};

// JSON text may come in UTF-16 or UTF-32 (told apart by the zero bytes of its first
// characters); the parser wants UTF-8.
std::optional<std::string> asUtf8(const Data& data, std::string* why) {
  const std::uint8_t* b = data.bytes();
  std::size_t n = data.length();
  auto utf16 = [&](bool bigEndian, std::size_t skip) {
    std::u16string units;
    for (std::size_t i = skip; i + 1 < n; i += 2)
      units.push_back(static_cast<char16_t>(bigEndian ? (b[i] << 8 | b[i + 1]) : (b[i + 1] << 8 | b[i])));
    return str::toUtf8(units);
  };
  auto utf32 = [&](bool bigEndian, std::size_t skip) -> std::optional<std::string> {
    std::string out;
    for (std::size_t i = skip; i + 3 < n; i += 4) {
      std::uint32_t c = bigEndian ? (std::uint32_t(b[i]) << 24 | b[i + 1] << 16 | b[i + 2] << 8 | b[i + 3])
                                  : (std::uint32_t(b[i + 3]) << 24 | b[i + 2] << 16 | b[i + 1] << 8 | b[i]);
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        *why = "Invalid UTF-32 text.";
        return std::nullopt;
      }
      str::appendUtf8(out, static_cast<char32_t>(c));
    }
    return out;
  };
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) return utf32(true, 4);
  if (n >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0) return utf32(false, 4);
  if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) return utf16(true, 2);
  if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) return utf16(false, 2);
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0) return utf32(true, 0);
  if (n >= 4 && b[1] == 0 && b[2] == 0 && b[3] == 0) return utf32(false, 0);
  if (n >= 2 && b[0] == 0) return utf16(true, 0);
  if (n >= 2 && b[1] == 0) return utf16(false, 0);
  return std::string(data.view());
}

// A double's text as its description gives it (16 digits) when that reads back as the same
// double, else with the 17 digits that always do: 0.30000000000000004 would otherwise come back
// as 0.3, and the largest double as a number too large to read at all.
std::string roundTripText(double d, std::string text) {
  double back = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
  if (ec == std::errc() && end == text.data() + text.size() && back == d) return text;
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, 17);
  return std::string(buffer, result.ptr);
}

class Writer {
 public:
  Writer(unsigned options) : options_(options) {}
  std::string out;
  std::string failure;

  bool write(const Value& v, std::size_t depth) {
    // As the reader counts: at most kMaxDepth arrays and dictionaries inside one another.
    if ((v.isArray() || v.isDictionary()) && depth >= kMaxDepth)
      return fail("Too many nested arrays or dictionaries.");
    switch (v.kind()) {
      case Value::Kind::Null:
        out += "null";
        return true;
      case Value::Kind::Number: {
        Number n = v.number();
        if (n.isBool()) {
          out += n.boolValue() ? "true" : "false";
          return true;
        }
        if (n.isFloatingPoint()) {
          double d = n.doubleValue();
          if (std::isnan(d)) return fail("Invalid number value (NaN) in JSON write");
          if (std::isinf(d)) return fail("Invalid number value (infinite) in JSON write");
          if (n.kind() == Number::Kind::Double) {
            out += roundTripText(d, n.description());
            return true;
          }
        }
        out += n.description();
        return true;
      }
      case Value::Kind::String:
        return writeString(v.string());
      case Value::Kind::Array: {
        const Array& items = v.array();
        if (items.empty()) {
          out += "[]";
          return true;
        }
        out += '[';
        for (std::size_t i = 0; i < items.size(); ++i) {
          if (i) out += ',';
          newline(depth + 1);
          if (!write(items[i], depth + 1)) return false;
        }
        newline(depth);
        out += ']';
        return true;
      }
      case Value::Kind::Dictionary: {
        const Dictionary& dict = v.dictionary();
        if (dict.empty()) {
          out += "{}";
          return true;
        }
        std::vector<const Dictionary::Entry*> entries;
        for (const auto& e : dict.entries()) {
          if (!e.first.isString()) return fail("Invalid (non-string) key in JSON dictionary");
          entries.push_back(&e);
        }
        if (options_ & JSONWritingSortedKeys) {
          std::stable_sort(entries.begin(), entries.end(), [](auto* a, auto* b) {
            return str::compare(a->first.string(), b->first.string()) == OrderedAscending;
          });
        }
        out += '{';
        bool first = true;
        for (auto* e : entries) {
          if (!first) out += ',';
          first = false;
          newline(depth + 1);
          if (!writeString(e->first.string())) return false;
          out += pretty() ? " : " : ":";
          if (!write(e->second, depth + 1)) return false;
        }
        newline(depth);
        out += '}';
        return true;
      }
      case Value::Kind::Nil:
        return fail("Invalid type in JSON write (nil)");
      case Value::Kind::Data:
        return fail("Invalid type in JSON write (NSData)");
      case Value::Kind::Date:
        return fail("Invalid type in JSON write (NSDate)");
      case Value::Kind::Set:
        return fail("Invalid type in JSON write (NSSet)");
      case Value::Kind::Object:
        return fail("Invalid type in JSON write (" + v.object()->className() + ")");
    }
    return fail("Invalid type in JSON write");
  }

 private:
  unsigned options_;

  bool pretty() const { return options_ & JSONWritingPrettyPrinted; }
  bool fail(std::string why) {
    failure = std::move(why);
    return false;
  }
  void newline(std::size_t depth) {
    if (!pretty()) return;
    out += '\n';
    out.append(depth * 2, ' ');
  }
  bool writeString(const std::string& s) {
    if (!str::isValidUtf8(s)) return fail("Invalid string (not UTF-8) in JSON write");
    ns::detail::appendJSONStringLiteral(out, s, !(options_ & JSONWritingWithoutEscapingSlashes));
    return true;
  }
};

}  // namespace

bool detail::refuseNulInJSONText(std::string_view text, Error* error) {
  auto at = text.find('\0');
  if (at == std::string_view::npos) return false;
  setError(error,
           readError("Invalid JSON around character " + std::to_string(at) + ": a NUL byte is not JSON text.",
                     at));
  return true;
}

bool JSONSerialization::isValidJSONObject(const Value& value, unsigned options) {
  if (!(options & JSONWritingFragmentsAllowed) && !value.isArray() && !value.isDictionary()) return false;
  Writer writer(0);
  return writer.write(value, 0);
}

Value JSONSerialization::JSONObjectWithData_options_error(const Data& data, unsigned options, Error* error) {
  if (data.empty()) {
    setError(error, readError("Unable to parse empty data."));
    return Value();
  }
  std::string why;
  std::optional<std::string> text = asUtf8(data, &why);
  if (!text) {
    setError(error, readError(why));
    return Value();
  }
  if (detail::refuseNulInJSONText(*text, error)) return Value();
  ValueBuilder builder;
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(*text, &builder, nlohmann::json::input_format_t::json, true, false);
  } catch (const std::exception& e) {
    // The parser reports through the builder; this is a safety net only.
    builder.syntaxError = e.what();
  }
  if (!ok || builder.root.isNil()) {
    if (!builder.failure.empty()) {
      setError(error, readError(builder.failure));
    } else {
      std::string message = builder.syntaxError.empty() ? "The JSON text is not valid." : builder.syntaxError;
      if (builder.position)
        message = "Invalid JSON around character " + std::to_string(*builder.position) + ": " + message;
      setError(error, readError(message, builder.position));
    }
    return Value();
  }
  if (!(options & JSONReadingFragmentsAllowed) && !builder.root.isArray() && !builder.root.isDictionary()) {
    setError(
        error,
        readError("JSON text did not start with array or object and option to allow fragments not set.", 0));
    return Value();
  }
  return std::move(builder.root);
}

std::optional<Data> JSONSerialization::dataWithJSONObject_options_error(const Value& value, unsigned options,
                                                                        Error* error) {
  auto text = stringWithJSONObject(value, options, error);
  if (!text) return std::nullopt;
  return Data(*text);
}

std::optional<std::string> JSONSerialization::stringWithJSONObject(const Value& value, unsigned options,
                                                                   Error* error) {
  if (!(options & JSONWritingFragmentsAllowed) && !value.isArray() && !value.isDictionary()) {
    setError(error, writeError("Invalid top-level type in JSON write"));
    return std::nullopt;
  }
  Writer writer(options);
  if (!writer.write(value, 0)) {
    setError(error, writeError(writer.failure));
    return std::nullopt;
  }
  return std::move(writer.out);
}

namespace detail {

void appendJSONStringLiteral(std::string& out, std::string_view utf8, bool escapeSlashes) {
  out += '"';
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '/':
        out += escapeSlashes ? "\\/" : "/";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          static const char hex[] = "0123456789abcdef";
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

}  // namespace detail

}  // namespace ns
