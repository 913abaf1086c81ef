#include "ui/SourceListDelegateDataSourceProxy.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Raise.h"
#include "platform/runtime/Send.h"
#include "ui/SourceList.h"
#include "ui/UINotifications.h"

namespace {

using Proxy = SourceListDelegateDataSourceProxy;
using Entry = Proxy::ForwardingEntry;

constexpr char kDelegateProtocol[] = "NSOutlineViewDelegate";
constexpr char kDataSourceProtocol[] = "NSOutlineViewDataSource";

// Built once, in the class's initialize hook, and kept for the process.
// Keyed by selector (interned, so hashing is by address) rather than by name: every outline
// call looks here.
struct Tables {
  std::unordered_set<ns::Sel> delegateNames;
  std::unordered_set<ns::Sel> dataSourceNames;
  std::unordered_set<ns::Sel> delegatePassThrough;  // fastPathForwardingDelegateMethods
  std::unordered_set<ns::Sel> dataSourcePassThrough;
  std::unordered_set<ns::Sel> requiredDataSourceNames;
  std::unordered_map<ns::Sel, Entry> forwardingMap;  // methodForwardingMap
  // The signature of every protocol name, as the protocol describes it.
  std::unordered_map<ns::Sel, ns::Ref<ns::MethodSignature>> signatures;
};

Tables& tables() {
  static ns::NoDestructor<Tables> t;
  return *t;
}

const std::set<std::string>& blacklist() {
  static const ns::NoDestructor<std::set<std::string>> names(std::set<std::string>{
      "outlineView:shouldSelectTableColumn:", "outlineView:shouldReorderColumn:toColumn:",
      "outlineView:mouseDownInHeaderOfTableColumn:", "outlineView:didClickTableColumn:",
      "outlineView:didDragTableColumn:", "outlineView:sizeToFitWidthOfColumn:", "outlineViewColumnDidMove:",
      "outlineViewColumnDidResize:", "outlineView:isGroupItem:"});
  return *names;
}

struct MethodRecord {
  std::string methodName;
  std::string types;
  bool isRequired = false;
};

// The protocol's methods, read in four passes: optional class methods, optional instance
// methods, required class methods, required instance methods.
std::vector<MethodRecord> methodsOf(const ns::Protocol* protocol) {
  std::vector<MethodRecord> out;
  if (!protocol) return out;
  for (auto [required, instance] : {std::pair{false, false}, {false, true}, {true, false}, {true, true}})
    for (const auto& d : ns::protocol_copyMethodDescriptionList(protocol, required, instance))
      out.push_back({d.name.name(), d.types, required});
  return out;
}

void ensureTables() {
  static ns::Class cls = ns::objc_getClass("SourceListDelegateDataSourceProxy");
  ns::runtime::ensureInitialized(cls);
}

void addCustomMethodNameMappings() {
  const std::pair<const char*, const char*> renames[] = {
      {"outlineView:objectValueForTableColumn:byItem:", "sourceList:objectValueForItem:"},
      {"outlineView:setObjectValue:forTableColumn:byItem:", "sourceList:setObjectValue:forItem:"},
      {"outlineView:viewForTableColumn:item:", "sourceList:viewForItem:"},
      {"outlineView:willDisplayCell:forTableColumn:item:", "sourceList:willDisplayCell:forItem:"},
      {"outlineView:shouldEditTableColumn:item:", "sourceList:shouldEditItem:"},
      {"outlineView:toolTipForCell:rect:tableColumn:item:mouseLocation:",
       "sourceList:toolTipForCell:rect:item:mouseLocation:"},
      {"outlineView:typeSelectStringForTableColumn:item:", "sourceList:typeSelectStringForItem:"},
      {"outlineView:shouldShowCellExpansionForTableColumn:item:",
       "sourceList:shouldShowCellExpansionForItem:"},
      {"outlineView:shouldTrackCell:forTableColumn:item:", "sourceList:shouldTrackCell:forItem:"},
      {"outlineView:dataCellForTableColumn:item:", "sourceList:dataCellForItem:"},
  };
  const std::vector<long> indexes[] = {{0, 2},          {0, 1, 3}, {0, 2}, {0, 1, 3}, {0, 2},
                                       {0, 1, 2, 4, 5}, {0, 2},    {0, 2}, {0, 1, 3}, {0, 2}};
  for (std::size_t i = 0; i < std::size(renames); ++i)
    tables().forwardingMap[ns::Sel(renames[i].first)] = {renames[i].second, indexes[i]};
}

void addEntriesToMethodForwardingMap(const std::map<std::string, Entry>& entries) {
  auto& map = tables().forwardingMap;
  for (const auto& [name, entry] : entries)
    if (!blacklist().count(name) && !map.count(ns::Sel(name))) map.emplace(ns::Sel(name), entry);
}

// The first description with a name and types, looked up as optional class, optional instance,
// required class, then required instance method.
ns::Ref<ns::MethodSignature> describedSignature(const ns::Protocol* protocol, ns::Sel sel) {
  for (auto [required, instance] : {std::pair{false, false}, {false, true}, {true, false}, {true, true}}) {
    auto description = ns::protocol_getMethodDescription(protocol, sel, required, instance);
    if (description.name && !description.types.empty())
      return ns::MethodSignature::signatureWithObjCTypes(description.types);
  }
  return nullptr;
}

void buildTables() {
  auto& t = tables();
  const ns::Protocol* delegateProtocol = ns::objc_getProtocol(kDelegateProtocol);
  const ns::Protocol* dataSourceProtocol = ns::objc_getProtocol(kDataSourceProtocol);
  for (const auto& m : methodsOf(delegateProtocol)) t.delegateNames.insert(m.methodName);
  for (const auto& m : methodsOf(dataSourceProtocol)) t.dataSourceNames.insert(m.methodName);
  for (const auto& m : methodsOf(ns::objc_getProtocol("SourceListDelegate")))
    t.delegatePassThrough.insert(m.methodName);
  t.delegatePassThrough.insert(
      {"controlTextDidEndEditing:", "controlTextDidBeginEditing:", "controlTextDidChange:"});
  for (const auto& m : methodsOf(ns::objc_getProtocol("SourceListDataSource")))
    t.dataSourcePassThrough.insert(m.methodName);
  t.requiredDataSourceNames = {
      "outlineView:numberOfChildrenOfItem:", "outlineView:child:ofItem:", "outlineView:isItemExpandable:",
      "outlineView:objectValueForTableColumn:byItem:"};
  // Delegate names first: a name in both protocols takes the delegate's description.
  for (const auto& sel : t.dataSourceNames)
    if (auto signature = describedSignature(dataSourceProtocol, sel)) t.signatures[sel] = signature;
  for (const auto& sel : t.delegateNames)
    if (auto signature = describedSignature(delegateProtocol, sel)) t.signatures[sel] = signature;
  addCustomMethodNameMappings();
  addEntriesToMethodForwardingMap(Proxy::methodNameMappingsForProtocol(delegateProtocol));
  addEntriesToMethodForwardingMap(Proxy::methodNameMappingsForProtocol(dataSourceProtocol));
}

// Copies one value between invocations of different signatures: arithmetic values convert,
// objects pass as they are, anything else must have the same layout.
void copyValue(const ns::Invocation& from, long fromIndex, ns::Invocation& to, long toIndex) {
  const auto& fromType = fromIndex < 0 ? from.methodSignature()->returnInfo()
                                       : from.methodSignature()->argumentInfo(std::size_t(fromIndex));
  const auto& toType = toIndex < 0 ? to.methodSignature()->returnInfo()
                                   : to.methodSignature()->argumentInfo(std::size_t(toIndex));
  std::vector<unsigned char> buffer(std::max<std::size_t>({fromType.size, toType.size, 16}), 0);
  from.getArgument(buffer.data(), fromIndex);
  to.setArgumentTyped(toIndex, buffer.data(), fromType.normalized, nullptr);
}

}  // namespace

