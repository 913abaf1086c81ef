#include "lib/http-server/Core/Mime/MultipartMessageHeader.h"

#include <cstring>

#include "lib/http-server/Core/HTTPLogging.h"
#include "platform/core/Str.h"

namespace {

constexpr std::uint64_t kLogLevel = HTTP_LOG_LEVEL_RESPONSE;

std::optional<std::string> asASCII(const std::uint8_t* bytes, std::size_t length) {
  return decodeFormText(bytes, length, FormEncoding::ASCII);
}

std::string lossyASCII(const std::uint8_t* bytes, std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += bytes[i] < 0x80 ? static_cast<char>(bytes[i]) : '?';
  return text;
}

long indexOfByte(const std::uint8_t* bytes, std::size_t length, std::uint8_t byte) {
  const void* at = length ? std::memchr(bytes, byte, length) : nullptr;
  return at ? static_cast<const std::uint8_t*>(at) - bytes : -1;
}

bool isHeaderSpace(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A parameter value: a quoted one loses its quotes, then backslashes escape the next character.
std::optional<std::string> extractParamValue(const std::uint8_t* bytes, std::size_t length,
                                             FormEncoding encoding) {
  if (length == 0) return std::nullopt;
  if (bytes[0] == '"') {
    // A lone quote leaves nothing between the quotes.
    if (length < 2) return std::string();
    ++bytes;
    length -= 2;
  }
  auto text = decodeFormText(bytes, length, encoding);
  if (!text) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] == '\\') {
      if (++i >= text->size()) break;
    }
    out += (*text)[i];
  }
  return out;
}

}  // namespace

std::optional<std::string> decodeFormText(const std::uint8_t* bytes, std::size_t length,
                                          FormEncoding encoding) {
  switch (encoding) {
    case FormEncoding::UTF8:
      if (!ns::str::isValidUtf8({reinterpret_cast<const char*>(bytes), length})) return std::nullopt;
      return std::string(reinterpret_cast<const char*>(bytes), length);
    case FormEncoding::ASCII:
      for (std::size_t i = 0; i < length; ++i)
        if (bytes[i] >= 0x80) return std::nullopt;
      return std::string(reinterpret_cast<const char*>(bytes), length);
    case FormEncoding::ISOLatin1: {
      std::string out;
      for (std::size_t i = 0; i < length; ++i) {
        if (bytes[i] < 0x80) {
          out += static_cast<char>(bytes[i]);
        } else {
          out += static_cast<char>(0xC0 | (bytes[i] >> 6));
          out += static_cast<char>(0x80 | (bytes[i] & 0x3F));
        }
      }
      return out;
    }
  }
  return std::nullopt;
}

ns::Ref<MultipartMessageHeaderField> MultipartMessageHeaderField::initWithData_contentEncoding(
    const ns::Data& data, FormEncoding encoding) {
  const std::uint8_t* bytes = data.bytes();
  const std::size_t n = data.length();
  long colon = indexOfByte(bytes, n, ':');
  if (colon < 0 || static_cast<std::size_t>(colon) + 2 >= n) {
    HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: Bad format.No colon in field header.");
    return nullptr;
  }
  auto name = asASCII(bytes, static_cast<std::size_t>(colon));
  if (!name) {
    HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: Bad MIME header name.");
    return nullptr;
  }
  const std::uint8_t* valueBytes = bytes + colon + 2;
  std::size_t valueLength = n - static_cast<std::size_t>(colon) - 2;
  long semicolon = indexOfByte(valueBytes, valueLength, ';');
  std::size_t plainLength = semicolon < 0 ? valueLength : static_cast<std::size_t>(semicolon);
  auto value = decodeFormText(valueBytes, plainLength, encoding);
  if (!value) {
    HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: Bad MIME header value for header name: '%@'", *name);
    return nullptr;
  }
  auto field = ns::make<MultipartMessageHeaderField>(*name, *value);
  if (semicolon >= 0) {
    std::size_t paramStart = std::min(valueLength, static_cast<std::size_t>(semicolon) + 2);
    if (!field->parseHeaderValueBytes_length_encoding(
            valueBytes + paramStart, static_cast<std::int64_t>(valueLength - paramStart), encoding)) {
      HTTP_LOG_ERROR(kLogLevel,
                     "MultipartFormDataParser: Bad params for header with name '%@' and value '%@'", *name,
                     *value);
      HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: Params str: %@",
                     lossyASCII(valueBytes + paramStart, valueLength - paramStart));
      return nullptr;
    }
  }
  return field;
}

