#pragma once
// What the service reads from anything it executes: a single query or a batch of queries.
#include "platform/core/Object.h"
#include "platform/core/Value.h"

class ApiUploadParameters;

class ApiQueryProtocol {
 public:
  virtual ~ApiQueryProtocol() = default;

  virtual bool isBatchQuery() const = 0;
  // The call goes out without the authorizer.
  virtual bool shouldSkipAuthorization() const = 0;
  // Called on the executing copy when its call has ended or was cancelled.
  virtual void executionDidStop() = 0;
  // Empty when there are none.
  virtual const ns::Dictionary& additionalHTTPHeaders() const = 0;
  virtual const ns::Dictionary& urlQueryParameters() const = 0;
  // nullptr without media to upload.
  virtual ns::Ref<ApiUploadParameters> uploadParameters() const = 0;
};

// Queries that page answer the selectors "pageToken" and "setPageToken:" (or "startIndex" and
// "setStartIndex:") through the runtime; the runtime protocol of that name lists them.
inline constexpr char ApiQueryCollectionProtocolName[] = "ApiQueryCollectionProtocol";
