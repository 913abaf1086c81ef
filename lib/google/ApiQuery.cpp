#include "lib/google/ApiQuery.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "lib/google/ApiUtilities.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"

namespace {

struct QueryClassState {
  std::mutex counterLock;
  unsigned long long counter = 0;
  ApiClassDictionaryCache* parameterNameCache = ApiUtilities::newStaticDictionary();
  ApiClassDictionaryCache* arrayClassCache = ApiUtilities::newStaticDictionary();
};

QueryClassState& state() {
  static ns::NoDestructor<QueryClassState> s;
  return *s;
}

ns::BOOL resolveImpl(ns::Class self, ns::Sel, ns::Sel sel) {
  return ApiRuntimeCommon::resolveInstanceMethod_onClass(sel, self) ? ns::YES : ns::NO;
}
ns::Class ancestorImpl(ns::Class, ns::Sel) {
  return ApiQuery::classObject();
}
ns::Value noMapImpl(ns::Class, ns::Sel) {
  return ns::Value();
}
ns::Value keyMapForClassImpl(ns::Class, ns::Sel, ns::Class cls) {
  return ns::Value(ApiQuery::propertyToJSONKeyMapForClass(cls));
}
ns::Value arrayMapForClassImpl(ns::Class, ns::Sel, ns::Class cls) {
  return ns::Value(ApiQuery::arrayPropertyToClassMapForClass(cls));
}

std::string sortedKeys(const std::vector<std::string>& keys) {
  std::vector<std::string> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  return ns::str::join(sorted, ",");
}

}  // namespace

PL_CLASS(ApiQuery, ns::Object) {
  cls.classMethod<&resolveImpl>("resolveInstanceMethod:");
  cls.classMethod<&ancestorImpl>("ancestorClass");
  cls.classMethod<&noMapImpl>("parameterNameMap");
  cls.classMethod<&noMapImpl>("arrayPropertyToClassMap");
  cls.classMethod<&keyMapForClassImpl>("propertyToJSONKeyMapForClass:");
  cls.classMethod<&arrayMapForClassImpl>("arrayPropertyToClassMapForClass:");
  cls.protocol("ApiRuntimeCommon");
  cls.protocol("ApiQueryProtocol");
}
PL_CLASS(ApiQueryCollectionImpl, ApiQuery) {
  cls.protocol(ApiQueryCollectionProtocolName);
}

ns::Class ApiQuery::classObject() {
  static std::atomic<ns::Class> cls{nullptr};
  ns::Class c = cls.load(std::memory_order_acquire);
  if (!c) {
    c = ApiClassOf<ApiQuery>();
    cls.store(c, std::memory_order_release);
  }
  return c;
}

bool ApiQuery::initWithMethodName(std::string_view methodName) {
  requestID_ = nextRequestID();
  methodName_ = std::string(methodName);
  return !methodName_.empty();
}

std::string ApiQuery::nextRequestID() {
  auto& s = state();
  unsigned long long number;
  {
    std::lock_guard guard(s.counterLock);
    number = ++s.counter;
  }
  return "api_" + std::to_string(number);
}

ns::Ref<ApiQuery> ApiQuery::copy() const {
  ns::Ref<ApiQuery> out;
  if (ns::Class cls = runtimeClass())
    out = std::dynamic_pointer_cast<ApiQuery>(ns::class_createInstance(cls));
  if (!out) out = ns::make<ApiQuery>();
  // The fresh ID that initialisation takes is replaced by this query's own.
  out->initWithMethodName(methodName_);
  if (json_ && !json_->empty()) out->json_ = ApiJSONDictionaryOf(ApiJSONDeepCopy(ns::Value(json_)));
  out->bodyObject_ = bodyObject_;
  out->requestID_ = requestID_;
  out->setUploadParameters(uploadParameters_);
  out->urlQueryParameters_ = urlQueryParameters_;
  out->additionalHTTPHeaders_ = additionalHTTPHeaders_;
  out->expectedObjectClass_ = expectedObjectClass_;
  out->skipAuthorization_ = skipAuthorization_;
  out->completionBlock_ = completionBlock_;
  return out;
}

void ApiQuery::setJSON(ns::Ref<ApiJSONDictionary> json) {
  json_ = std::move(json);
  // Objects made from the old parameters no longer describe them.
  childCache_.clear();
}

void ApiQuery::setUploadParameters(const ns::Ref<ApiUploadParameters>& parameters) {
  uploadParameters_ = parameters ? parameters->copy() : nullptr;
}

ns::Value ApiQuery::JSONValueForKey(std::string_view key) const {
  return json_ ? json_->objectForKey(key) : ns::Value();
}

void ApiQuery::setJSONValue_forKey(ns::Value value, std::string_view key) {
  if (!json_) {
    if (value.isNil()) return;
    json_ = ns::make<ApiJSONDictionary>(1);
  }
  json_->setObject_forKey(std::move(value), key);
}

ns::Value ApiQuery::cacheChildForKey(std::string_view key) const {
  return childCache_.childForKey(key);
}

void ApiQuery::setCacheChild_forKey(ns::Value child, std::string_view key) {
  childCache_.setChild_forKey(std::move(child), key);
}

ns::Dictionary ApiQuery::propertyToJSONKeyMapForClass(ns::Class cls) {
  return ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
      "parameterNameMap", cls, classObject(), state().parameterNameCache);
}

ns::Dictionary ApiQuery::arrayPropertyToClassMapForClass(ns::Class cls) {
  return ApiUtilities::mergedClassDictionaryForSelector_startClass_ancestorClass_cache(
      "arrayPropertyToClassMap", cls, classObject(), state().arrayClassCache);
}

std::string ApiQuery::className() const {
  ns::Class cls = runtimeClass();
  return cls ? cls->name() : std::string("ApiQuery");
}

std::string ApiQuery::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  std::string text = className() + " " + address + ": {method:" + methodName_;
  if (json_ && !json_->empty()) text += " params:(" + sortedKeys(json_->allKeys()) + ")";
  if (!urlQueryParameters_.empty()) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : urlQueryParameters_) keys.push_back(key.stringValue());
    text += " urlQParams:(" + sortedKeys(keys) + ")";
  }
  if (bodyObject_) text += " bodyObject:" + bodyObject_->className();
  if (uploadParameters_) text += " " + uploadParameters_->description();
  return text + "}";
}
