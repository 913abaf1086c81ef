#include "lib/foundation/BlockInvocation.h"

#include <ffi.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <typeinfo>
#include <vector>

#include "platform/core/Exception.h"
#include "platform/runtime/Encoding.h"
#include "platform/runtime/FfiTypes.h"

struct BlockInvocation::Interface {
  ns::runtime::FfiTypeBuilder types;
  ffi_cif cif{};
  std::vector<ffi_type*> argumentTypes;
  // Frame entry 0 points at the block's literal; entry i at argument i - 1's buffer.
  std::vector<void*> frame;
  std::vector<std::unique_ptr<long double[]>> buffers;  // 16-byte aligned, zero-filled
  std::vector<std::size_t> sizes;                       // per frame entry
  void* literal = nullptr;
  std::unique_ptr<long double[]> returnValue;
};

namespace {

std::size_t rounded(std::size_t size, std::size_t alignment) {
  return alignment > 1 ? (size + alignment - 1) / alignment * alignment : size;
}

std::unique_ptr<long double[]> zeroed(std::size_t size) {
  std::size_t n = (std::max<std::size_t>(size, 1) + sizeof(long double) - 1) / sizeof(long double);
  auto buffer = std::make_unique<long double[]>(n);
  std::memset(buffer.get(), 0, n * sizeof(long double));
  return buffer;
}

bool isObject(const std::string& normalized) {
  return ns::runtime::isObjectType(normalized) && normalized != "#";
}

}  // namespace

BlockInvocation::BlockInvocation() = default;

BlockInvocation::~BlockInvocation() = default;

ns::Ref<BlockInvocation> BlockInvocation::initWithBlock_methodSignature(
    const ns::Ref<ns::Block>& block, const ns::Ref<ns::MethodSignature>& methodSignature) {
  if (!block || !block->signature()) return nullptr;
  // Quoted class names carry nothing a call needs: "@\"NSString\"" is an object like "@".
  static const std::regex quoted("\"[^\"]*\"");
  std::string encoding = std::regex_replace(std::string(block->signature()), quoted, "");
  ns::Ref<ns::MethodSignature> blockSignature;
  try {
    blockSignature = ns::MethodSignature::signatureWithObjCTypes(encoding);
  } catch (const ns::Exception&) {
    return nullptr;
  }
  auto self = ns::make<BlockInvocation>();
  auto& in = *(self->interface_ = std::make_unique<Interface>());
  const auto& ret = blockSignature->returnInfo();
  ffi_type* returnType = in.types.typeFor(ret.normalized, false);
  if (!returnType) return nullptr;
  if (returnType != &ffi_type_void) {
    self->returnLength_ = rounded(ret.size, ret.alignment);
    // libffi writes a whole ffi_arg for narrower integral results.
    in.returnValue = zeroed(std::max(self->returnLength_, sizeof(ffi_arg)));
  }
  std::size_t n = blockSignature->numberOfArguments();
  if (n == 0) return nullptr;
  in.argumentTypes.assign(n, nullptr);
  in.frame.assign(n, nullptr);
  in.sizes.assign(n, 0);
  in.buffers.resize(n);
  in.argumentTypes[0] = &ffi_type_pointer;
  in.frame[0] = &in.literal;
  in.sizes[0] = sizeof(void*);
  for (std::size_t i = 1; i < n; ++i) {
    const auto& arg = blockSignature->argumentInfo(i);
    ffi_type* t = in.types.typeFor(arg.normalized, true);
    if (!t) return nullptr;
    in.argumentTypes[i] = t;
    in.sizes[i] = arg.normalized[0] == '[' ? sizeof(void*) : rounded(arg.size, arg.alignment);
    in.buffers[i] = zeroed(in.sizes[i]);
    in.frame[i] = in.buffers[i].get();
  }
  if (ffi_prep_cif(&in.cif, FFI_DEFAULT_ABI, static_cast<unsigned>(n), returnType, in.argumentTypes.data()) !=
      FFI_OK)
    return nullptr;
  self->block_ = block;
  in.literal = block->literal();
  self->methodSignature_ = methodSignature;
  self->blockSignature_ = blockSignature;
  return self;
}

std::size_t BlockInvocation::argumentSize(long frameIndex) const {
  return interface_->sizes[static_cast<std::size_t>(frameIndex)];
}

const std::string& BlockInvocation::argumentType(long frameIndex) const {
  return blockSignature_->argumentInfo(static_cast<std::size_t>(frameIndex)).normalized;
}

void BlockInvocation::getArgument_atIndex(void* buffer, long index) const {
  long frameIndex = index + 1;
  if (index < 0 || frameIndex >= static_cast<long>(interface_->frame.size()))
    ns::Exception::raise_format(ns::NSInvalidArgumentException,
                                "-[BlockInvocation getArgument:atIndex:]: index (%ld) out of bounds", index);
  if (buffer)
    std::memcpy(buffer, interface_->frame[static_cast<std::size_t>(frameIndex)], argumentSize(frameIndex));
}

