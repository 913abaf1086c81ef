#include "lib/foundation/DynamicDelegate.h"

#include <cctype>
#include <cstdio>

#include "platform/core/Exception.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/runtime/AssociatedObjects.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace {

// Look-ups and creations of dynamic delegates happen one at a time, process-wide.
const ns::Ref<dispatch::Queue>& lookupQueue() {
  static ns::NoDestructor<ns::Ref<dispatch::Queue>> queue(
      dispatch::queueCreate("com.ordel42.zeravozezi.DynamicDelegate.backgroundQueue"));
  return *queue;
}

bool isDynamicDelegate(const ns::Ref<ns::Object>& object) {
  return dynamic_cast<const DynamicDelegate*>(object.get()) != nullptr;
}

ns::Ref<ns::MethodSignature> signatureFromEntry(const ns::runtime::MethodEntry& entry) {
  return entry ? ns::MethodSignature::signatureWithObjCTypes(*entry.types) : nullptr;
}

// The selectors of a delegate property: its declared custom getter and setter, else the name and
// "set" + Name + ":".
struct Accessors {
  ns::Sel getter, setter, dynGetter, dynSetter;
};

Accessors accessorsOf(ns::Class cls, const std::string& name) {
  std::string getter = name;
  std::string setter;
  if (!name.empty()) {
    setter = "set" + std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])))) +
             name.substr(1) + ":";
  }
  if (ns::Property p = ns::class_getProperty(cls, name)) {
    if (auto g = ns::property_copyAttributeValue(p, "G")) getter = *g;
    if (auto s = ns::property_copyAttributeValue(p, "S")) setter = *s;
  }
  return {ns::Sel(getter), ns::Sel(setter), ns::Sel("dyn_" + getter), ns::Sel("dyn_" + setter)};
}

// Installs the owner's dynamic delegate as its delegate through the class's own setter (the
// "dyn_" one), unless a dynamic delegate already sits there.
void installDynamicDelegate(const ns::Ref<ns::Object>& owner, const Accessors& accessors,
                            const ns::Ref<DynamicDelegate>& dynamic) {
  if (!ns::respondsToSelector(owner, accessors.dynSetter)) return;
  auto current = ns::send<ns::Ref<ns::Object>>(owner, accessors.dynGetter);
  if (isDynamicDelegate(current)) return;
  ns::send<void>(owner, accessors.dynSetter, ns::Ref<ns::Object>(dynamic));
}

class DelegateNameMap : public ns::Object {
 public:
  std::map<std::string, std::string> names;  // protocol name -> delegate property name
};

char kDelegateNameMapKey;

ns::Ref<DelegateNameMap> nameMapOf(ns::Class cls, bool create) {
  ns::objc_sync_enter(cls);
  auto map =
      std::dynamic_pointer_cast<DelegateNameMap>(ns::objc_getAssociatedObject(cls, &kDelegateNameMapKey));
  if (!map && create) {
    map = ns::make<DelegateNameMap>();
    ns::objc_setAssociatedObject(cls, &kDelegateNameMapKey, map, ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  }
  ns::objc_sync_exit(cls);
  return map;
}

// Adds an accessor; when the class already has its own, the new one goes under the "dyn_" name
// and the two are exchanged, so the "dyn_" name reaches the class's own accessor.
void addOrExchange(ns::Class cls, ns::Sel sel, ns::Sel dynSel, const ns::Ref<ns::Block>& block,
                   const char* types) {
  ns::Imp imp = ns::imp_implementationWithBlock(block);
  if (ns::class_addMethod(cls, sel, imp, types)) return;
  ns::class_addMethod(cls, dynSel, imp, types);
  ns::method_exchangeImplementations(ns::class_getInstanceMethod(cls, sel),
                                     ns::class_getInstanceMethod(cls, dynSel));
}

}  // namespace

