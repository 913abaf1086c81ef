#pragma once
// Internal: libffi types for type encodings. Not part of the public headers.
#include <ffi.h>

#include <cstddef>
#include <deque>
#include <string_view>
#include <vector>

namespace ns::runtime {

// The largest value passed or returned by value through libffi and stored in an invocation;
// encodings may describe larger types (for their sizes), but those cannot be called.
inline constexpr std::size_t kMaxByValueSize = std::size_t(1) << 16;

// Owns the structure types it builds.
class FfiTypeBuilder {
 public:
  // The libffi type of one normalized type; `asArgument` turns arrays into pointers. Answers
  // nullptr for a type libffi cannot pass (void as an argument, unknown types).
  ffi_type* typeFor(std::string_view normalized, bool asArgument);

 private:
  std::deque<ffi_type> structs_;
  std::deque<std::vector<ffi_type*>> elements_;
  void appendFields(std::string_view normalized, std::vector<ffi_type*>& out, int depth);
};

}  // namespace ns::runtime
