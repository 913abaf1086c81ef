#pragma once
// A dynamic delegate answers the methods of one delegate protocol with closures and passes every
// other message on to an ordinary delegate, the real delegate (held weakly). It is a forwarding
// proxy of the object runtime: messages reach it through ns::send.
#include <map>
#include <mutex>
#include <string>

#include "lib/foundation/BlockInvocation.h"
#include "platform/core/Object.h"
#include "platform/runtime/Block.h"
#include "platform/runtime/Proxy.h"
#include "platform/runtime/Runtime.h"

class DynamicClassDelegate;

class DynamicDelegate : public ns::Proxy {
 public:
  // Made by class name ("Dynamic" + protocol name when such a class is registered), so the
  // protocol is given after construction.
  static ns::Ref<DynamicDelegate> initWithProtocol(ns::Protocol* protocol);
  void setProtocol(ns::Protocol* protocol) { protocol_ = protocol; }

  // Binds a closure to a method the protocol declares (required first, then optional); a
  // selector the protocol does not declare is ignored. A null block removes the binding.
  void implementMethod_withBlock(ns::Sel sel, const ns::Ref<ns::Block>& block);
  void removeBlockImplementationForMethod(ns::Sel sel) { implementMethod_withBlock(sel, nullptr); }
  ns::Ref<ns::Block> blockImplementationForMethod(ns::Sel sel) const;
  void implementClassMethod_withBlock(ns::Sel sel, const ns::Ref<ns::Block>& block);
  void removeBlockImplementationForClassMethod(ns::Sel sel);
  ns::Ref<ns::Block> blockImplementationForClassMethod(ns::Sel sel);

  ns::Ref<ns::Object> realDelegate() const;
  void setRealDelegate(const ns::Ref<ns::Object>& delegate);
  ns::Protocol* protocol() const { return protocol_; }
  // Free storage for subclasses, by key.
  ns::Ref<ns::Object> handlerForKey(const std::string& key) const;
  void setHandler_forKey(const ns::Ref<ns::Object>& handler, const std::string& key);
  ns::Ref<BlockInvocation> blockInvocationForSelector(ns::Sel sel) const;
  ns::Ref<DynamicClassDelegate> classProxy();
  virtual bool isClassProxy() const { return false; }

  // What the runtime asks a forwarding proxy.
  virtual bool respondsToSelector(ns::Sel sel);
  virtual ns::Ref<ns::MethodSignature> methodSignatureForSelector(ns::Sel sel);
  virtual void forwardInvocation(ns::Ref<ns::Invocation> invocation);
  bool conformsToProtocol(ns::Ref<ns::Protocol> protocol);
  void doesNotRecognizeSelector(ns::Sel sel);
  std::string description() const override;
  std::string className() const override { return "DynamicDelegate"; }

 protected:
  bool isClassSide() const { return isClassProxy(); }
  mutable std::mutex mutex_;
  ns::Protocol* protocol_ = nullptr;
  std::map<std::string, ns::Ref<BlockInvocation>> blockInvocations_;
  std::map<std::string, ns::Ref<ns::Object>> handlers_;
  ns::Weak<ns::Object> realDelegate_;
  ns::Ref<DynamicClassDelegate> classProxy_;
};

// Answers class messages of the protocol for the proxied class.
class DynamicClassDelegate : public DynamicDelegate {
 public:
  static ns::Ref<DynamicClassDelegate> initWithClass(ns::Class cls, ns::Protocol* protocol);
  ns::Class proxiedClass() const { return proxiedClass_; }
  bool isClassProxy() const override { return true; }
  bool respondsToSelector(ns::Sel sel) override;
  ns::Ref<ns::MethodSignature> methodSignatureForSelector(ns::Sel sel) override;
  void forwardInvocation(ns::Ref<ns::Invocation> invocation) override;
  std::string description() const override;
  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;

 private:
  ns::Class proxiedClass_ = nullptr;
};

// The dynamic delegates of an object, one per protocol, kept as associated objects of the owner.
struct ObjectDynamicDelegate {
  static ns::Ref<DynamicDelegate> dynamicDelegateForProtocol(const ns::Object* owner, ns::Protocol* protocol);
  // For the protocol named after the owner's class plus "Delegate" / "DataSource".
  static ns::Ref<DynamicDelegate> dynamicDelegate(const ns::Object* owner);
  static ns::Ref<DynamicDelegate> dynamicDataSource(const ns::Object* owner);
};

// Replacing a class's delegate accessors so that callers still see and set their ordinary
// delegate while a dynamic delegate answers in between, and adding closure properties bound to
// protocol methods. Only calls made through the runtime see the replaced accessors.
struct ObjectBlockDelegate {
  static void registerDynamicDelegate(ns::Class cls);
  static void registerDynamicDataSource(ns::Class cls);
  static void registerDynamicDelegateNamed(ns::Class cls, const std::string& name);
  static void registerDynamicDataSourceNamed(ns::Class cls, const std::string& name);
  static void registerDynamicDelegateNamed_forProtocol(ns::Class cls, const std::string& name,
                                                       ns::Protocol* protocol);
  // Property name -> protocol selector name.
  static void linkDelegateMethods(ns::Class cls, const std::map<std::string, std::string>& methods);
  static void linkDataSourceMethods(ns::Class cls, const std::map<std::string, std::string>& methods);
  static void linkProtocol_methods(ns::Class cls, ns::Protocol* protocol,
                                   const std::map<std::string, std::string>& methods);
  // Protocol name -> delegate property name, for the classes that registered one.
  static std::map<std::string, std::string> blk_delegateNameMap(ns::Class cls);
};
