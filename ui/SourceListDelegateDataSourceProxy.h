#pragma once
// The outline view inside a SourceList sees this proxy as its delegate and data source. It claims
// the outline methods the list answers itself, the four required data-source methods, and the
// optional outline methods whose source-list counterpart the application's object implements;
// each message is answered by the list, passed through, or re-sent under its source-list name
// (outlineView -> sourceList, table-column argument dropped). The outline's delegate
// notifications are re-posted under source-list names.
//
// The rename tables are built once per process, in the class's initialize hook, from the
// platform's NSOutlineViewDelegate and NSOutlineViewDataSource descriptions.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Notification.h"
#include "platform/runtime/Invocation.h"
#include "platform/runtime/MethodSignature.h"
#include "platform/runtime/Proxy.h"
#include "platform/runtime/Runtime.h"

class SourceList;

class SourceListDelegateDataSourceProxy : public ns::Proxy {
 public:
  // One entry of the forwarding map. Argument positions count from 0, the outline view being 0;
  // the new method's argument i takes the received argument at forwardedArgumentIndexes[i].
  struct ForwardingEntry {
    std::string methodName;
    std::optional<std::vector<long>> forwardedArgumentIndexes;
  };

  SourceListDelegateDataSourceProxy();
  ~SourceListDelegateDataSourceProxy() override;
  void init(const ns::Ref<SourceList>& sourceList) { initWithSourceList(sourceList); }
  void initWithSourceList(const ns::Ref<SourceList>& sourceList);

  ns::Ref<SourceList> sourceList() const { return sourceList_.lock(); }
  void setSourceList(const ns::Ref<SourceList>& sourceList);
  // Not retained. Setting a delegate registers it for the list's notifications whose methods it
  // implements, after removing the previous one.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate);
  // Not retained.
  ns::Ref<ns::Object> dataSource() const { return dataSource_.lock(); }
  void setDataSource(const ns::Ref<ns::Object>& dataSource) { dataSource_ = dataSource; }

  // ---- the runtime's forwarding path ----
  ns::BOOL respondsToSelector(ns::Sel sel);
  ns::Ref<ns::Object> forwardingTargetForSelector(ns::Sel sel);
  ns::Ref<ns::MethodSignature> methodSignatureForSelector(ns::Sel sel);
  void forwardInvocation(ns::Ref<ns::Invocation> invocation);
  ns::BOOL conformsToProtocol(ns::Ref<ns::Protocol> protocol);

  // The data source for a data-source protocol name, else the delegate for a delegate protocol
  // name, else nil.
  ns::Ref<ns::Object> forwardingObjectForSelector(ns::Sel sel) const;
  bool getForwardingObject_andForwardingSelector_forSelector(ns::Ref<ns::Object>* object, ns::Sel* selector,
                                                             ns::Sel sel) const;

  // ---- the process-wide tables ----
  static std::optional<ForwardingEntry> forwardingInformationForSelector(ns::Sel sel);
  // Every method name of the protocol that renames, with its source-list name; the others are
  // logged and left out.
  static std::map<std::string, ForwardingEntry> methodNameMappingsForProtocol(const ns::Protocol* protocol);
  // "outlineView" (in any case) becomes "sourceList" keeping the case of its S and L; nil
  // without it.
  static std::optional<std::string> mappedMethodNameForMethodName(const std::string& name);
  static void addCustomMethodNameMappingFromSelector_toSelector_forwardedArgumentIndexes(
      ns::Sel from, ns::Sel to, std::optional<std::vector<long>> forwardedArgumentIndexes);

  void registerDelegateToReceiveNotification_withSelector(const std::string& name, ns::Sel sel);

  // ---- the outline view's notifications, re-posted with the list as object ----
  void outlineViewSelectionIsChanging(ns::Ref<ns::Notification> notification);
  void outlineViewSelectionDidChange(ns::Ref<ns::Notification> notification);
  void outlineViewItemWillExpand(ns::Ref<ns::Notification> notification);
  void outlineViewItemDidExpand(ns::Ref<ns::Notification> notification);
  void outlineViewItemWillCollapse(ns::Ref<ns::Notification> notification);
  void outlineViewItemDidCollapse(ns::Ref<ns::Notification> notification);

  std::string className() const override { return "SourceListDelegateDataSourceProxy"; }

 private:
  void unregisterDelegate();
  void repost(const char* name, const ns::Ref<ns::Notification>& notification, bool withUserInfo);

  ns::Weak<SourceList> sourceList_;
  // The list's identity, still known while the list is being torn down (when the weak reference
  // no longer locks), to remove the delegate's registrations naming it.
  const ns::Object* sourceListIdentity_ = nullptr;
  ns::Weak<ns::Object> delegate_;
  ns::Weak<ns::Object> dataSource_;
  std::vector<ns::Ref<ns::Object>> observerTokens_;
};
