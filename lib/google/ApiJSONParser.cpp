#include "lib/google/ApiJSONParser.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "lib/google/ApiJSON.h"
#include "platform/core/Str.h"
#include "platform/serialization/CocoaErrors.h"
#include "platform/serialization/JSONSerialization.h"

namespace {

constexpr std::size_t kMaxDepth = 512;

ns::Error readError(const std::string& why, std::optional<std::size_t> index = std::nullopt) {
  ns::Dictionary info;
  info.set(ns::NSDebugDescriptionErrorKey, why);
  info.set(ns::NSLocalizedDescriptionKey,
           "The data couldn’t be read because it isn’t in the correct format.");
  if (index) info.set(ns::NSJSONSerializationErrorIndex, static_cast<unsigned long>(*index));
  return ns::Error(ns::NSCocoaErrorDomain, ns::NSPropertyListReadCorruptError, std::move(info));
}

ns::Error writeError(const std::string& why) {
  ns::Dictionary info;
  info.set(ns::NSDebugDescriptionErrorKey, why);
  info.set(ns::NSLocalizedDescriptionKey,
           "The data couldn’t be written because it isn’t in the correct format.");
  return ns::Error(ns::NSCocoaErrorDomain, ns::NSPropertyListWriteInvalidError, std::move(info));
}

// Builds the tree straight from the parser's events: each container is made when it opens and
// entered into its parent at once, so there is no second pass.
class TreeBuilder : public nlohmann::json::json_sax_t {
 public:
  ns::Value root;
  std::string failure;
  std::string syntaxError;
  std::optional<std::size_t> position;

  bool null() override { return add(ns::Value::null()); }
  bool boolean(bool v) override { return add(ns::Value(v)); }
  bool number_integer(number_integer_t v) override { return add(ns::Value(static_cast<long long>(v))); }
  bool number_unsigned(number_unsigned_t v) override {
    if (v <= static_cast<std::uint64_t>(INT64_MAX)) return add(ns::Value(static_cast<long long>(v)));
    return add(ns::Value(static_cast<unsigned long long>(v)));
  }
  bool number_float(number_float_t v, const string_t& text) override {
    if (!std::isfinite(v)) {
      failure = "Number " + text + " is not representable.";
      return false;
    }
    return add(ns::Value(static_cast<double>(v)));
  }
  bool string(string_t& v) override { return add(ns::Value(std::move(v))); }
  bool binary(binary_t&) override {
    failure = "Binary values are not JSON.";
    return false;
  }
  bool start_object(std::size_t) override {
    if (!enter()) return false;
    auto d = ns::make<ApiJSONDictionary>();
    ApiJSONDictionary* raw = d.get();
    if (!add(ns::Value(std::move(d)))) return false;
    frames_.push_back(Frame{raw, nullptr});
    return true;
  }
  bool key(string_t& k) override {
    key_ = std::move(k);
    return true;
  }
  bool end_object() override {
    frames_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override {
    if (!enter()) return false;
    auto a = ns::make<ApiJSONArray>();
    ApiJSONArray* raw = a.get();
    if (!add(ns::Value(std::move(a)))) return false;
    frames_.push_back(Frame{nullptr, raw});
    return true;
  }
  bool end_array() override {
    frames_.pop_back();
    return true;
  }
  bool parse_error(std::size_t pos, const std::string&, const nlohmann::json::exception& ex) override {
    position = pos > 0 ? pos - 1 : 0;
    std::string what = ex.what();
    auto bracket = what.find("] ");
    syntaxError = bracket == std::string::npos ? what : what.substr(bracket + 2);
    return false;
  }

 private:
  struct Frame {
    ApiJSONDictionary* dictionary;
    ApiJSONArray* array;
  };
  std::vector<Frame> frames_;
  std::string key_;

  bool enter() {
    if (frames_.size() >= kMaxDepth) {
      failure = "Too many nested arrays or dictionaries.";
      return false;
    }
    return true;
  }
  bool add(ns::Value v) {
    if (frames_.empty()) {
      root = std::move(v);
    } else if (frames_.back().dictionary) {
      frames_.back().dictionary->setObject_forKey(std::move(v), key_);
    } else {
      frames_.back().array->addObject(std::move(v));
    }
    return true;
  }
};

class Writer {
 public:
  explicit Writer(bool pretty) : pretty_(pretty) {}
  std::string out;
  std::string failure;

