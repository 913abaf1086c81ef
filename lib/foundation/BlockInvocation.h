#pragma once
// Calls a closure (a block with a type signature) with argument values described by type
// encodings, as an invocation calls a method: the engine of the dynamic delegates, which copy a
// delegate message's arguments in, call the block through libffi and copy its result back.
// Index 0 of the argument accessors is the block's first declared argument; each argument takes
// its type's size rounded up to its alignment.
#include <map>
#include <memory>
#include <string>

#include "platform/core/Object.h"
#include "platform/runtime/Block.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/MethodSignature.h"

class BlockInvocation : public ns::Object {
 public:
  // Null for a block without a signature, and for one whose types libffi cannot pass.
  static ns::Ref<BlockInvocation> initWithBlock_methodSignature(
      const ns::Ref<ns::Block>& block, const ns::Ref<ns::MethodSignature>& methodSignature);
  BlockInvocation();
  ~BlockInvocation() override;

  void invoke();
  // Serves only invocations of exactly the platform's invocation class; others are ignored.
  // The method's arguments after the receiver and selector feed the block's in order; block
  // arguments the method does not have are zero.
  void invokeUsingInvocation(const ns::Ref<ns::Invocation>& invocation);

  // Raise NSInvalidArgumentException for an index beyond the block's arguments. A null buffer
  // zero-fills.
  void getArgument_atIndex(void* buffer, long index) const;
  void setArgument_atIndex(const void* buffer, long index);
  // Copies the held result; leaves the buffer untouched when none is held.
  void getReturnValue(void* buffer) const;
  void setReturnValue(const void* buffer);
  void retainArguments();
  bool argumentsRetained() const { return argumentsRetained_; }
  void clearArguments();

  const ns::Ref<ns::Block>& block() const { return block_; }
  const ns::Ref<ns::MethodSignature>& methodSignature() const { return methodSignature_; }
  const ns::Ref<ns::MethodSignature>& blockSignature() const { return blockSignature_; }
  std::size_t returnLength() const { return returnLength_; }
  std::string className() const override { return "BlockInvocation"; }

 private:
  struct Interface;  // the prepared call: libffi stays out of this header
  std::size_t argumentSize(long frameIndex) const;
  const std::string& argumentType(long frameIndex) const;

  std::size_t returnLength_ = 0;
  bool argumentsRetained_ = false;
  bool validReturn_ = false;
  ns::Ref<ns::Block> block_;
  ns::Ref<ns::MethodSignature> methodSignature_;
  ns::Ref<ns::MethodSignature> blockSignature_;
  std::unique_ptr<Interface> interface_;
  // Values kept by retainArguments, by frame index: objects, and copies of C strings.
  std::map<long, ns::Ref<ns::Object>> arguments_;
  std::map<long, std::string> strings_;
  ns::Ref<ns::Object> returnObject_;
};
