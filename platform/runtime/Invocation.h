#pragma once
// A message as an object: target, selector and arguments stored in buffers laid out by a method
// signature, invoked through libffi on the target's current implementation (or on a block when
// argument 0 is a block). Object arguments and the target are kept alive by the invocation;
// retainArguments additionally copies C strings, as the platform does.
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/runtime/MethodSignature.h"
#include "platform/runtime/Runtime.h"
#include "platform/runtime/TypeCodec.h"

namespace ns {

class Invocation : public Object {
 public:
  static Ref<Invocation> invocationWithMethodSignature(const Ref<MethodSignature>& signature);
  explicit Invocation(Ref<MethodSignature> signature);
  ~Invocation() override;

  const Ref<MethodSignature>& methodSignature() const { return signature_; }
  Ref<Object> target() const;
  void setTarget(const Ref<Object>& target);
  Sel selector() const;
  void setSelector(Sel sel);

  // Raw access: `buffer` holds a value of the argument's type. Index -1 is the return value.
  // An index out of range raises NSInvalidArgumentException.
  void getArgument(void* buffer, long index) const;
  void setArgument(const void* buffer, long index);
  void getReturnValue(void* buffer) const;
  void setReturnValue(const void* buffer);

  void retainArguments();
  bool argumentsRetained() const { return retained_; }

  // Calls the target's implementation of the selector (resolving and forwarding like a send),
  // or the block in argument 0 for a block signature. A null target does nothing.
  void invoke();
  void invokeWithTarget(const Ref<Object>& target);

  std::string className() const override { return "NSInvocation"; }

  // Typed access, checked against the signature: arithmetic values convert, anything else must
  // have the argument's layout, otherwise NSInvalidArgumentException.
  template <class T>
  void setArgumentValue(long index, const T& value) {
    Ref<Object> keep;
    runtime::Canon<T> c = runtime::toCanon(value, keep);
    setArgumentTyped(index, &c, normalizedOf<T>(), std::move(keep));
  }
  template <class T>
  T argumentValue(long index) const {
    runtime::Canon<T> c{};
    getArgumentTyped(index, &c, normalizedOf<T>());
    return runtime::fromCanon<T>(c);
  }
  template <class T>
  T returnValue() const {
    runtime::Canon<T> c{};
    getArgumentTyped(-1, &c, normalizedOf<T>());
    return runtime::fromCanon<T>(c);
  }
  template <class T>
  void setReturnValueFrom(const T& value) {
    Ref<Object> keep;
    runtime::Canon<T> c = runtime::toCanon(value, keep);
    setArgumentTyped(-1, &c, normalizedOf<T>(), std::move(keep));
  }

  template <class T>
  static const std::string& normalizedOf() {
    static const std::string n = runtime::normalizeEncoding(runtime::encodingOf<T>());
    return n;
  }

  // Internal entry points of the typed accessors and of the send path.
  void setArgumentTyped(long index, const void* canon, const std::string& normalized, Ref<Object> keep);
  void getArgumentTyped(long index, void* canon, const std::string& normalized) const;
  // `intoSlot`: the value flows from the caller into the invocation (else out of it).
  void checkArgumentType(long index, const std::string& normalized, bool intoSlot) const;
  void invokeImplementation(const Imp& imp, const std::string& types);

  struct Slot;  // one stored value; defined in the .cpp

 private:
  Slot& slot(long index, const char* operation);
  const Slot& slot(long index, const char* operation) const;
  void keepObject(long index);
  void callThroughFfi(void (*fn)(), const Ref<MethodSignature>& signature);

  Ref<MethodSignature> signature_;
  std::vector<std::unique_ptr<Slot>> slots_;  // [0] is the return value, [i+1] argument i
  bool retained_ = false;
};

}  // namespace ns
