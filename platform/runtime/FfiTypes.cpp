#include "platform/runtime/FfiTypes.h"

#include <string>

#include "platform/runtime/Encoding.h"

namespace ns::runtime {

namespace {
ffi_type* integerOfAlignment(std::size_t align) {
  switch (align) {
    case 1:
      return &ffi_type_uint8;
    case 2:
      return &ffi_type_uint16;
    case 4:
      return &ffi_type_uint32;
    default:
      return &ffi_type_uint64;
  }
}
}  // namespace

void FfiTypeBuilder::appendFields(std::string_view n, std::vector<ffi_type*>& out, int depth) {
  // n is "{=fields}" or "(=fields)" in normalized form.
  std::string_view fields = n.substr(2, n.size() - 3);
  // Consecutive bit fields share their storage, as the encoding parser sizes them: the
  // structure libffi sees must not be larger than the buffers made from that size.
  std::size_t bits = 0;
  auto flushBits = [&] {
    for (std::size_t i = 0; i < (bits + 7) / 8; ++i) out.push_back(&ffi_type_uint8);
    bits = 0;
  };
  while (!fields.empty()) {
    EncodedType t;
    std::size_t used = parseType(fields, t);
    if (used == 0) break;
    fields.remove_prefix(used);
    if (t.normalized[0] == 'b') {
      bits += std::stoul(t.normalized.substr(1));
      continue;
    }
    flushBits();
    if (t.normalized[0] == '[') {
      // Arrays inside structures are laid out element by element.
      std::size_t count = std::stoul(t.normalized.substr(1));
      std::string_view inner = std::string_view(t.normalized).substr(1);
      while (!inner.empty() && inner[0] >= '0' && inner[0] <= '9') inner.remove_prefix(1);
      inner.remove_suffix(1);
      ffi_type* element = typeFor(inner, false);
      for (std::size_t i = 0; element && i < count; ++i) out.push_back(element);
    } else if (ffi_type* f = typeFor(t.normalized, false)) {
      out.push_back(f);
    }
  }
  flushBits();
  (void)depth;
}

ffi_type* FfiTypeBuilder::typeFor(std::string_view n, bool asArgument) {
  if (n.empty()) return nullptr;
  switch (n[0]) {
    case 'v':
      return asArgument ? nullptr : &ffi_type_void;
    case 'c':
      return &ffi_type_sint8;
    case 'C':
    case 'B':
      return &ffi_type_uint8;
    case 's':
      return &ffi_type_sint16;
    case 'S':
      return &ffi_type_uint16;
    case 'i':
    case 'l':
      return &ffi_type_sint32;
    case 'I':
    case 'L':
      return &ffi_type_uint32;
    case 'q':
      return &ffi_type_sint64;
    case 'Q':
      return &ffi_type_uint64;
    case 'f':
      return &ffi_type_float;
    case 'd':
      return &ffi_type_double;
    case 'D':
      return &ffi_type_longdouble;
    case '@':
    case '#':
    case ':':
    case '*':
    case '^':
    case '%':
      return &ffi_type_pointer;
    case '[':
      if (asArgument) return &ffi_type_pointer;  // C arrays are passed as pointers
      [[fallthrough]];
    case '{':
    case '(': {
      EncodedType whole;
      if (parseType(n, whole) == 0 || whole.size == 0 || whole.size > kMaxByValueSize) return nullptr;
      auto& elems = elements_.emplace_back();
      if (n[0] == '(') {
        // libffi has no unions: a structure of integers with the union's size and alignment.
        ffi_type* unit = integerOfAlignment(whole.alignment);
        for (std::size_t i = 0; i < whole.size / unit->size; ++i) elems.push_back(unit);
      } else {
        appendFields(n[0] == '[' ? "{=" + std::string(n) + "}" : std::string(n), elems, 0);
      }
      if (elems.empty()) return nullptr;
      elems.push_back(nullptr);
      ffi_type& t = structs_.emplace_back();
      t.size = 0;
      t.alignment = 0;
      t.type = FFI_TYPE_STRUCT;
      t.elements = elems.data();
      return &t;
    }
    default:
      return nullptr;
  }
}

}  // namespace ns::runtime