void BlockInvocation::setArgument_atIndex(const void* buffer, long index) {
  long frameIndex = index + 1;
  if (index < 0 || frameIndex >= static_cast<long>(interface_->frame.size()))
    ns::Exception::raise_format(ns::NSInvalidArgumentException,
                                "-[BlockInvocation setArgument:atIndex:]: index (%ld) out of bounds", index);
  void* slot = interface_->frame[static_cast<std::size_t>(frameIndex)];
  std::size_t size = argumentSize(frameIndex);
  if (buffer) {
    std::memcpy(slot, buffer, size);
  } else {
    std::memset(slot, 0, size);
  }
  if (!argumentsRetained_) return;
  const std::string& type = argumentType(frameIndex);
  if (isObject(type)) {
    ns::Object* raw = nullptr;
    std::memcpy(&raw, slot, sizeof raw);
    arguments_.erase(frameIndex);
    if (raw) arguments_[frameIndex] = ns::detail::tryRetain(raw);
  } else if (type == "*") {
    const char* text = nullptr;
    std::memcpy(&text, slot, sizeof text);
    strings_.erase(frameIndex);
    if (text) {
      const char* copy = strings_.emplace(frameIndex, std::string(text)).first->second.c_str();
      std::memcpy(slot, &copy, sizeof copy);
    }
  }
}

void BlockInvocation::getReturnValue(void* buffer) const {
  if (validReturn_ && buffer && returnLength_)
    std::memcpy(buffer, interface_->returnValue.get(), returnLength_);
}

void BlockInvocation::setReturnValue(const void* buffer) {
  if (!returnLength_) return;
  const std::string& type = blockSignature_->returnInfo().normalized;
  if (!buffer) {
    std::memset(interface_->returnValue.get(), 0, returnLength_);
    returnObject_.reset();
    validReturn_ = false;
    return;
  }
  std::memmove(interface_->returnValue.get(), buffer, returnLength_);
  if (isObject(type)) {
    ns::Object* raw = nullptr;
    std::memcpy(&raw, buffer, sizeof raw);
    // The replaced object is released with the old reference.
    if (!returnObject_ || returnObject_.get() != raw)
      returnObject_ = raw ? ns::detail::tryRetain(raw) : nullptr;
  }
  validReturn_ = true;
}

void BlockInvocation::retainArguments() {
  if (argumentsRetained_) return;
  argumentsRetained_ = true;
  for (long i = 1; i < static_cast<long>(interface_->frame.size()); ++i) {
    const std::string& type = argumentType(i);
    void* slot = interface_->frame[static_cast<std::size_t>(i)];
    if (isObject(type)) {
      ns::Object* raw = nullptr;
      std::memcpy(&raw, slot, sizeof raw);
      if (raw) arguments_[i] = ns::detail::tryRetain(raw);
    } else if (type == "*") {
      const char* text = nullptr;
      std::memcpy(&text, slot, sizeof text);
      auto kept = strings_.find(i);
      if (text && !(kept != strings_.end() && kept->second.c_str() == text)) {
        const char* copy = strings_.insert_or_assign(i, std::string(text)).first->second.c_str();
        std::memcpy(slot, &copy, sizeof copy);
      }
    }
  }
}

void BlockInvocation::clearArguments() {
  for (long i = 0; i + 1 < static_cast<long>(interface_->frame.size()); ++i) setArgument_atIndex(nullptr, i);
}

void BlockInvocation::invoke() {
  auto& in = *interface_;
  std::vector<long double> scratchStore(
      (std::max(returnLength_, sizeof(ffi_arg)) + sizeof(long double) - 1) / sizeof(long double) + 1, 0.0L);
  void* scratch = scratchStore.data();
  ffi_call(&in.cif, FFI_FN(block_->literal()->invoke), scratch, in.frame.data());
  const std::string& type = blockSignature_->returnInfo().normalized;
  if (isObject(type)) {
    // The block parked its result so that it outlives the call.
    ns::Ref<ns::Object> result = ns::detail::takeReturnSlot();
    setReturnValue(scratch);
  } else if (returnLength_) {
    // Narrower integral results come back widened; the low-order bytes are the value.
    setReturnValue(scratch);
  }
  ns::detail::rethrowPendingException();
}

void BlockInvocation::invokeUsingInvocation(const ns::Ref<ns::Invocation>& invocation) {
  if (!invocation || typeid(*invocation) != typeid(ns::Invocation)) return;
  invocation->retainArguments();
  const auto& signature = invocation->methodSignature();
  long methodArguments = static_cast<long>(signature->numberOfArguments());
  long blockArguments = static_cast<long>(interface_->frame.size()) - 1;
  for (long i = 0; i < blockArguments; ++i) {
    long source = i + 2;  // past the receiver and the selector
    if (source >= methodArguments) {
      setArgument_atIndex(nullptr, i);
      continue;
    }
    std::size_t size =
        std::max(argumentSize(i + 1), signature->argumentInfo(static_cast<std::size_t>(source)).size);
    auto buffer = zeroed(size);
    invocation->getArgument(buffer.get(), source);
    setArgument_atIndex(buffer.get(), i);
  }
  invoke();
  if (returnLength_ && validReturn_) {
    std::size_t size = std::max(returnLength_, signature->returnInfo().size);
    auto buffer = zeroed(size);
    getReturnValue(buffer.get());
    invocation->setReturnValue(buffer.get());
  }
}
