#pragma once
// Percent escaping of URL text with the platform's allowed-character sets, and the legacy
// escaping that some callers name (characters that are not legal anywhere in a URL are escaped,
// reserved characters stay).
//
//   auto q = ns::URLCharacterSet::URLQueryAllowedCharacterSet().removing("&=+");
//   std::string v = ns::stringByAddingPercentEncodingWithAllowedCharacters(text, q);
#include <bitset>
#include <optional>
#include <string>
#include <string_view>

namespace ns {

// A set of ASCII characters that may stand unescaped. Bytes outside ASCII are always escaped.
class URLCharacterSet {
 public:
  URLCharacterSet() = default;
  explicit URLCharacterSet(std::string_view characters) { add(characters); }

  static URLCharacterSet URLUserAllowedCharacterSet();
  static URLCharacterSet URLPasswordAllowedCharacterSet();
  static URLCharacterSet URLHostAllowedCharacterSet();
  static URLCharacterSet URLPathAllowedCharacterSet();
  static URLCharacterSet URLQueryAllowedCharacterSet();
  static URLCharacterSet URLFragmentAllowedCharacterSet();
  // Letters, digits and "-._~".
  static URLCharacterSet unreservedCharacterSet();

  URLCharacterSet& add(std::string_view characters);
  URLCharacterSet& remove(std::string_view characters);
  URLCharacterSet adding(std::string_view characters) const { return URLCharacterSet(*this).add(characters); }
  URLCharacterSet removing(std::string_view characters) const {
    return URLCharacterSet(*this).remove(characters);
  }
  bool contains(unsigned char c) const { return c < 128 && bits_.test(c); }

 private:
  std::bitset<128> bits_;
};

// Escapes every byte of the UTF-8 text that is not in `allowed` as "%XX" (upper-case hex).
std::string stringByAddingPercentEncodingWithAllowedCharacters(std::string_view text,
                                                               const URLCharacterSet& allowed);

// Decodes every "%XX"; nothing when an escape is malformed or the result is not valid UTF-8.
std::optional<std::string> stringByRemovingPercentEncoding(std::string_view text);
// As above, but keeps the bytes even when they are not UTF-8 (for binary form values).
std::optional<std::string> percentDecodeBytes(std::string_view text);

// The legacy escaping: escapes control characters, blanks, non-ASCII bytes and each of
// "\"%<>[\\]^`{|}" that is not a legal URL character, leaves the reserved characters and "#".
// `alsoEscape` names more characters to escape, `leaveUnescaped` characters to keep.
std::string stringByAddingPercentEscapesUsingEncoding(std::string_view text, std::string_view alsoEscape = {},
                                                      std::string_view leaveUnescaped = {});
// The legacy decoding: like stringByRemovingPercentEncoding.
inline std::optional<std::string> stringByReplacingPercentEscapesUsingEncoding(std::string_view text) {
  return stringByRemovingPercentEncoding(text);
}

}  // namespace ns
