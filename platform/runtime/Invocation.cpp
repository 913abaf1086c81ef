#include "platform/runtime/Invocation.h"

#include <cstdint>
#include <cstring>

#include "platform/runtime/Block.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/FfiTypes.h"
#include "platform/runtime/Raise.h"
#include "platform/runtime/ValueBox.h"

namespace ns {

struct Invocation::Slot {
  const runtime::EncodedType* type = nullptr;
  std::size_t capacity = 0;
  std::unique_ptr<long double[]> buffer;  // 16-byte aligned storage
  Ref<Object> object;                     // keeps an object argument alive
  std::unique_ptr<std::string> cstring;   // the copy a retained C string points at

  void* data() { return buffer.get(); }
  const void* data() const { return buffer.get(); }
};

namespace {

std::unique_ptr<Invocation::Slot> makeSlot(const runtime::EncodedType& type);

bool sameLayout(const std::string& a, const std::string& b) {
  if (a.size() != b.size() && a.find("@?") == std::string::npos && b.find("@?") == std::string::npos) {
    return false;
  }
  auto strip = [](std::string s) {
    for (std::size_t p; (p = s.find("@?")) != std::string::npos;) s.erase(p + 1, 1);
    return s;
  };
  return strip(a) == strip(b);
}

struct RawNumber {
  enum Kind { signedInt, unsignedInt, floating } kind = signedInt;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  long double f = 0;
};

RawNumber readNumber(const void* p, char code) {
  RawNumber n;
  auto sgn = [&](std::int64_t v) {
    n.kind = RawNumber::signedInt;
    n.i = v;
  };
  auto uns = [&](std::uint64_t v) {
    n.kind = RawNumber::unsignedInt;
    n.u = v;
  };
  auto flt = [&](long double v) {
    n.kind = RawNumber::floating;
    n.f = v;
  };
  switch (code) {
    case 'c': {
      std::int8_t v;
      std::memcpy(&v, p, 1);
      sgn(v);
      break;
    }
    case 'C': {
      std::uint8_t v;
      std::memcpy(&v, p, 1);
      uns(v);
      break;
    }
    case 'B': {
      unsigned char v;
      std::memcpy(&v, p, 1);
      uns(v != 0);
      break;
    }
    case 's': {
      std::int16_t v;
      std::memcpy(&v, p, 2);
      sgn(v);
      break;
    }
    case 'S': {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      uns(v);
      break;
    }
    case 'i':
    case 'l': {
      std::int32_t v;
      std::memcpy(&v, p, 4);
      sgn(v);
      break;
    }
    case 'I':
    case 'L': {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      uns(v);
      break;
    }
    case 'q': {
      std::int64_t v;
      std::memcpy(&v, p, 8);
      sgn(v);
      break;
    }
    case 'Q': {
      std::uint64_t v;
      std::memcpy(&v, p, 8);
      uns(v);
      break;
    }
    case 'f': {
      float v;
      std::memcpy(&v, p, 4);
      flt(v);
      break;
    }
    case 'd': {
      double v;
      std::memcpy(&v, p, 8);
      flt(v);
      break;
    }
    default:
      break;
  }
  return n;
}

template <class T>
T numberAs(const RawNumber& n) {
  switch (n.kind) {
    case RawNumber::signedInt:
      return static_cast<T>(n.i);
    case RawNumber::unsignedInt:
      return static_cast<T>(n.u);
    default:
      return static_cast<T>(n.f);
  }
}

void writeNumber(void* p, char code, const RawNumber& n) {
  auto put = [p](auto v) { std::memcpy(p, &v, sizeof v); };
  switch (code) {
    case 'c':
      put(numberAs<std::int8_t>(n));
      break;
    case 'C':
      put(numberAs<std::uint8_t>(n));
      break;
    case 'B': {
      bool nonZero = n.kind == RawNumber::signedInt     ? n.i != 0
                     : n.kind == RawNumber::unsignedInt ? n.u != 0
                                                        : n.f != 0;
      put(static_cast<unsigned char>(nonZero ? 1 : 0));
      break;
    }
    case 's':
      put(numberAs<std::int16_t>(n));
      break;
    case 'S':
      put(numberAs<std::uint16_t>(n));
      break;
    case 'i':
    case 'l':
      put(numberAs<std::int32_t>(n));
      break;
    case 'I':
    case 'L':
      put(numberAs<std::uint32_t>(n));
      break;
    case 'q':
      put(numberAs<std::int64_t>(n));
      break;
    case 'Q':
      put(numberAs<std::uint64_t>(n));
      break;
    case 'f':
      put(numberAs<float>(n));
      break;
    case 'd':
      put(numberAs<double>(n));
      break;
    default:
      break;
  }
}

std::unique_ptr<Invocation::Slot> makeSlot(const runtime::EncodedType& type) {
  if (type.size > runtime::kMaxByValueSize) {
    runtime::raise("NSInvalidArgumentException",
                   "+[NSInvocation invocationWithMethodSignature:]: a value of type '" + type.text +
                       "' is too large to pass by value");
  }
  auto s = std::make_unique<Invocation::Slot>();
  s->type = &type;
  std::size_t bytes = std::max<std::size_t>(type.size, 16);  // at least an ffi_arg
  s->capacity = (bytes + 15) / 16 * 16;
  s->buffer.reset(new long double[s->capacity / sizeof(long double)]);
  std::memset(s->buffer.get(), 0, s->capacity);
  return s;
}

std::string receiverText(const Ref<Object>& target, Sel sel) {
  bool isClass = object_isClass(target.get());
  Class cls = object_getClass(target.get());
  return std::string(isClass ? "+[" : "-[") + NSStringFromClass(cls) + " " + sel.name() + "]";
}

}  // namespace

Ref<Invocation> Invocation::invocationWithMethodSignature(const Ref<MethodSignature>& signature) {
  if (!signature) {
    runtime::raise("NSInvalidArgumentException",
                   "+[NSInvocation invocationWithMethodSignature:]: method signature argument cannot be nil");
  }
  return make<Invocation>(signature);
}

Invocation::Invocation(Ref<MethodSignature> signature) : signature_(std::move(signature)) {
  slots_.push_back(makeSlot(signature_->returnInfo()));
  for (std::size_t i = 0; i < signature_->numberOfArguments(); ++i) {
    slots_.push_back(makeSlot(signature_->argumentInfo(i)));
  }
}

Invocation::~Invocation() = default;

Invocation::Slot& Invocation::slot(long index, const char* operation) {
  return const_cast<Slot&>(static_cast<const Invocation*>(this)->slot(index, operation));
}

const Invocation::Slot& Invocation::slot(long index, const char* operation) const {
  long last = static_cast<long>(signature_->numberOfArguments()) - 1;
  if (index < -1 || index > last) {
    runtime::raise("NSInvalidArgumentException", std::string("-[NSInvocation ") + operation + "]: index (" +
                                                     std::to_string(index) + ") out of bounds [-1, " +
                                                     std::to_string(last) + "]");
  }
  return *slots_[static_cast<std::size_t>(index + 1)];
}

Ref<Object> Invocation::target() const {
  if (signature_->numberOfArguments() == 0) return nullptr;
  const Slot& s = *slots_[1];
  if (!runtime::isObjectType(s.type->normalized)) return nullptr;
  if (s.object) return s.object;
  Object* raw = nullptr;
  std::memcpy(&raw, s.data(), sizeof raw);
  return detail::tryRetain(raw);
}

void Invocation::setTarget(const Ref<Object>& target) {
  setArgumentValue<Ref<Object>>(0, target);
}

Sel Invocation::selector() const {
  if (signature_->numberOfArguments() < 2 || slots_[2]->type->normalized != ":") return Sel();
  SEL raw = nullptr;
  std::memcpy(&raw, slots_[2]->data(), sizeof raw);
  return Sel(raw);
}

void Invocation::setSelector(Sel sel) {
  if (signature_->numberOfArguments() < 2 || slots_[2]->type->normalized != ":") return;
  SEL raw = sel.raw();
  std::memcpy(slots_[2]->data(), &raw, sizeof raw);
}

void Invocation::keepObject(long index) {
  Slot& s = *slots_[static_cast<std::size_t>(index + 1)];
  const std::string& n = s.type->normalized;
  if (runtime::isObjectType(n) && n != "#") {
    Object* raw = nullptr;
    std::memcpy(&raw, s.data(), sizeof raw);
    if (!raw) {
      s.object.reset();
    } else if (!s.object || s.object.get() != raw) {
      s.object = detail::tryRetain(raw);
    }
  } else if (n == "*" && retained_ && index >= 0) {
    const char* text = nullptr;
    std::memcpy(&text, s.data(), sizeof text);
    if (text && !(s.cstring && s.cstring->c_str() == text)) {
      s.cstring = std::make_unique<std::string>(text);
      const char* copy = s.cstring->c_str();
      std::memcpy(s.data(), &copy, sizeof copy);
    } else if (!text) {
      s.cstring.reset();
    }
  }
}

void Invocation::getArgument(void* buffer, long index) const {
  const Slot& s = slot(index, "getArgument:atIndex:");
  if (buffer && s.type->size) std::memcpy(buffer, s.data(), s.type->size);
}

void Invocation::setArgument(const void* buffer, long index) {
  Slot& s = slot(index, "setArgument:atIndex:");
  if (s.type->size == 0) return;
  if (buffer) {
    std::memcpy(s.data(), buffer, s.type->size);
  } else {
    std::memset(s.data(), 0, s.type->size);
  }
  keepObject(index);
}

void Invocation::getReturnValue(void* buffer) const {
  getArgument(buffer, -1);
}
void Invocation::setReturnValue(const void* buffer) {
  setArgument(buffer, -1);
}

void Invocation::retainArguments() {
  if (retained_) return;
  retained_ = true;
  for (long i = 0; i < static_cast<long>(signature_->numberOfArguments()); ++i) keepObject(i);
}

void Invocation::checkArgumentType(long index, const std::string& normalized, bool intoSlot) const {
  const Slot& s = slot(index, index < 0 ? "getReturnValue:" : "setArgument:atIndex:");
  auto match = intoSlot ? runtime::matchTypes(normalized, s.type->normalized)
                        : runtime::matchTypes(s.type->normalized, normalized);
  if (match == runtime::TypeMatch::mismatch) {
    std::string what = index < 0 ? "the return value" : "argument " + std::to_string(index);
    runtime::raise("NSInvalidArgumentException", "-[NSInvocation " + selector().name() + "]: " + what +
                                                     " has type '" + s.type->normalized + "', not '" +
                                                     normalized + "'");
  }
}

void Invocation::setArgumentTyped(long index, const void* canon, const std::string& normalized,
                                  Ref<Object> keep) {
  if (normalized == "*" && slot(index, "setArgument:atIndex:").type->normalized == "@") {
    // A C string given for an object parameter travels as a string value.
    const char* text = nullptr;
    std::memcpy(&text, canon, sizeof text);
    Ref<Object> box;
    Object* boxed = text ? runtime::boxValue(Value(text), box) : nullptr;
    setArgumentTyped(index, &boxed, "@", std::move(box));
    return;
  }
  checkArgumentType(index, normalized, true);
  Slot& s = slot(index, "setArgument:atIndex:");
  const std::string& to = s.type->normalized;
  if (runtime::isArithmeticType(to) && normalized != to) {
    writeNumber(s.data(), to[0], readNumber(canon, normalized[0]));
  } else {
    std::memcpy(s.data(), canon, s.type->size);
  }
  if (keep) s.object = std::move(keep);
  keepObject(index);
}

void Invocation::getArgumentTyped(long index, void* canon, const std::string& normalized) const {
  checkArgumentType(index, normalized, false);
  const Slot& s = slot(index, "getArgument:atIndex:");
  const std::string& from = s.type->normalized;
  if (runtime::isArithmeticType(from) && normalized != from) {
    writeNumber(canon, normalized[0], readNumber(s.data(), from[0]));
  } else {
    std::memcpy(canon, s.data(), s.type->size);
  }
}

void Invocation::callThroughFfi(void (*fn)(), const Ref<MethodSignature>& signature) {
  auto* cif = static_cast<ffi_cif*>(signature->callInterface());
  if (!cif || !fn) {
    runtime::raise("NSInvalidArgumentException", "-[NSInvocation invoke]: cannot call a method of type '" +
                                                     signature->typeEncoding() + "'");
  }
  std::vector<void*> values(signature->numberOfArguments());
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = slots_[i + 1]->data();
  void* literal = nullptr;
  if (!values.empty() && slots_[1]->type->normalized == "@?") {
    // A block is called with its literal, not with the object that owns it.
    Object* raw = nullptr;
    std::memcpy(&raw, slots_[1]->data(), sizeof raw);
    literal = static_cast<Block*>(raw)->literal();
    values[0] = &literal;
  }
  Slot& ret = *slots_[0];
  std::memset(ret.data(), 0, ret.capacity);
  ffi_call(cif, fn, ret.data(), values.data());
  const std::string& rn = ret.type->normalized;
  if (runtime::isArithmeticType(rn) && !runtime::isFloatingType(rn) && ret.type->size < sizeof(ffi_arg)) {
    // libffi widens small integer results to a full ffi_arg; narrow them back in place. A float
    // is stored as it is.
    ffi_arg wide = 0;
    std::memcpy(&wide, ret.data(), sizeof wide);
    std::memset(ret.data(), 0, ret.capacity);
    RawNumber n;
    n.kind = RawNumber::unsignedInt;
    n.u = wide;
    if (rn[0] == 'c' || rn[0] == 's' || rn[0] == 'i' || rn[0] == 'l') {
      n.kind = RawNumber::signedInt;
      n.i = static_cast<std::int64_t>(static_cast<ffi_sarg>(wide));
    }
    writeNumber(ret.data(), rn[0], n);
  }
  if (runtime::isObjectType(rn) && rn != "#") {
    ret.object = detail::takeReturnSlot();
    keepObject(-1);
  }
  detail::rethrowPendingException();
}

void Invocation::invokeImplementation(const Imp& imp, const std::string& types) {
  std::string callee = imp.types ? *imp.types : runtime::normalizeEncoding(types);
  if (!sameLayout(signature_->normalized(), callee)) {
    runtime::raise("NSInvalidArgumentException", receiverText(target(), selector()) + ": the method takes '" +
                                                     callee + "' but was called as '" +
                                                     signature_->normalized() + "'");
  }
  callThroughFfi(imp.fn, signature_);
}

void Invocation::invoke() {
  Ref<Object> receiver = target();
  if (!receiver) {
    std::memset(slots_[0]->data(), 0, slots_[0]->capacity);
    slots_[0]->object.reset();
    return;
  }
  if (slots_[1]->type->normalized == "@?") {
    auto* block = dynamic_cast<Block*>(receiver.get());
    if (!block) {
      runtime::raise("NSInvalidArgumentException", "-[NSInvocation invoke]: the target is not a block");
    }
    if (!sameLayout(signature_->normalized(), block->methodSignature()->normalized())) {
      runtime::raise("NSInvalidArgumentException",
                     "-[NSInvocation invoke]: the block's signature '" + std::string(block->signature()) +
                         "' does not match '" + signature_->typeEncoding() + "'");
    }
    callThroughFfi(block->literal()->invoke, signature_);
    return;
  }
  detail::dispatchInvocation(*this, receiver);
}

void Invocation::invokeWithTarget(const Ref<Object>& target) {
  setTarget(target);
  invoke();
}

}  // namespace ns