  bool write(const ns::Value& v, std::size_t depth) {
    if (v.isObject()) {
      if (auto* d = dynamic_cast<const ApiJSONDictionary*>(v.object().get())) {
        if (depth >= kMaxDepth) return fail("Too many nested arrays or dictionaries.");
        return writeDictionary(d->entries(), depth);
      }
      if (auto* a = dynamic_cast<const ApiJSONArray*>(v.object().get())) {
        if (depth >= kMaxDepth) return fail("Too many nested arrays or dictionaries.");
        return writeArray(a->items(), depth);
      }
      return fail("Invalid type in JSON write (" + v.object()->className() + ")");
    }
    switch (v.kind()) {
      case ns::Value::Kind::Null:
        out += "null";
        return true;
      case ns::Value::Kind::Number: {
        ns::Number n = v.number();
        if (n.isBool()) {
          out += n.boolValue() ? "true" : "false";
          return true;
        }
        if (n.isFloatingPoint()) {
          double d = n.doubleValue();
          if (std::isnan(d)) return fail("Invalid number value (NaN) in JSON write");
          if (std::isinf(d)) return fail("Invalid number value (infinite) in JSON write");
        }
        out += n.description();
        return true;
      }
      case ns::Value::Kind::String:
        return writeString(v.string());
      case ns::Value::Kind::Array:
        if (depth >= kMaxDepth) return fail("Too many nested arrays or dictionaries.");
        return writeArray(v.array(), depth);
      case ns::Value::Kind::Dictionary: {
        if (depth >= kMaxDepth) return fail("Too many nested arrays or dictionaries.");
        std::vector<std::pair<std::string, ns::Value>> entries;
        for (const auto& [k, value] : v.dictionary()) {
          if (!k.isString()) return fail("Invalid (non-string) key in JSON dictionary");
          entries.emplace_back(k.string(), value);
        }
        return writeDictionary(entries, depth);
      }
      case ns::Value::Kind::Nil:
        return fail("Invalid type in JSON write (nil)");
      case ns::Value::Kind::Data:
        return fail("Invalid type in JSON write (NSData)");
      case ns::Value::Kind::Date:
        return fail("Invalid type in JSON write (NSDate)");
      case ns::Value::Kind::Set:
        return fail("Invalid type in JSON write (NSSet)");
      case ns::Value::Kind::Object:
        break;
    }
    return fail("Invalid type in JSON write");
  }

 private:
  bool pretty_;

  bool fail(std::string why) {
    failure = std::move(why);
    return false;
  }
  void newline(std::size_t depth) {
    if (!pretty_) return;
    out += '\n';
    out.append(depth * 2, ' ');
  }
  bool writeArray(const std::vector<ns::Value>& items, std::size_t depth) {
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
  bool writeDictionary(const std::vector<std::pair<std::string, ns::Value>>& entries, std::size_t depth) {
    if (entries.empty()) {
      out += "{}";
      return true;
    }
    out += '{';
    bool first = true;
    for (const auto& [key, value] : entries) {
      if (!first) out += ',';
      first = false;
      newline(depth + 1);
      if (!writeString(key)) return false;
      out += pretty_ ? " : " : ":";
      if (!write(value, depth + 1)) return false;
    }
    newline(depth);
    out += '}';
    return true;
  }
  // As the platform serialiser writes strings, "/" escaped included.
  bool writeString(const std::string& s) {
    if (!ns::str::isValidUtf8(s)) return fail("Invalid string (not UTF-8) in JSON write");
    ns::detail::appendJSONStringLiteral(out, s, true);
    return true;
  }
};

// Text in UTF-16 or UTF-32 starts with a zero byte among its first bytes (or a byte-order mark
// of those encodings); the platform serialiser reads those, and its result becomes a tree.
bool looksWide(const ns::Data& data) {
  const std::uint8_t* b = data.bytes();
  std::size_t n = data.length();
  if (n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE))) return true;
  return (n >= 2 && (b[0] == 0 || b[1] == 0));
}

}  // namespace

ns::Value ApiJSONParser::objectWithData_error(const ns::Data& data, ns::Error* error) {
  if (data.empty()) {
    ns::setError(error, readError("Unable to parse empty data."));
    return ns::Value();
  }
  if (looksWide(data)) {
    ns::Value plain = ns::JSONSerialization::JSONObjectWithData_options_error(
        data, ns::JSONReadingMutableContainers, error);
    return plain.isNil() ? plain : ApiJSONMutableTree(plain);
  }
  TreeBuilder builder;
  bool ok = false;
  try {
    ok = nlohmann::json::sax_parse(data.view(), &builder, nlohmann::json::input_format_t::json, true, false);
  } catch (const std::exception& e) {
    // The parser reports through the builder; this is a safety net only.
    builder.syntaxError = e.what();
  }
  if (!ok || builder.root.isNil()) {
    if (!builder.failure.empty()) {
      ns::setError(error, readError(builder.failure));
    } else {
      std::string message = builder.syntaxError.empty() ? "The JSON text is not valid." : builder.syntaxError;
      if (builder.position)
        message = "Invalid JSON around character " + std::to_string(*builder.position) + ": " + message;
      ns::setError(error, readError(message, builder.position));
    }
    return ns::Value();
  }
  if (!ApiJSONIsDictionary(builder.root) && !ApiJSONIsArray(builder.root)) {
    ns::setError(
        error,
        readError("JSON text did not start with array or object and option to allow fragments not set.", 0));
    return ns::Value();
  }
  return std::move(builder.root);
}

ns::Value ApiJSONParser::objectWithString_error(const std::string& text, ns::Error* error) {
  return objectWithData_error(ns::Data(text), error);
}

std::optional<ns::Data> ApiJSONParser::dataWithObject_humanReadable_error(const ns::Value& object,
                                                                          bool humanReadable,
                                                                          ns::Error* error) {
  auto text = stringWithObject_humanReadable_error(object, humanReadable, error);
  if (!text) return std::nullopt;
  return ns::Data(*text);
}

std::optional<std::string> ApiJSONParser::stringWithObject_humanReadable_error(const ns::Value& object,
                                                                               bool humanReadable,
                                                                               ns::Error* error) {
  if (object.isNil()) return std::nullopt;
  bool container =
      ApiJSONIsDictionary(object) || ApiJSONIsArray(object) || object.isArray() || object.isDictionary();
  if (!container) {
    ns::setError(error, writeError("Invalid top-level type in JSON write"));
    return std::nullopt;
  }
  Writer writer(humanReadable);
  if (!writer.write(object, 0)) {
    ns::setError(error, writeError(writer.failure));
    return std::nullopt;
  }
  return std::move(writer.out);
}
