#include "platform/runtime/MethodSignature.h"

#include <shared_mutex>
#include <unordered_map>

#include "platform/core/NoDestructor.h"
#include "platform/runtime/FfiTypes.h"
#include "platform/runtime/Raise.h"

namespace ns {

struct MethodSignature::Ffi {
  runtime::FfiTypeBuilder builder;
  std::vector<ffi_type*> args;
  ffi_cif cif{};
  bool ok = false;
};

Ref<MethodSignature> MethodSignature::signatureWithObjCTypes(std::string_view types) {
  static NoDestructor<std::shared_mutex> lock;
  static ns::NoDestructor<std::unordered_map<std::string, Ref<MethodSignature>>> cache;
  std::string key(types);
  {
    std::shared_lock read(*lock);
    auto it = cache->find(key);
    if (it != cache->end()) return it->second;
  }
  std::vector<runtime::EncodedType> parsed;
  if (!runtime::parseSignature(types, parsed)) {
    runtime::raise("NSInvalidArgumentException",
                   "+[NSMethodSignature signatureWithObjCTypes:]: unsupported type encoding '" + key + "'");
  }
  auto sig = make<MethodSignature>(std::move(parsed), key);
  std::unique_lock write(*lock);
  if (cache->size() > 4096) cache->clear();  // encodings made at run time must not grow it forever
  return cache->emplace(key, sig).first->second;
}

MethodSignature::MethodSignature(std::vector<runtime::EncodedType> types, std::string text)
    : types_(std::move(types)), text_(std::move(text)) {
  for (auto& t : types_) normalized_ += t.normalized;
}

MethodSignature::~MethodSignature() = default;

const char* MethodSignature::getArgumentTypeAtIndex(std::size_t index) const {
  if (index >= numberOfArguments()) {
    runtime::raise("NSInvalidArgumentException",
                   "-[NSMethodSignature getArgumentTypeAtIndex:]: index (" + std::to_string(index) +
                       ") out of bounds [0, " + std::to_string(static_cast<long>(numberOfArguments()) - 1) +
                       "]");
  }
  return types_[index + 1].text.c_str();
}

std::size_t MethodSignature::frameLength() const {
  std::size_t total = 0;
  for (std::size_t i = 1; i < types_.size(); ++i) total += (types_[i].size + 7) / 8 * 8;
  return total;
}

std::string MethodSignature::description() const {
  return "<NSMethodSignature: " + text_ + ">";
}

void* MethodSignature::callInterface() const {
  std::call_once(ffiOnce_, [this] {
    auto ffi = std::make_unique<Ffi>();
    ffi_type* ret = ffi->builder.typeFor(types_[0].normalized, false);
    bool ok = ret != nullptr;
    for (std::size_t i = 1; ok && i < types_.size(); ++i) {
      ffi_type* t = ffi->builder.typeFor(types_[i].normalized, true);
      if (!t) ok = false;
      ffi->args.push_back(t);
    }
    if (ok) {
      ok = ffi_prep_cif(&ffi->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(ffi->args.size()), ret,
                        ffi->args.data()) == FFI_OK;
    }
    // Invocation buffers are sized from the encoding: a structure libffi lays out otherwise
    // (a field it cannot type) would be read or written past them, so it is refused.
    auto sameSize = [](const ffi_type* t, const runtime::EncodedType& e) {
      return t->type != FFI_TYPE_STRUCT || t->size == e.size;
    };
    if (ok) ok = sameSize(ret, types_[0]);
    for (std::size_t i = 1; ok && i < types_.size(); ++i) ok = sameSize(ffi->args[i - 1], types_[i]);
    ffi->ok = ok;
    ffi_ = std::move(ffi);
  });
  return ffi_->ok ? &ffi_->cif : nullptr;
}

}  // namespace ns
