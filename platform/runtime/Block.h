#pragma once
// Blocks: closures laid out as the original block ABI (isa, flags, invoke function, descriptor
// with size, optional copy/dispose helpers and the signature string), made from C++ lambdas:
//
//   auto b = ns::block<void(Ref<Object>, Ref<Object>)>([](auto a, auto b) { ... });
//   b->signature();                       // "v24@?0@8@16"
//   b->call<void>(x, y);                  // checked against the signature
//
// A block is an object: it can be passed wherever an object is, kept in invocations and
// installed as a method with imp_implementationWithBlock.
#include <functional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "platform/core/Object.h"
#include "platform/runtime/MethodSignature.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

enum : int {
  BLOCK_DEALLOCATING = 0x0001,
  BLOCK_NEEDS_FREE = 1 << 24,
  BLOCK_HAS_COPY_DISPOSE = 1 << 25,
  BLOCK_HAS_CTOR = 1 << 26,
  BLOCK_IS_GLOBAL = 1 << 28,
  BLOCK_USE_STRET = 1 << 29,
  BLOCK_HAS_SIGNATURE = 1 << 30,
};

struct BlockDescriptor {
  unsigned long reserved;
  unsigned long size;  // of the literal, captured state included
  // With BLOCK_HAS_COPY_DISPOSE: copy and dispose helpers follow; with BLOCK_HAS_SIGNATURE, the
  // signature string comes after them (or directly after `size` without the helpers).
};

struct BlockLiteral {
  void* isa;
  int flags;
  int reserved;
  void (*invoke)();  // called with the literal first, then the block's arguments
  const BlockDescriptor* descriptor;
};

// The signature recorded in a block literal's descriptor, or nullptr when it carries none.
const char* blockSignatureOf(const BlockLiteral* literal);

class Block : public Object {
 public:
  ~Block() override;
  BlockLiteral* literal() { return &storage_.header; }
  const BlockLiteral* literal() const { return &storage_.header; }
  // The block's type encoding as the descriptor records it ("v24@?0@8@16").
  const char* signature() const { return blockSignatureOf(literal()); }
  const Ref<MethodSignature>& methodSignature() const { return methodSignature_; }
  std::string className() const override { return "NSBlock"; }

  // The block that owns a literal made by this runtime.
  static Block* fromLiteral(const BlockLiteral* literal);

  // Calls the block. The arguments and result must fit the signature (arithmetic values
  // convert); otherwise NSInvalidArgumentException.
  template <class R = void, class... A>
  R call(const A&... args) const;

 protected:
  Block(std::string signature, void (*invoke)(), const std::type_info* canon);

 private:
  struct Descriptor {
    unsigned long reserved;
    unsigned long size;
    void (*copy)(void*, const void*);
    void (*dispose)(const void*);
    const char* signature;
  };
  struct Storage {
    BlockLiteral header;
    Block* owner;  // the captured state of the literal: the object that owns it
  };
  std::string signatureText_;
  Descriptor descriptor_{};
  Storage storage_{};
  const std::type_info* canon_;
  Ref<MethodSignature> methodSignature_;

  template <class R, class... A, std::size_t... I>
  R callDirect(std::index_sequence<I...>, const A&... args) const;
  template <class R, class... A>
  R callSlow(const A&... args) const;
};

class Invocation;
namespace detail {
// Calls the block through an invocation holding its arguments; raises when the caller gave
// `givenArguments` arguments and the block takes another number.
void invokeBlockSlow(const Block& block, Invocation& inv, std::size_t givenArguments);
}  // namespace detail

template <class Signature>
class TypedBlock;

template <class R, class... A>
class TypedBlock<R(A...)> final : public Block {
 public:
  using Function = std::function<R(A...)>;
  explicit TypedBlock(Function fn)
      : Block(runtime::blockEncoding<R, A...>(), reinterpret_cast<void (*)()>(&invoke),
              &typeid(decltype(&invoke))),
        fn_(std::move(fn)) {}

 private:
  static runtime::Canon<R> invoke(BlockLiteral* literal, runtime::Canon<A>... args) {
    try {
      auto* self = static_cast<TypedBlock*>(Block::fromLiteral(literal));
      if constexpr (std::is_void_v<R>) {
        self->fn_(runtime::fromCanon<A>(args)...);
      } else {
        return runtime::returnCanon<R>(self->fn_(runtime::fromCanon<A>(args)...));
      }
    } catch (...) {
      detail::storePendingException(std::current_exception());
      if constexpr (!std::is_void_v<R>) return runtime::Canon<R>{};
    }
  }
  Function fn_;
};

// Makes a block from a callable: ns::block<R(A...)>(lambda).
template <class Signature, class F>
Ref<Block> block(F&& fn) {
  return make<TypedBlock<Signature>>(std::forward<F>(fn));
}

// Installs a block as a method implementation: the block takes the receiver first, then the
// method's arguments (no selector). The result is a libffi closure that lives until
// imp_removeBlock. The encoding of the implementation is derived from the block's signature.
Imp imp_implementationWithBlock(const Ref<Block>& block);
Ref<Block> imp_getBlock(Imp imp);
bool imp_removeBlock(Imp imp);

template <class R, class... A, std::size_t... I>
R Block::callDirect(std::index_sequence<I...>, const A&... args) const {
  using Fn = runtime::Canon<R> (*)(BlockLiteral*, runtime::Canon<A>...);
  Ref<Object> keep[sizeof...(A) + 1];
  auto fn = reinterpret_cast<Fn>(storage_.header.invoke);
  auto* lit = const_cast<BlockLiteral*>(literal());
  if constexpr (std::is_void_v<R>) {
    fn(lit, runtime::toCanon(args, keep[I])...);
    detail::rethrowPendingException();
  } else {
    auto r = fn(lit, runtime::toCanon(args, keep[I])...);
    detail::rethrowPendingException();
    return runtime::resultFromCanon<R>(r);
  }
}

}  // namespace ns

#include "platform/runtime/Invocation.h"

namespace ns {

template <class R, class... A>
R Block::callSlow(const A&... args) const {
  auto inv = Invocation::invocationWithMethodSignature(methodSignature_);
  if (methodSignature_->numberOfArguments() != sizeof...(A) + 1) {
    detail::invokeBlockSlow(*this, *inv, sizeof...(A));  // raises the count mismatch
  }
  long index = 1;
  (inv->setArgumentValue(index++, args), ...);
  if constexpr (!std::is_void_v<R>) inv->checkArgumentType(-1, Invocation::normalizedOf<R>(), false);
  detail::invokeBlockSlow(*this, *inv, sizeof...(A));
  if constexpr (!std::is_void_v<R>) return inv->returnValue<R>();
}

template <class R, class... A>
R Block::call(const A&... args) const {
  using Fn = runtime::Canon<R> (*)(BlockLiteral*, runtime::Canon<A>...);
  if (*canon_ == typeid(Fn)) return callDirect<R>(std::index_sequence_for<A...>{}, args...);
  return callSlow<R>(args...);
}

}  // namespace ns
