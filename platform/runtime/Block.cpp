#include "platform/runtime/Block.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/core/NoDestructor.h"
#include "platform/runtime/FfiTypes.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/Raise.h"

namespace ns {

namespace {
// The isa of every block made here; code that tells blocks apart by isa only needs identity.
char blockClassTag;
}  // namespace

const char* blockSignatureOf(const BlockLiteral* literal) {
  if (!literal || !(literal->flags & BLOCK_HAS_SIGNATURE) || !literal->descriptor) return nullptr;
  const auto* bytes = reinterpret_cast<const unsigned char*>(literal->descriptor);
  std::size_t offset = 2 * sizeof(unsigned long);
  if (literal->flags & BLOCK_HAS_COPY_DISPOSE) offset += 2 * sizeof(void (*)());
  const char* signature = nullptr;
  std::memcpy(&signature, bytes + offset, sizeof signature);
  return signature;
}

Block::Block(std::string signature, void (*invoke)(), const std::type_info* canon)
    : signatureText_(std::move(signature)), canon_(canon) {
  methodSignature_ = MethodSignature::signatureWithObjCTypes(signatureText_);
  // The helpers exist for code that expects them; ownership is the Ref's, so they do nothing.
  descriptor_.reserved = 0;
  descriptor_.size = sizeof(Storage);
  descriptor_.copy = [](void*, const void*) {};
  descriptor_.dispose = [](const void*) {};
  descriptor_.signature = signatureText_.c_str();
  storage_.header.isa = &blockClassTag;
  storage_.header.flags = BLOCK_HAS_SIGNATURE | BLOCK_HAS_COPY_DISPOSE | BLOCK_NEEDS_FREE;
  storage_.header.reserved = 0;
  storage_.header.invoke = invoke;
  storage_.header.descriptor = reinterpret_cast<const BlockDescriptor*>(&descriptor_);
  storage_.owner = this;
}

Block::~Block() = default;

Block* Block::fromLiteral(const BlockLiteral* literal) {
  if (!literal || literal->isa != &blockClassTag) return nullptr;
  return reinterpret_cast<const Storage*>(literal)->owner;
}

void detail::invokeBlockSlow(const Block& block, Invocation& inv, std::size_t given) {
  std::size_t takes = block.methodSignature()->numberOfArguments() - 1;
  if (given != takes) {
    runtime::raise("NSInvalidArgumentException", std::string("block of signature '") + block.signature() +
                                                     "' called with " + std::to_string(given) +
                                                     " arguments but takes " + std::to_string(takes));
  }
  Object* raw = const_cast<Block*>(&block);
  inv.setArgument(&raw, 0);
  inv.invoke();
}

// Blocks as method implementations.

namespace {

struct BlockImp {
  Ref<Block> block;
  ffi_closure* closure = nullptr;
  void* code = nullptr;
  runtime::FfiTypeBuilder builder;
  std::vector<ffi_type*> argTypes;
  ffi_cif cif{};
  ffi_cif* blockCif = nullptr;
};

struct BlockImpTable {
  std::mutex lock;
  std::unordered_map<void*, std::unique_ptr<BlockImp>> byCode;
};

BlockImpTable& blockImps() {
  static ns::NoDestructor<BlockImpTable> t;
  return *t;
}

// Runs inside a libffi closure: the method's (self, _cmd, args...) become the block's
// (literal, self, args...). Nothing here may throw.
void blockImpHandler(ffi_cif* cif, void* ret, void** args, void* data) {
  auto* bi = static_cast<BlockImp*>(data);
  constexpr unsigned kInline = 16;
  void* inlineArgs[kInline];
  std::vector<void*> heapArgs;
  void** blockArgs = inlineArgs;
  try {
    if (cif->nargs > kInline) {
      heapArgs.resize(cif->nargs);
      blockArgs = heapArgs.data();
    }
  } catch (...) {
    detail::storePendingException(std::current_exception());
    return;
  }
  void* literal = bi->block->literal();
  blockArgs[0] = &literal;
  blockArgs[1] = args[0];
  for (unsigned i = 2; i < cif->nargs; ++i) blockArgs[i] = args[i];
  ffi_call(bi->blockCif, bi->block->literal()->invoke, ret, blockArgs);
}

}  // namespace

Imp imp_implementationWithBlock(const Ref<Block>& block) {
  if (!block) return {};
  auto sig = block->methodSignature();
  if (sig->numberOfArguments() < 2 || !runtime::isObjectType(sig->argumentInfo(1).normalized)) {
    runtime::raise("NSInvalidArgumentException", std::string("imp_implementationWithBlock: the block '") +
                                                     block->signature() +
                                                     "' does not take the receiver as its first argument");
  }
  auto bi = std::make_unique<BlockImp>();
  bi->block = block;
  bi->blockCif = static_cast<ffi_cif*>(sig->callInterface());
  if (!bi->blockCif) {
    runtime::raise(
        "NSInvalidArgumentException",
        std::string("imp_implementationWithBlock: unsupported block signature '") + block->signature() + "'");
  }
  // The method's encoding: the block's result, the receiver, the selector, then the arguments.
  std::string normalized = sig->returnInfo().normalized + "@:";
  for (std::size_t i = 2; i < sig->numberOfArguments(); ++i) normalized += sig->argumentInfo(i).normalized;
  ffi_type* ret = bi->builder.typeFor(sig->returnInfo().normalized, false);
  bi->argTypes.push_back(&ffi_type_pointer);
  bi->argTypes.push_back(&ffi_type_pointer);
  for (std::size_t i = 2; i < sig->numberOfArguments(); ++i) {
    bi->argTypes.push_back(bi->builder.typeFor(sig->argumentInfo(i).normalized, true));
  }
  if (ffi_prep_cif(&bi->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(bi->argTypes.size()), ret,
                   bi->argTypes.data()) != FFI_OK) {
    runtime::raise("NSInvalidArgumentException", "imp_implementationWithBlock: cannot prepare the call");
  }
  bi->closure = static_cast<ffi_closure*>(ffi_closure_alloc(sizeof(ffi_closure), &bi->code));
  if (!bi->closure ||
      ffi_prep_closure_loc(bi->closure, &bi->cif, blockImpHandler, bi.get(), bi->code) != FFI_OK) {
    if (bi->closure) ffi_closure_free(bi->closure);
    runtime::raise("NSInternalInconsistencyException", "imp_implementationWithBlock: no closure memory");
  }
  Imp imp;
  imp.fn = reinterpret_cast<void (*)()>(bi->code);
  imp.canon = nullptr;  // only ever called through libffi
  imp.types = runtime::internTypes(normalized);
  auto& table = blockImps();
  std::lock_guard guard(table.lock);
  table.byCode.emplace(bi->code, std::move(bi));
  return imp;
}

Ref<Block> imp_getBlock(Imp imp) {
  auto& table = blockImps();
  std::lock_guard guard(table.lock);
  auto it = table.byCode.find(reinterpret_cast<void*>(imp.fn));
  return it == table.byCode.end() ? nullptr : it->second->block;
}

bool imp_removeBlock(Imp imp) {
  std::unique_ptr<BlockImp> removed;
  {
    auto& table = blockImps();
    std::lock_guard guard(table.lock);
    auto it = table.byCode.find(reinterpret_cast<void*>(imp.fn));
    if (it == table.byCode.end()) return false;
    removed = std::move(it->second);
    table.byCode.erase(it);
  }
  ffi_closure_free(removed->closure);
  return true;
}

}  // namespace ns