bool MultipartMessageHeaderField::parseHeaderValueBytes_length_encoding(const std::uint8_t* bytes,
                                                                        std::int64_t length,
                                                                        FormEncoding encoding) {
  if (length < 1) return true;
  const std::size_t n = static_cast<std::size_t>(length);
  std::size_t tokenStart = 0;
  std::size_t i = 0;
  bool inQuotes = false;
  std::optional<std::string> key;
  auto store = [&](std::size_t end, bool atEnd) {
    auto value = extractParamValue(bytes + tokenStart, end > tokenStart ? end - tokenStart : 0, encoding);
    if (value) {
      params_[*key] = *value;
    } else if (atEnd) {
      HTTP_LOG_ERROR(kLogLevel,
                     "MultipartFormDataParser: Failed to exctract paramValue for key %@ in header %@", *key,
                     name_);
    } else {
      HTTP_LOG_WARN(kLogLevel,
                    "MultipartFormDataParser: Failed to exctract paramValue for key %@ in header %@", *key,
                    name_);
    }
  };
  while (i < n) {
    std::uint8_t c = bytes[i];
    if (c == '"' && (i == 0 || bytes[i - 1] != '\\')) {
      inQuotes = !inQuotes;
    } else if (!inQuotes && c == '=') {
      if (key) return false;
      auto text = asASCII(bytes + tokenStart, i - tokenStart);
      key = text.value_or(lossyASCII(bytes + tokenStart, i - tokenStart));
      tokenStart = i + 1;
    } else if (!inQuotes && c == ';') {
      if (!key) {
        HTTP_LOG_ERROR(kLogLevel, "MultipartFormDataParser: Unexpected ';' when parsing header");
        return false;
      }
      store(i, false);
      key.reset();
      tokenStart = std::min(n, i + 2);
      i = tokenStart + 1;
      continue;
    }
    ++i;
  }
  if (inQuotes) HTTP_LOG_WARN(kLogLevel, "MultipartFormDataParser: unterminated quote in header %@", name_);
  if (key) store(n, true);
  return true;
}

std::string MultipartMessageHeaderField::description() const {
  std::string params = "{";
  for (const auto& [k, v] : params_) params += " " + k + " = " + v + ";";
  params += " }";
  return name_ + ":" + value_ + "\n params: " + params;
}

MultipartMessageHeader::MultipartMessageHeader(const ns::Data& data, FormEncoding formEncoding) {
  const std::uint8_t* bytes = data.bytes();
  const std::size_t n = data.length();
  std::size_t start = 0;
  std::size_t i = 0;
  while (n >= 3 && i + 1 < n && n - start >= 3) {
    if (bytes[i] == '\r' && bytes[i + 1] == '\n' && (i + 2 == n || !isHeaderSpace(bytes[i + 2]))) {
      ns::Data line = data.subdata(start, i - start);
      if (auto field = MultipartMessageHeaderField::initWithData_contentEncoding(line, formEncoding))
        fields_[field->name()] = field;
      else
        HTTP_LOG_WARN(kLogLevel,
                      "MultipartFormDataParser: Failed to parse MIME header field. Input ASCII string:%@",
                      lossyASCII(line.bytes(), line.length()));
      i += 2;
      start = i;
      continue;
    }
    ++i;
  }
  if (fields_.empty())
    fields_["Content-Type"] = ns::make<MultipartMessageHeaderField>("Content-Type", "text/plain");
}

std::string MultipartMessageHeader::description() const {
  std::string text;
  for (const auto& [name, field] : fields_) text += field->description() + "\n";
  return text;
}
