#include "tests/lib/cache/ArchivingTestClasses.h"

#include "platform/runtime/ClassBuilder.h"

using namespace cachetest;

PL_CLASS(ArchItem, ns::Object) {
  cls.property<&ArchItem::count, &ArchItem::setCount>("count", "N,V_count");
  cls.property<&ArchItem::title, &ArchItem::setTitle>("title", "C,N,V_title");
  cls.property<&ArchItem::extra, &ArchItem::setExtra>("extra", "&,N,V_extra");
  cls.property<&ArchItem::nickname, &ArchItem::setNickname>("nickname", "C,N,V_alias");
}

PL_CLASS(ArchSubItem, ArchItem) {
  cls.property<&ArchSubItem::subtitle, &ArchSubItem::setSubtitle>("subtitle", "C,N,Vsubtitle");
  cls.property<&ArchSubItem::isFinished, &ArchSubItem::setFinished>("finished", "N,GisFinished,V_finished");
}

PL_CLASS(ArchDeclarations, ns::Object) {
  cls.declaredProperty("dynamicTitle", "T@\"NSString\",C,D,N");
  cls.declaredProperty("readOnlyTitle", "T@\"NSString\",R,D,N");
  cls.declaredProperty("plainTitle", "T@\"NSString\",C,N");
  cls.declaredProperty("frame", "T{CGRect={CGPoint=dd}{CGSize=dd}},N,V_frame");
  cls.declaredProperty("delegate", "T@\"UnknownDelegateClass<SomeProtocol>\",W,N,V_delegate");
  cls.declaredProperty("source", "T@\"ArchItem<NSCopying>\",&,N,V_source");
  cls.declaredProperty("handler", "T@?,C,N,V_handler");
  cls.declaredProperty("cString", "T*,N,V_cString");
  cls.declaredProperty("action", "T:,N,V_action");
}

PL_CLASS(ArchLegacy, ns::Object) {
  cls.property<&ArchLegacy::kept>("kept", "R,N,V_kept");
  cls.property<&ArchLegacy::dropped>("dropped", "R,N,V_dropped");
  cls.classMethod<&ArchLegacy::uncodableProperties>("uncodableProperties");
}

PL_CLASS(ArchNode, ns::Object) {
  cls.property<&ArchNode::name, &ArchNode::setName>("name", "C,N,V_name");
  cls.property<&ArchNode::parent, &ArchNode::setParent>("parent", "W,N,V_parent");
  cls.property<&ArchNode::children, &ArchNode::setChildren>("children", "C,N,V_children");
}
