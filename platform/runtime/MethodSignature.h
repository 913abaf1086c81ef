#pragma once
// The types of a method's return value and arguments, built from a type encoding. Argument 0 is
// the receiver ("@", or "@?" for a block), argument 1 the selector of a method.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Object.h"
#include "platform/runtime/Encoding.h"

namespace ns {

class MethodSignature : public Object {
 public:
  // Raises NSInvalidArgumentException for a malformed encoding. Signatures are shared per
  // encoding text.
  static Ref<MethodSignature> signatureWithObjCTypes(std::string_view types);

  explicit MethodSignature(std::vector<runtime::EncodedType> types, std::string text);
  ~MethodSignature() override;

  std::size_t numberOfArguments() const { return types_.size() - 1; }
  // The argument's type as written, qualifiers included; raises when out of range.
  const char* getArgumentTypeAtIndex(std::size_t index) const;
  const char* methodReturnType() const { return types_[0].text.c_str(); }
  std::size_t methodReturnLength() const { return types_[0].size; }
  // Bytes the arguments take, each rounded up to a machine word.
  std::size_t frameLength() const;
  bool isOneway() const { return !types_[0].text.empty() && types_[0].text[0] == 'V'; }
  const std::string& typeEncoding() const { return text_; }
  std::string className() const override { return "NSMethodSignature"; }
  std::string description() const override;

  // Parsed forms, for invocations.
  const runtime::EncodedType& returnInfo() const { return types_[0]; }
  const runtime::EncodedType& argumentInfo(std::size_t index) const { return types_[index + 1]; }
  const std::string& normalized() const { return normalized_; }
  // The prepared foreign call interface (an ffi_cif), made on first use.
  void* callInterface() const;

 private:
  struct Ffi;
  std::vector<runtime::EncodedType> types_;
  std::string text_;
  std::string normalized_;
  mutable std::once_flag ffiOnce_;
  mutable std::unique_ptr<Ffi> ffi_;
};

}  // namespace ns
