#pragma once
// A URL connection that reports to closures: the whole body on success, failure, the response,
// and upload and download progress. Its delegate is its dynamic delegate, which collects the
// body, runs the closures and passes every message on to an ordinary delegate when one is set.
#include <functional>
#include <optional>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

struct URLConnectionBlocks {
  // The body is absent when it was empty.
  using SuccessBlock = std::function<void(ns::Ref<ns::URLConnection> connection,
                                          ns::Ref<ns::URLResponse> response, std::optional<ns::Data> body)>;
  using FailureBlock = std::function<void(ns::Ref<ns::URLConnection> connection, ns::Error error)>;
  using ResponseBlock =
      std::function<void(ns::Ref<ns::URLConnection> connection, ns::Ref<ns::URLResponse> response)>;
  // Progress from 0 to 1.
  using ProgressBlock = std::function<void(double progress)>;

  // Not started.
  static ns::Ref<ns::URLConnection> connectionWithRequest(const ns::Ref<ns::URLRequest>& request);
  static ns::Ref<ns::URLConnection> initWithRequest(const ns::Ref<ns::URLRequest>& request);
  static ns::Ref<ns::URLConnection> initWithRequest_completionHandler(const ns::Ref<ns::URLRequest>& request,
                                                                      SuccessBlock success);
  // Started at once, on the current run loop.
  static ns::Ref<ns::URLConnection> startConnectionWithRequest_successHandler_failureHandler(
      const ns::Ref<ns::URLRequest>& request, SuccessBlock success, FailureBlock failure);
  static void startWithCompletionBlock(const ns::Ref<ns::URLConnection>& connection, SuccessBlock success);

  static void setSuccessBlock(const ns::Ref<ns::URLConnection>& connection, SuccessBlock block);
  static void setUploadBlock(const ns::Ref<ns::URLConnection>& connection, ProgressBlock block);
  static void setDownloadBlock(const ns::Ref<ns::URLConnection>& connection, ProgressBlock block);
  static void setResponseBlock(const ns::Ref<ns::URLConnection>& connection, ResponseBlock block);
  static void setFailureBlock(const ns::Ref<ns::URLConnection>& connection, FailureBlock block);
  static bool hasSuccessBlock(const ns::Ref<ns::URLConnection>& connection);
  static bool hasUploadBlock(const ns::Ref<ns::URLConnection>& connection);
  static bool hasDownloadBlock(const ns::Ref<ns::URLConnection>& connection);

  // The connection's ordinary delegate (behind its dynamic delegate) and setting it.
  static ns::Ref<ns::Object> delegate(const ns::Ref<ns::URLConnection>& connection);
  static void setDelegate(const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::Object>& delegate);
};
