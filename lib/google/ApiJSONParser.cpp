#include "lib/google/ApiJSONParser.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "lib/google/ApiJSON.h"
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
  if (ns::detail::refuseNulInJSONText(data.view(), error)) return ns::Value();
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
  // The platform serialiser writes the plain copy; a container past the depth it allows is
  // copied empty, which it still refuses as too deep.
  return ns::JSONSerialization::stringWithJSONObject(
      ApiJSONSnapshot(object, kMaxDepth), humanReadable ? ns::JSONWritingPrettyPrinted : 0u, error);
}