// ---- set-up ----

SourceListDelegateDataSourceProxy::SourceListDelegateDataSourceProxy() = default;

SourceListDelegateDataSourceProxy::~SourceListDelegateDataSourceProxy() {
  unregisterDelegate();
}

void SourceListDelegateDataSourceProxy::initWithSourceList(const ns::Ref<SourceList>& sourceList) {
  setSourceList(sourceList);
}

void SourceListDelegateDataSourceProxy::setSourceList(const ns::Ref<SourceList>& sourceList) {
  sourceList_ = sourceList;
  sourceListIdentity_ = sourceList.get();
}

void SourceListDelegateDataSourceProxy::unregisterDelegate() {
  auto center = ns::NotificationCenter::defaultCenter();
  for (const auto& token : observerTokens_) center->removeObserver(token.get());
  observerTokens_.clear();
  // Only registrations naming this list, and only while the old delegate still exists: a freed
  // delegate's address may already belong to someone else.
  if (auto old = delegate_.lock(); old && sourceListIdentity_)
    center->removeObserver_name_object(old.get(), std::nullopt, sourceListIdentity_);
}

void SourceListDelegateDataSourceProxy::setDelegate(const ns::Ref<ns::Object>& delegate) {
  unregisterDelegate();
  delegate_ = delegate;
  if (!delegate) return;
  static const std::pair<const char*, const char*> notifications[] = {
      {kSourceListSelectionIsChangingNotification, "sourceListSelectionIsChanging:"},
      {kSourceListSelectionDidChangeNotification, "sourceListSelectionDidChange:"},
      {kSourceListItemWillExpandNotification, "sourceListItemWillExpand:"},
      {kSourceListItemDidExpandNotification, "sourceListItemDidExpand:"},
      {kSourceListItemWillCollapseNotification, "sourceListItemWillCollapse:"},
      {kSourceListItemDidCollapseNotification, "sourceListItemDidCollapse:"},
      {kSourceListDeleteKeyPressedOnRowsNotification, "sourceListDeleteKeyPressedOnRows:"},
  };
  for (const auto& [name, selector] : notifications)
    registerDelegateToReceiveNotification_withSelector(name, ns::Sel(selector));
}