PL_CLASS_NAMED(DynamicDelegate, "DynamicDelegate", ns::Proxy) {
  cls.method<&DynamicDelegate::respondsToSelector>("respondsToSelector:");
  cls.method<&DynamicDelegate::methodSignatureForSelector>("methodSignatureForSelector:");
  cls.method<&DynamicDelegate::forwardInvocation>("forwardInvocation:");
  cls.method<&DynamicDelegate::conformsToProtocol>("conformsToProtocol:");
  cls.method<&DynamicDelegate::doesNotRecognizeSelector>("doesNotRecognizeSelector:");
  cls.method<&DynamicDelegate::description>("description");
}

PL_CLASS_NAMED(DynamicClassDelegate, "DynamicClassDelegate", DynamicDelegate) {}

ns::Ref<DynamicDelegate> DynamicDelegate::initWithProtocol(ns::Protocol* protocol) {
  auto d = ns::make<DynamicDelegate>();
  d->protocol_ = protocol;
  return d;
}

void DynamicDelegate::implementMethod_withBlock(ns::Sel sel, const ns::Ref<ns::Block>& block) {
  if (!sel) return;
  std::string name = ns::NSStringFromSelector(sel);
  if (!block) {
    std::lock_guard lock(mutex_);
    blockInvocations_.erase(name);
    return;
  }
  bool instance = !isClassProxy();
  ns::MethodDescription d = ns::protocol_getMethodDescription(protocol_, sel, true, instance);
  if (!d.name) d = ns::protocol_getMethodDescription(protocol_, sel, false, instance);
  if (!d.name) return;  // the protocol does not declare it
  auto invocation = BlockInvocation::initWithBlock_methodSignature(
      block, ns::MethodSignature::signatureWithObjCTypes(d.types));
  if (!invocation) return;
  std::lock_guard lock(mutex_);
  blockInvocations_[name] = invocation;
}

ns::Ref<ns::Block> DynamicDelegate::blockImplementationForMethod(ns::Sel sel) const {
  auto invocation = blockInvocationForSelector(sel);
  return invocation ? invocation->block() : nullptr;
}

void DynamicDelegate::implementClassMethod_withBlock(ns::Sel sel, const ns::Ref<ns::Block>& block) {
  if (isClassProxy()) doesNotRecognizeSelector(ns::Sel("implementClassMethod:withBlock:"));
  classProxy()->implementMethod_withBlock(sel, block);
}

void DynamicDelegate::removeBlockImplementationForClassMethod(ns::Sel sel) {
  if (isClassProxy()) doesNotRecognizeSelector(ns::Sel("removeBlockImplementationForClassMethod:"));
  classProxy()->removeBlockImplementationForMethod(sel);
}

ns::Ref<ns::Block> DynamicDelegate::blockImplementationForClassMethod(ns::Sel sel) {
  if (isClassProxy()) doesNotRecognizeSelector(ns::Sel("blockImplementationForClassMethod:"));
  return classProxy()->blockImplementationForMethod(sel);
}

ns::Ref<ns::Object> DynamicDelegate::realDelegate() const {
  std::lock_guard lock(mutex_);
  return realDelegate_.lock();
}

void DynamicDelegate::setRealDelegate(const ns::Ref<ns::Object>& delegate) {
  std::lock_guard lock(mutex_);
  realDelegate_ = delegate;
}

ns::Ref<ns::Object> DynamicDelegate::handlerForKey(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = handlers_.find(key);
  return it == handlers_.end() ? nullptr : it->second;
}

void DynamicDelegate::setHandler_forKey(const ns::Ref<ns::Object>& handler, const std::string& key) {
  std::lock_guard lock(mutex_);
  if (handler) {
    handlers_[key] = handler;
  } else {
    handlers_.erase(key);
  }
}

ns::Ref<BlockInvocation> DynamicDelegate::blockInvocationForSelector(ns::Sel sel) const {
  std::lock_guard lock(mutex_);
  auto it = blockInvocations_.find(ns::NSStringFromSelector(sel));
  return it == blockInvocations_.end() ? nullptr : it->second;
}

