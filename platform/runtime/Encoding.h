#pragma once
// Type encodings: the compact type strings that describe method signatures, property types and
// block signatures ("v24@0:8@16", "{CGRect={CGPoint=dd}{CGSize=dd}}", "@\"NSString\"").
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ns {

// Size and alignment of the first type of an encoding. Answers the position after that type,
// after any frame offset that follows it. Malformed encodings raise NSInvalidArgumentException.
const char* NSGetSizeAndAlignment(const char* typePtr, std::size_t* sizep, std::size_t* alignp);

namespace runtime {

// One type of an encoding, as parsed.
struct EncodedType {
  std::string text;        // the type as written, qualifiers included, offset excluded
  std::string normalized;  // comparison form: no qualifiers, class names, field names or offsets
  std::size_t size = 0;
  std::size_t alignment = 1;
  int offset = 0;  // the frame offset written after the type, 0 when absent
};

// Parses the first type of `text` into `out`. Answers how many characters it used (offset
// included), or 0 when the text does not start with a well-formed type.
std::size_t parseType(std::string_view text, EncodedType& out);

// Parses a whole signature (return type, then arguments). Answers false on malformed input.
bool parseSignature(std::string_view text, std::vector<EncodedType>& out);

// The comparison form of a whole encoding: "v24@0:8@\"NSString\"16" -> "v@:@".
// Answers the empty string for a malformed encoding.
std::string normalizeEncoding(std::string_view text);

// Removes the type qualifiers (const, in, out, inout, bycopy, byref, oneway, atomic) in front of
// a type.
std::string_view stripQualifiers(std::string_view type);

// Whether a value of encoded type `from` may be handed to a slot of encoded type `to`:
// identical layouts, any two object types, or two arithmetic types (converted by value).
enum class TypeMatch { same, convertible, mismatch };
TypeMatch matchTypes(std::string_view fromNormalized, std::string_view toNormalized);

// Classification of a normalized type by its first character.
bool isObjectType(std::string_view normalized);      // '@', '@?', '#'
bool isArithmeticType(std::string_view normalized);  // integers, booleans, floating point
bool isFloatingType(std::string_view normalized);

}  // namespace runtime
}  // namespace ns