void SourceListDelegateDataSourceProxy::registerDelegateToReceiveNotification_withSelector(
    const std::string& name, ns::Sel sel) {
  auto delegate = this->delegate();
  auto list = sourceList();
  // Without a list the registration would match every sender.
  if (!delegate || !list || !ns::respondsToSelector(delegate, sel)) return;
  ns::Weak<ns::Object> weak = delegate;
  observerTokens_.push_back(
      ns::NotificationCenter::defaultCenter()->addObserverForName_object_queue_usingBlock(
          name, list, nullptr, [weak, sel](const ns::Ref<ns::Notification>& note) {
            if (auto d = weak.lock()) ns::send(d, sel, note);
          }));
}

// ---- the tables ----

std::optional<std::string> SourceListDelegateDataSourceProxy::mappedMethodNameForMethodName(
    const std::string& name) {
  static const std::string needle = "outlineview";
  auto it = std::search(name.begin(), name.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
  if (it == name.end()) return std::nullopt;
  const std::size_t at = std::size_t(it - name.begin());
  const bool upperS = std::isupper(static_cast<unsigned char>(name[at]));
  const bool upperL = std::isupper(static_cast<unsigned char>(name[at + 7]));
  std::string replacement = std::string(upperS ? "S" : "s") + "ource" + (upperL ? "L" : "l") + "ist";
  return name.substr(0, at) + replacement + name.substr(at + needle.size());
}

std::map<std::string, Proxy::ForwardingEntry>
SourceListDelegateDataSourceProxy::methodNameMappingsForProtocol(const ns::Protocol* protocol) {
  std::map<std::string, ForwardingEntry> out;
  for (const auto& method : methodsOf(protocol)) {
    auto mapped = mappedMethodNameForMethodName(method.methodName);
    if (!mapped) {
      ns::Log("SourceList: couldn't map method %@ from %@", method.methodName, protocol->name());
      continue;
    }
    out[method.methodName] = {*mapped, std::nullopt};
  }
  return out;
}

void SourceListDelegateDataSourceProxy::
    addCustomMethodNameMappingFromSelector_toSelector_forwardedArgumentIndexes(
        ns::Sel from, ns::Sel to, std::optional<std::vector<long>> forwardedArgumentIndexes) {
  ensureTables();
  tables().forwardingMap[from] = {to.name(), std::move(forwardedArgumentIndexes)};
}

std::optional<Proxy::ForwardingEntry> SourceListDelegateDataSourceProxy::forwardingInformationForSelector(
    ns::Sel sel) {
  ensureTables();
  auto found = tables().forwardingMap.find(sel);
  if (found == tables().forwardingMap.end()) return std::nullopt;
  return found->second;
}

// ---- forwarding ----

ns::Ref<ns::Object> SourceListDelegateDataSourceProxy::forwardingObjectForSelector(ns::Sel sel) const {
  ensureTables();
  if (tables().dataSourceNames.count(sel)) return dataSource();
  if (tables().delegateNames.count(sel)) return delegate();
  return nullptr;
}

bool SourceListDelegateDataSourceProxy::getForwardingObject_andForwardingSelector_forSelector(
    ns::Ref<ns::Object>* object, ns::Sel* selector, ns::Sel sel) const {
  ensureTables();
  auto entry = tables().forwardingMap.find(sel);
  if (entry == tables().forwardingMap.end()) return false;
  ns::Ref<ns::Object> target;
  if (tables().delegateNames.count(sel)) {
    target = delegate();
  } else if (tables().dataSourceNames.count(sel)) {
    target = dataSource();
  } else {
    return false;
  }
  if (!target) return false;
  if (object) *object = target;
  if (selector) *selector = ns::Sel(entry->second.methodName);
  return true;
}

ns::BOOL SourceListDelegateDataSourceProxy::respondsToSelector(ns::Sel sel) {
  ensureTables();
  const auto& t = tables();
  const bool protocolName = t.delegateNames.count(sel) || t.dataSourceNames.count(sel);
  if (protocolName) {
    if (auto list = sourceList(); list && ns::respondsToSelector(list, sel)) return ns::YES;
  }
  if (t.requiredDataSourceNames.count(sel)) return ns::YES;
  if (t.delegatePassThrough.count(sel)) return ns::respondsToSelector(delegate(), sel) ? ns::YES : ns::NO;
  if (t.dataSourcePassThrough.count(sel)) return ns::respondsToSelector(dataSource(), sel) ? ns::YES : ns::NO;
  auto target = forwardingObjectForSelector(sel);
  auto entry = t.forwardingMap.find(sel);
  if (!target || entry == t.forwardingMap.end()) return ns::NO;
  return ns::respondsToSelector(target, ns::Sel(entry->second.methodName)) ? ns::YES : ns::NO;
}

ns::Ref<ns::Object> SourceListDelegateDataSourceProxy::forwardingTargetForSelector(ns::Sel sel) {
  ensureTables();
  if (tables().delegatePassThrough.count(sel)) return delegate();
  if (tables().dataSourcePassThrough.count(sel)) return dataSource();
  return nullptr;
}

ns::Ref<ns::MethodSignature> SourceListDelegateDataSourceProxy::methodSignatureForSelector(ns::Sel sel) {
  ensureTables();
  auto found = tables().signatures.find(sel);
  return found == tables().signatures.end() ? nullptr : found->second;
}

void SourceListDelegateDataSourceProxy::forwardInvocation(ns::Ref<ns::Invocation> invocation) {
  if (!invocation) return;
  ensureTables();
  static const ns::Sel signatureSelector("methodSignatureForSelector:");
  const ns::Sel sel = invocation->selector();

  // The outline-view methods the list answers itself (registered in its method table).
  if (auto list = sourceList();
      list && ns::runtime::lookUpEntry(ns::object_getClass(list), sel, false, false)) {
    invocation->invokeWithTarget(list);
    return;
  }

  auto entry = tables().forwardingMap.find(sel);
  if (entry == tables().forwardingMap.end()) {
    ns::send(self<ns::Object>(), ns::Sel("doesNotRecognizeSelector:"), sel);
    return;
  }
  auto target = forwardingObjectForSelector(sel);
  // A delegate or data source that was freed (or never set) answers as absent: the outline gets
  // the zero result its claim allows.
  if (!target) return;

  const ns::Sel renamed(entry->second.methodName);
  invocation->setSelector(renamed);
  auto signature = ns::send<ns::Ref<ns::MethodSignature>>(target, signatureSelector, renamed);
  if (!signature) {
    // A required data-source method the data source lacks: not invoked, the outline gets a zero
    // or nil result.
    if (tables().requiredDataSourceNames.count(sel)) return;
    // Lets the target raise its unrecognised-selector error.
    invocation->invokeWithTarget(target);
    return;
  }
  // The target's method may take fewer arguments, of its own types: build its own invocation and
  // copy the forwarded arguments into it, then the result back.
  auto out = ns::Invocation::invocationWithMethodSignature(signature);
  out->setTarget(target);
  out->setSelector(renamed);
  const auto& received = invocation->methodSignature();
  const std::size_t count = signature->numberOfArguments() - 2;
  const auto& indexes = entry->second.forwardedArgumentIndexes;
  for (std::size_t i = 0; i < count; ++i) {
    long from = long(i);
    if (indexes) from = i < indexes->size() ? (*indexes)[i] : -1;
    if (from < 0 || std::size_t(from) + 2 >= received->numberOfArguments()) continue;
    copyValue(*invocation, from + 2, *out, long(i) + 2);
  }
  out->invoke();
  if (signature->methodReturnLength() && received->methodReturnLength() &&
      ns::runtime::matchTypes(signature->returnInfo().normalized, received->returnInfo().normalized) !=
          ns::runtime::TypeMatch::mismatch)
    copyValue(*out, -1, *invocation, -1);
}

ns::BOOL SourceListDelegateDataSourceProxy::conformsToProtocol(ns::Ref<ns::Protocol> protocol) {
  return ns::class_conformsToProtocol(ns::object_getClass(this), protocol.get()) ? ns::YES : ns::NO;
}

// ---- re-posting ----

void SourceListDelegateDataSourceProxy::repost(const char* name,
                                               const ns::Ref<ns::Notification>& notification,
                                               bool withUserInfo) {
  auto list = sourceList();
  if (!list) return;
  ns::NotificationCenter::defaultCenter()->postNotificationName_object_userInfo(
      name, list, withUserInfo && notification ? notification->userInfo() : ns::Dictionary());
}

void SourceListDelegateDataSourceProxy::outlineViewSelectionIsChanging(
    ns::Ref<ns::Notification> notification) {
  repost(kSourceListSelectionIsChangingNotification, notification, false);
}
void SourceListDelegateDataSourceProxy::outlineViewSelectionDidChange(
    ns::Ref<ns::Notification> notification) {
  repost(kSourceListSelectionDidChangeNotification, notification, false);
}
void SourceListDelegateDataSourceProxy::outlineViewItemWillExpand(ns::Ref<ns::Notification> notification) {
  repost(kSourceListItemWillExpandNotification, notification, true);
}
void SourceListDelegateDataSourceProxy::outlineViewItemDidExpand(ns::Ref<ns::Notification> notification) {
  repost(kSourceListItemDidExpandNotification, notification, true);
}
void SourceListDelegateDataSourceProxy::outlineViewItemWillCollapse(ns::Ref<ns::Notification> notification) {
  repost(kSourceListItemWillCollapseNotification, notification, true);
}
void SourceListDelegateDataSourceProxy::outlineViewItemDidCollapse(ns::Ref<ns::Notification> notification) {
  repost(kSourceListItemDidCollapseNotification, notification, true);
}

PL_CLASS(SourceListDelegateDataSourceProxy, ns::Proxy) {
  cls.method<&Proxy::respondsToSelector>("respondsToSelector:");
  cls.method<&Proxy::forwardingTargetForSelector>("forwardingTargetForSelector:");
  cls.method<&Proxy::methodSignatureForSelector>("methodSignatureForSelector:");
  cls.method<&Proxy::forwardInvocation>("forwardInvocation:");
  cls.method<&Proxy::conformsToProtocol>("conformsToProtocol:");
  cls.method<&Proxy::outlineViewSelectionIsChanging>("outlineViewSelectionIsChanging:");
  cls.method<&Proxy::outlineViewSelectionDidChange>("outlineViewSelectionDidChange:");
  cls.method<&Proxy::outlineViewItemWillExpand>("outlineViewItemWillExpand:");
  cls.method<&Proxy::outlineViewItemDidExpand>("outlineViewItemDidExpand:");
  cls.method<&Proxy::outlineViewItemWillCollapse>("outlineViewItemWillCollapse:");
  cls.method<&Proxy::outlineViewItemDidCollapse>("outlineViewItemDidCollapse:");
  cls.protocol("NSOutlineViewDelegate");
  cls.protocol("NSOutlineViewDataSource");
  cls.protocol("SourceListDelegate");
  cls.protocol("SourceListDataSource");
  cls.initialize(&buildTables);
}