ns::Ref<DynamicClassDelegate> DynamicDelegate::classProxy() {
  std::lock_guard lock(mutex_);
  if (!classProxy_) classProxy_ = DynamicClassDelegate::initWithClass(ns::object_getClass(this), protocol_);
  return classProxy_;
}

bool DynamicDelegate::respondsToSelector(ns::Sel sel) {
  if (blockInvocationForSelector(sel)) return true;
  if (ns::runtime::lookUpEntry(ns::object_getClass(this), sel, false, true)) return true;
  auto real = realDelegate();
  return real && ns::respondsToSelector(real, sel);
}

ns::Ref<ns::MethodSignature> DynamicDelegate::methodSignatureForSelector(ns::Sel sel) {
  if (auto invocation = blockInvocationForSelector(sel)) return invocation->methodSignature();
  if (auto real = realDelegate()) {
    if (auto signature =
            ns::send<ns::Ref<ns::MethodSignature>>(real, ns::Sel("methodSignatureForSelector:"), sel))
      return signature;
  }
  if (auto own = signatureFromEntry(ns::runtime::lookUpEntry(ns::object_getClass(this), sel, false, true)))
    return own;
  return signatureFromEntry(ns::runtime::lookUpEntry(ns::NSClassFromString("NSObject"), sel, false, true));
}

void DynamicDelegate::forwardInvocation(ns::Ref<ns::Invocation> invocation) {
  if (!invocation) return;
  if (auto bound = blockInvocationForSelector(invocation->selector())) {
    bound->invokeUsingInvocation(invocation);
    return;
  }
  auto real = realDelegate();
  if (real && ns::respondsToSelector(real, invocation->selector())) invocation->invokeWithTarget(real);
  // Nobody answers: the message is dropped.
}

bool DynamicDelegate::conformsToProtocol(ns::Ref<ns::Protocol> protocol) {
  if (protocol && protocol_ && ns::protocol_isEqual(protocol.get(), protocol_)) return true;
  for (ns::Class c = ns::object_getClass(this); c; c = ns::class_getSuperclass(c))
    if (ns::class_conformsToProtocol(c, protocol.get())) return true;
  return false;
}

void DynamicDelegate::doesNotRecognizeSelector(ns::Sel sel) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(this));
  ns::Exception::raise(ns::NSInvalidArgumentException,
                       "-[" + ns::NSStringFromClass(ns::object_getClass(this)) + " " +
                           ns::NSStringFromSelector(sel) + "]: unrecognized selector sent to instance " +
                           address);
}

std::string DynamicDelegate::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return std::string("<") + ns::NSStringFromClass(ns::object_getClass(this)) + ": " + address +
         "; protocol = " + (protocol_ ? protocol_->name() : std::string("(null)")) + ">";
}

ns::Ref<DynamicClassDelegate> DynamicClassDelegate::initWithClass(ns::Class cls, ns::Protocol* protocol) {
  auto d = ns::make<DynamicClassDelegate>();
  d->proxiedClass_ = cls;
  d->protocol_ = protocol;
  return d;
}

bool DynamicClassDelegate::respondsToSelector(ns::Sel sel) {
  if (blockInvocationForSelector(sel)) return true;
  return proxiedClass_ && ns::class_getClassMethod(proxiedClass_, sel) != nullptr;
}

ns::Ref<ns::MethodSignature> DynamicClassDelegate::methodSignatureForSelector(ns::Sel sel) {
  if (auto invocation = blockInvocationForSelector(sel)) return invocation->methodSignature();
  if (proxiedClass_) {
    if (auto own = signatureFromEntry(ns::runtime::lookUpEntry(proxiedClass_, sel, true, true))) return own;
  }
  return signatureFromEntry(ns::runtime::lookUpEntry(ns::NSClassFromString("NSObject"), sel, true, true));
}

void DynamicClassDelegate::forwardInvocation(ns::Ref<ns::Invocation> invocation) {
  if (!invocation) return;
  if (auto bound = blockInvocationForSelector(invocation->selector())) {
    bound->invokeUsingInvocation(invocation);
    return;
  }
  if (auto target = ns::detail::tryRetain(proxiedClass_)) invocation->invokeWithTarget(target);
}

