#include "lib/google/ApiBatchQuery.h"

#include <algorithm>
#include <cstdio>

#include "lib/google/ApiErrorObject.h"
#include "lib/google/ApiUtilities.h"
#include "platform/core/Str.h"

PL_CLASS(ApiBatchResult, ApiObject) {
  cls.protocol("ApiBatchItemCreationProtocol");
}

namespace {

std::string addressOf(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

}  // namespace

// ApiBatchQuery

ns::Ref<ApiBatchQuery> ApiBatchQuery::batchQueryWithQueries(const std::vector<ns::Ref<ApiQuery>>& queries) {
  auto batch = batchQuery();
  batch->queries_ = queries;
  return batch;
}

ns::Ref<ApiQuery> ApiBatchQuery::queryForRequestID(const std::string& requestID) {
  auto it = requestIDMap_.find(requestID);
  if (it != requestIDMap_.end()) return it->second;
  requestIDMap_.clear();
  for (const auto& query : queries_)
    if (query) requestIDMap_[query->requestID()] = query;
  it = requestIDMap_.find(requestID);
  return it == requestIDMap_.end() ? nullptr : it->second;
}

void ApiBatchQuery::executionDidStop() {
  for (const auto& query : queries_)
    if (query) query->executionDidStop();
}

ns::Ref<ApiBatchQuery> ApiBatchQuery::copy() const {
  auto out = batchQuery();
  for (const auto& query : queries_) out->queries_.push_back(query ? query->copy() : nullptr);
  out->skipAuthorization_ = skipAuthorization_;
  out->additionalHTTPHeaders_ = additionalHTTPHeaders_;
  return out;
}

std::vector<std::string> ApiBatchQuery::methodNames() const {
  std::vector<std::string> names;
  for (const auto& query : queries_) {
    if (!query) continue;
    if (std::find(names.begin(), names.end(), query->methodName()) == names.end())
      names.push_back(query->methodName());
  }
  return names;
}

std::string ApiBatchQuery::description() const {
  return "ApiBatchQuery " + addressOf(this) + " (queries:" + std::to_string(queries_.size()) +
         " methods:" + ns::str::join(methodNames(), ",") + ")";
}

// ApiBatchResult

void ApiBatchResult::createItemsWithClassMap(const ns::Value& batchClassMap) {
  ns::Dictionary successes;
  ns::Dictionary failures;
  if (auto array = ApiJSONArrayOf(json_)) {
    const ns::Dictionary* classMap = batchClassMap.isDictionary() ? &batchClassMap.dictionary() : nullptr;
    for (const ns::Value& element : array->items()) {
      auto dictionary = ApiJSONDictionaryOf(element);
      if (!dictionary) continue;
      ns::Value key = dictionary->objectForKey("id");
      if (key.isNil()) continue;
      if (const ns::Value* error = dictionary->find("error")) {
        failures.set(key, ns::Value(ApiObject::objectWithJSON<ApiErrorObject>(*error)));
        continue;
      }
      ns::Class defaultClass = nullptr;
      if (classMap)
        if (const ns::Value* cls = classMap->find(key)) defaultClass = ApiClassFromValue(*cls);
      auto object = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
          dictionary->objectForKey("result"), defaultClass, surrogates(), ns::Value());
      if (!object && defaultClass) {
        // No object (a bare string or number, or no result at all) where the member expects
        // one: a failure (code 0), not an answer with nothing in it.
        failures.set(key, ns::Value(ApiObject::object<ApiErrorObject>()));
        continue;
      }
      successes.set(key, object ? ns::Value(object) : ns::Value::null());
    }
  }
  setSuccesses(std::move(successes));
  setFailures(std::move(failures));
}

ns::Dictionary ApiBatchResult::successes() const {
  std::lock_guard guard(lock_);
  return successes_;
}

void ApiBatchResult::setSuccesses(ns::Dictionary successes) {
  std::lock_guard guard(lock_);
  successes_ = std::move(successes);
}

ns::Dictionary ApiBatchResult::failures() const {
  std::lock_guard guard(lock_);
  return failures_;
}

void ApiBatchResult::setFailures(ns::Dictionary failures) {
  std::lock_guard guard(lock_);
  failures_ = std::move(failures);
}

ns::Ref<ApiBatchResult> ApiBatchResult::copyBatchResult() const {
  auto out = std::dynamic_pointer_cast<ApiBatchResult>(copy());
  if (!out) return nullptr;
  out->setSuccesses(successes());
  out->setFailures(failures());
  return out;
}

std::string ApiBatchResult::description() const {
  std::lock_guard guard(lock_);
  return "ApiBatchResult " + addressOf(this) + " (successes:" + std::to_string(successes_.count()) +
         " failures:" + std::to_string(failures_.count()) + ")";
}
