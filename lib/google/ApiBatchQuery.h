#pragma once
// Several queries sent in one HTTP request: the body is a JSON array of JSON-RPC calls and the
// reply an array of results matched back to the members by request ID. A batch is executed like
// a single query; its reply becomes an ApiBatchResult, and each member's completion block gets
// that member's own object or error.
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "lib/google/ApiObject.h"
#include "lib/google/ApiQuery.h"
#include "lib/google/ApiQueryProtocol.h"

class ApiBatchQuery : public ns::Object, public ApiQueryProtocol {
 public:
  static ns::Ref<ApiBatchQuery> batchQuery() { return ns::make<ApiBatchQuery>(); }
  static ns::Ref<ApiBatchQuery> batchQueryWithQueries(const std::vector<ns::Ref<ApiQuery>>& queries);

  void addQuery(const ns::Ref<ApiQuery>& query) { queries_.push_back(query); }
  const std::vector<ns::Ref<ApiQuery>>& queries() const { return queries_; }
  void setQueries(std::vector<ns::Ref<ApiQuery>> queries) { queries_ = std::move(queries); }
  // The member with that request ID (a later member with the same ID wins), or nullptr. A miss
  // rebuilds the lookup from the current members.
  ns::Ref<ApiQuery> queryForRequestID(const std::string& requestID);

  bool isBatchQuery() const override { return true; }
  // A batch uploads nothing.
  ns::Ref<ApiUploadParameters> uploadParameters() const override { return nullptr; }
  // Every member drops its completion block.
  void executionDidStop() override;
  bool shouldSkipAuthorization() const override { return skipAuthorization_; }
  void setShouldSkipAuthorization(bool skip) { skipAuthorization_ = skip; }
  const ns::Dictionary& additionalHTTPHeaders() const override { return additionalHTTPHeaders_; }
  void setAdditionalHTTPHeaders(ns::Dictionary headers) { additionalHTTPHeaders_ = std::move(headers); }
  const ns::Dictionary& urlQueryParameters() const override { return urlQueryParameters_; }
  void setUrlQueryParameters(ns::Dictionary parameters) { urlQueryParameters_ = std::move(parameters); }

  // Copies of the members (each keeps its request ID), the skip flag and the headers; the URL
  // parameters and the lookup are not carried over.
  ns::Ref<ApiBatchQuery> copy() const;
  std::string className() const override { return "ApiBatchQuery"; }
  // "ApiBatchQuery 0x... (queries:2 methods:youtube.videos.list,youtube.playlists.list)"
  std::string description() const override;
  // The distinct method names in member order.
  std::vector<std::string> methodNames() const;

 private:
  std::vector<ns::Ref<ApiQuery>> queries_;
  std::unordered_map<std::string, ns::Ref<ApiQuery>> requestIDMap_;
  bool skipAuthorization_ = false;
  ns::Dictionary additionalHTTPHeaders_;
  ns::Dictionary urlQueryParameters_;
};

// The reply of a batch: request ID -> member object (the null marker when a member's result gave
// no object) and request ID -> ApiErrorObject. Its JSON is the reply array.
class ApiBatchResult : public ApiObject, public ApiBatchItemCreationProtocol {
 public:
  // Fills both dictionaries from the JSON; the map is request ID -> expected class.
  void createItemsWithClassMap(const ns::Value& batchClassMap) override;

  ns::Dictionary successes() const;
  void setSuccesses(ns::Dictionary successes);
  ns::Dictionary failures() const;
  void setFailures(ns::Dictionary failures);

  // The model copy with copies of both dictionaries.
  ns::Ref<ApiBatchResult> copyBatchResult() const;
  std::string className() const override { return "ApiBatchResult"; }
  // "ApiBatchResult 0x... (successes:2 failures:0)"
  std::string description() const override;

 private:
  mutable std::mutex lock_;
  ns::Dictionary successes_;
  ns::Dictionary failures_;
};