std::string DynamicClassDelegate::description() const {
  return proxiedClass_ ? ns::NSStringFromClass(proxiedClass_) : std::string("(null)");
}

bool DynamicClassDelegate::isEqual(const ns::Object* other) const {
  return other == this || (proxiedClass_ && other == proxiedClass_);
}

std::size_t DynamicClassDelegate::hash() const {
  return proxiedClass_ ? proxiedClass_->hash() : 0;
}

ns::Ref<DynamicDelegate> ObjectDynamicDelegate::dynamicDelegateForProtocol(const ns::Object* owner,
                                                                           ns::Protocol* protocol) {
  if (!owner || !protocol) return nullptr;
  ns::Ref<DynamicDelegate> result;
  dispatch::sync(lookupQueue(), [&] {
    result = std::dynamic_pointer_cast<DynamicDelegate>(ns::objc_getAssociatedObject(owner, protocol));
    if (result) return;
    ns::Class cls = ns::NSClassFromString("Dynamic" + protocol->name());
    if (cls && ns::class_isSubclassOfClass(cls, ns::NSClassFromString("DynamicDelegate")))
      result = std::dynamic_pointer_cast<DynamicDelegate>(ns::class_createInstance(cls));
    if (!result) result = ns::make<DynamicDelegate>();
    result->setProtocol(protocol);
    ns::objc_setAssociatedObject(owner, protocol, result, ns::OBJC_ASSOCIATION_RETAIN_NONATOMIC);
  });
  return result;
}

ns::Ref<DynamicDelegate> ObjectDynamicDelegate::dynamicDelegate(const ns::Object* owner) {
  if (!owner) return nullptr;
  return dynamicDelegateForProtocol(
      owner, ns::objc_getProtocol(ns::NSStringFromClass(ns::object_getClass(owner)) + "Delegate"));
}

ns::Ref<DynamicDelegate> ObjectDynamicDelegate::dynamicDataSource(const ns::Object* owner) {
  if (!owner) return nullptr;
  return dynamicDelegateForProtocol(
      owner, ns::objc_getProtocol(ns::NSStringFromClass(ns::object_getClass(owner)) + "DataSource"));
}

void ObjectBlockDelegate::registerDynamicDelegate(ns::Class cls) {
  registerDynamicDelegateNamed_forProtocol(cls, "delegate",
                                           ns::objc_getProtocol(ns::NSStringFromClass(cls) + "Delegate"));
}

void ObjectBlockDelegate::registerDynamicDataSource(ns::Class cls) {
  registerDynamicDelegateNamed_forProtocol(cls, "dataSource",
                                           ns::objc_getProtocol(ns::NSStringFromClass(cls) + "DataSource"));
}

void ObjectBlockDelegate::registerDynamicDelegateNamed(ns::Class cls, const std::string& name) {
  registerDynamicDelegateNamed_forProtocol(cls, name,
                                           ns::objc_getProtocol(ns::NSStringFromClass(cls) + "Delegate"));
}

void ObjectBlockDelegate::registerDynamicDataSourceNamed(ns::Class cls, const std::string& name) {
  registerDynamicDelegateNamed_forProtocol(cls, name,
                                           ns::objc_getProtocol(ns::NSStringFromClass(cls) + "DataSource"));
}

void ObjectBlockDelegate::registerDynamicDelegateNamed_forProtocol(ns::Class cls, const std::string& name,
                                                                   ns::Protocol* protocol) {
  if (!cls || !protocol) return;
  auto map = nameMapOf(cls, true);
  {
    ns::objc_sync_enter(cls);
    bool known = map->names.count(protocol->name()) != 0;
    if (!known) map->names[protocol->name()] = name;
    ns::objc_sync_exit(cls);
    if (known) return;
  }
  Accessors accessors = accessorsOf(cls, name);
  auto getter = ns::block<ns::Ref<ns::Object>(ns::Ref<ns::Object>)>([protocol](ns::Ref<ns::Object> owner) {
    auto dynamic = ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), protocol);
    return dynamic ? dynamic->realDelegate() : nullptr;
  });
  auto setter = ns::block<void(ns::Ref<ns::Object>, ns::Ref<ns::Object>)>(
      [protocol, accessors](ns::Ref<ns::Object> owner, ns::Ref<ns::Object> delegate) {
        auto dynamic = ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), protocol);
        if (!dynamic) return;
        installDynamicDelegate(owner, accessors, dynamic);
        dynamic->setRealDelegate(delegate == dynamic ? nullptr : delegate);
      });
  addOrExchange(cls, accessors.getter, accessors.dynGetter, getter, "@@:");
  addOrExchange(cls, accessors.setter, accessors.dynSetter, setter, "v@:@");
}

void ObjectBlockDelegate::linkDelegateMethods(ns::Class cls,
                                              const std::map<std::string, std::string>& methods) {
  linkProtocol_methods(cls, ns::objc_getProtocol(ns::NSStringFromClass(cls) + "Delegate"), methods);
}

void ObjectBlockDelegate::linkDataSourceMethods(ns::Class cls,
                                                const std::map<std::string, std::string>& methods) {
  linkProtocol_methods(cls, ns::objc_getProtocol(ns::NSStringFromClass(cls) + "DataSource"), methods);
}

void ObjectBlockDelegate::linkProtocol_methods(ns::Class cls, ns::Protocol* protocol,
                                               const std::map<std::string, std::string>& methods) {
  if (!cls || !protocol) return;
  // The delegate property that carries this protocol, from the class or its superclasses.
  std::optional<std::string> delegateName;
  ns::Class nsObject = ns::NSClassFromString("NSObject");
  for (ns::Class c = cls; c && c != nsObject && !delegateName; c = ns::class_getSuperclass(c)) {
    if (auto map = nameMapOf(c, false)) {
      ns::objc_sync_enter(c);
      auto it = map->names.find(protocol->name());
      if (it != map->names.end()) delegateName = it->second;
      ns::objc_sync_exit(c);
    }
  }
  std::optional<Accessors> delegateAccessors;
  if (delegateName) delegateAccessors = accessorsOf(cls, *delegateName);

  for (const auto& [property, selectorName] : methods) {
    Accessors accessors = accessorsOf(cls, property);
    if (ns::class_respondsToSelector(cls, accessors.getter) ||
        ns::class_respondsToSelector(cls, accessors.setter))
      continue;
    ns::Sel sel(selectorName);
    auto getter =
        ns::block<ns::Ref<ns::Object>(ns::Ref<ns::Object>)>([protocol, sel](ns::Ref<ns::Object> owner) {
          auto dynamic = ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), protocol);
          return ns::Ref<ns::Object>(dynamic ? dynamic->blockImplementationForMethod(sel) : nullptr);
        });
    auto setter = ns::block<void(ns::Ref<ns::Object>, ns::Ref<ns::Object>)>(
        [protocol, sel, delegateAccessors](ns::Ref<ns::Object> owner, ns::Ref<ns::Object> block) {
          auto dynamic = ObjectDynamicDelegate::dynamicDelegateForProtocol(owner.get(), protocol);
          if (!dynamic) return;
          if (delegateAccessors) installDynamicDelegate(owner, *delegateAccessors, dynamic);
          dynamic->implementMethod_withBlock(sel, std::dynamic_pointer_cast<ns::Block>(block));
        });
    ns::class_addMethod(cls, accessors.getter, ns::imp_implementationWithBlock(getter), "@@:");
    ns::class_addMethod(cls, accessors.setter, ns::imp_implementationWithBlock(setter), "v@:@");
  }
}

std::map<std::string, std::string> ObjectBlockDelegate::blk_delegateNameMap(ns::Class cls) {
  auto map = nameMapOf(cls, true);
  ns::objc_sync_enter(cls);
  auto copy = map->names;
  ns::objc_sync_exit(cls);
  return copy;
}
