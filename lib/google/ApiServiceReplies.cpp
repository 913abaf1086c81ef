// The second half of a call: errors, the parse on the parse queue, the way back to the calling
// thread, paging, retry and progress hooks, and the callbacks.
#include <algorithm>

#include "lib/google/ApiBatchQuery.h"
#include "lib/google/ApiConstants.h"
#include "lib/google/ApiErrorObject.h"
#include "lib/google/ApiJSONParser.h"
#include "lib/google/ApiService.h"
#include "lib/google/ApiServiceFetchState.h"
#include "lib/google/ApiUtilities.h"
#include "platform/core/Exception.h"
#include "platform/core/Str.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Operation.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"

namespace {

bool isJSONContentType(const ns::Ref<NetHTTPFetcher>& fetcher) {
  auto headers = fetcher->responseHeaders();
  auto type = headers ? headers->get("Content-Type") : std::nullopt;
  return type && ns::str::hasPrefix(*type, "application/json");
}

// The error of a JSON-RPC reply without "result": its "error" member, code 0 when it has none.
ns::Error errorFromErrorMember(const ns::Value& member) {
  return ApiObject::objectWithJSON<ApiErrorObject>(member)->foundationError();
}

// A dynamic property the class declares (through its runtime record), or nullptr.
const ApiDispatch* declared(ns::Class cls, const char* selector) {
  return cls ? ApiRuntimeCommon::dispatchForClass_selector(cls, ns::Sel(selector)) : nullptr;
}

void postNotification(const char* name, const ns::Ref<ApiServiceTicket>& ticket) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(name, ticket);
}

// The object's items followed by `more`, set as its items without copying the elements.
void prependItems(const ns::Ref<ApiObject>& object, const ns::Ref<ApiObject>& older) {
  const ApiDispatch* items = declared(object->runtimeClass(), "items");
  if (!items || !older) return;
  auto joined = ns::make<ApiJSONArray>();
  for (const ns::Ref<ApiObject>& page : {older, object})
    if (auto array = ApiJSONArrayOf(page->JSONValueForKey(items->jsonKey)))
      for (const ns::Value& item : array->items()) joined->addObject(item);
  object->setJSONValue_forKey(ns::Value(joined), items->jsonKey);
  // The items made from the page's own array no longer describe it.
  object->setCacheChild_forKey(ns::Value(), items->jsonKey);
}

}  // namespace

NetHTTPFetcher::FinishedSelector ApiService::finishedSelector() {
  return NetHTTPFetcher::FinishedSelector::of("objectFetcher:finishedWithData:error:",
                                              &ApiService::objectFetcher_finishedWithData_error);
}

NetHTTPFetcher::RetrySelector ApiService::retrySelector() {
  return NetHTTPFetcher::RetrySelector::of("objectFetcher:willRetry:forError:",
                                           &ApiService::objectFetcher_willRetry_forError);
}

NetHTTPFetcher::SentDataSelector ApiService::sentDataSelector() {
  return NetHTTPFetcher::SentDataSelector::of(
      "objectFetcher:didSendBytes:totalBytesSent:totalBytesExpectedToSend:",
      &ApiService::objectFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend);
}

// ---- the fetch has finished ----

void ApiService::objectFetcher_finishedWithData_error(const ns::Ref<NetHTTPFetcher>& fetcher,
                                                      const std::optional<ns::Data>& data,
                                                      const std::optional<ns::Error>& error) {
  auto state = ApiServiceFetchState::of(fetcher);
  if (error) {
    ns::Error reported = *error;
    long status = error->code();
    auto downloaded = fetcher->downloadedData();
    if (status > 299 && downloaded && !downloaded->empty() && data && !data->empty()) {
      if (isJSONContentType(fetcher)) {
        ns::Error parseError;
        ns::Value json = ApiJSONParser::objectWithData_error(*data, &parseError);
        if (json.isNil()) {
          reported = parseError;
        } else {
          auto dictionary = ApiJSONDictionaryOf(json);
          reported = errorFromErrorMember(dictionary ? dictionary->objectForKey("error") : ns::Value());
        }
      } else {
        ns::Dictionary info;
        info.set(ns::Value(ns::NSLocalizedFailureReasonErrorKey), ns::Value(data->toString()));
        reported = ns::Error(NetHTTPStatusErrorDomain, status, std::move(info));
      }
    }
    if (state) state->fetchError = reported;
    handleParsedObjectForFetcher(fetcher);
    return;
  }
  if (data && !data->empty()) {
    prepareToParseObjectForFetcher(fetcher);
    return;
  }
  // An empty reply to a JSON-RPC call that expects an object is not an empty answer: it would
  // read as "no items" to a caller that replaces what it holds.
  if (state && state->ticket && !state->ticket->isREST() && state->objectClass)
    state->fetchError = errorFromErrorMember(ns::Value());
  handleParsedObjectForFetcher(fetcher);
}

void ApiService::prepareToParseObjectForFetcher(const ns::Ref<NetHTTPFetcher>& fetcher) {
  auto state = ApiServiceFetchState::of(fetcher);
  if (!state || !state->ticket) return;
  auto ticket = state->ticket;
  state->callbackThread = ns::Thread::currentThread();
  state->runLoopModes = runLoopModes();

  postNotification(kApiServiceTicketParsingStartedNotification, ticket);
  state->parseNotification = true;

  if (auto batch = std::dynamic_pointer_cast<ApiBatchQuery>(ticket->executingQuery())) {
    ns::Dictionary map;
    for (const auto& query : batch->queries())
      if (query && query->expectedObjectClass())
        map.set(ns::Value(query->requestID()), ApiClassValue(query->expectedObjectClass()));
    state->batchClassMap = ns::Value(std::move(map));
  }

  auto queue = parseQueue();
  if (!queue) {
    parseObjectFromDataOfFetcher(fetcher);
    return;
  }
  auto operation = ns::make<ns::BlockOperation>();
  std::weak_ptr<ns::BlockOperation> weakOperation = operation;
  auto me = self<ApiService>();
  operation->addExecutionBlock([me, fetcher, weakOperation] {
    // The operation outlives its own block: the queue holds it while it runs.
    if (auto op = weakOperation.lock(); op && !op->isCancelled()) me->parseObjectFromDataOfFetcher(fetcher);
  });
  ticket->setParseOperation(operation);
  queue->addOperation(operation);
}

void ApiService::parseObjectFromDataOfFetcher(const ns::Ref<NetHTTPFetcher>& fetcher) {
  // Kept alive for this step even when a cancel empties the bag meanwhile.
  auto state = ApiServiceFetchState::of(fetcher);
  if (!state || !state->ticket) return;
  auto callbackThread = std::move(state->callbackThread);
  state->callbackThread.reset();
  auto ticket = state->ticket;
  ns::Ref<ns::Operation> operation = ticket->parseOperation();
  auto cancelled = [&] { return operation && operation->isCancelled(); };
  auto data = fetcher->downloadedData();

  ns::Value json;
  std::optional<ns::Error> error;
  bool isJSON = data && !data->empty() && isJSONContentType(fetcher);
  if (isJSON) {
    ns::Error parseError;
    json = ApiJSONParser::objectWithData_error(*data, &parseError);
    if (json.isNil()) error = parseError;
  }
  if (cancelled()) return;

  if (!error) {
    bool isBatch = !state->batchClassMap.isNil();
    auto dictionary = ApiJSONDictionaryOf(json);
    ns::Value result;
    if (ticket->isREST()) {
      result = isRESTDataWrapperRequired() && dictionary ? dictionary->objectForKey("data") : json;
    } else if (isBatch) {
      if (ApiJSONIsArray(json)) result = json;
    } else if (dictionary) {
      result = dictionary->objectForKey("result");
    }
    if (!result.isNil()) {
      state->parsedObject = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(
          result, state->objectClass, ticket->surrogates(),
          ticket->isREST() ? ns::Value() : state->batchClassMap);
      // A bare string or number makes no object. For a call that expects one, success with
      // nothing would read as "no items" to a caller that replaces what it holds.
      if (!state->parsedObject && state->objectClass && !isBatch)
        error = errorFromErrorMember(dictionary ? dictionary->objectForKey("error") : ns::Value());
    } else if (!ticket->isREST()) {
      // A JSON-RPC reply without "result" carries its "error"; a reply that is not JSON at all
      // (a captive portal's page) is an error too, never an empty answer.
      error = errorFromErrorMember(dictionary ? dictionary->objectForKey("error") : ns::Value());
    }
  }
  state->fetchError = error;
  if (cancelled()) return;

  auto me = self<ApiService>();
  if (auto queue = delegateQueue()) {
    queue->addOperationWithBlock([me, fetcher] { me->handleParsedObjectForFetcher(fetcher); });
    return;
  }
  if (!callbackThread) callbackThread = ns::Thread::currentThread();
  std::vector<std::string> modes = state->runLoopModes;
  if (modes.empty()) modes = {ns::DefaultRunLoopMode};
  ns::Thread::performOnThread(callbackThread,
                              {me, "handleParsedObjectForFetcher:", fetcher,
                               [me, fetcher] { me->handleParsedObjectForFetcher(fetcher); }},
                              false, modes);
}

void ApiService::handleParsedObjectForFetcher(const ns::Ref<NetHTTPFetcher>& fetcher) {
  auto state = ApiServiceFetchState::of(fetcher);
  // A cancelled call: its bag is empty.
  if (!state || !state->ticket) return;
  auto ticket = state->ticket;
  ticket->setParseOperation(nullptr);
  auto delegate = state->delegate;
  auto selector = state->finishedSelector;
  auto handler = state->completionHandler;
  ns::Ref<ApiObject> object = state->parsedObject;
  std::optional<ns::Error> error = state->fetchError;

  if (ticket->shouldFetchNextPages() && ticket->fetchedObject() && object)
    object = mergedNewResultObject_oldResultObject_forQuery(object, ticket->fetchedObject(),
                                                            ticket->executingQuery());
  // An error on a later page drops the pages joined so far.
  ticket->setFetchedObject(error ? nullptr : object);
  if (error) object = nullptr;
  ticket->setFetchError(error);

  if (state->parseNotification) postNotification(kApiServiceTicketParsingStoppedNotification, ticket);

  bool startedNextPage = false;
  if (ticket->shouldFetchNextPages()) {
    if (auto next = nextPageQueryForQuery_result_ticket(ticket->executingQuery(), object, ticket))
      startedNextPage = fetchNextPageWithQuery_delegate_didFinishedSelector_completionHandler_ticket(
          next, delegate, selector, handler, ticket);
  }
  ticket->setExecutingQuery(ticket->originalQuery());
  if (startedNextPage) {
    // The callbacks wait for the last page; the blocks served the first page only.
    fetcher->setProperties({});
    ticket->setRetryBlock(nullptr);
    ticket->setUploadProgressBlock(nullptr);
    return;
  }

  ns::Ref<ns::Object> original = ticket->originalQuery();
  if (auto batch = std::dynamic_pointer_cast<ApiBatchQuery>(original)) {
    auto result = std::dynamic_pointer_cast<ApiBatchResult>(object);
    ns::Dictionary successes = result ? result->successes() : ns::Dictionary();
    ns::Dictionary failures = result ? result->failures() : ns::Dictionary();
    for (const auto& member : batch->queries()) {
      if (!member || !member->completionBlock()) continue;
      auto block = member->completionBlock();
      ns::Value key(member->requestID());
      if (error) {
        block(ticket, nullptr, error);
      } else if (const ns::Value* failure = failures.find(key)) {
        auto errorObject = failure->objectAs<ApiErrorObject>();
        block(ticket, nullptr,
              errorObject ? errorObject->foundationError() : errorFromErrorMember(ns::Value()));
      } else if (const ns::Value* success = successes.find(key)) {
        // The null marker stands for a member whose result made no object: the block gets none.
        block(ticket, success->objectAs<ApiObject>(), std::nullopt);
      } else {
        block(ticket, nullptr, ns::Error(ApiServiceErrorDomain, kApiServiceErrorMissingBatchResult));
      }
    }
  } else if (auto single = std::dynamic_pointer_cast<ApiQuery>(original)) {
    if (auto block = single->completionBlock()) block(ticket, object, error);
  }
  if (auto* query = ApiQueryProtocolOf(original)) query->executionDidStop();

  if (selector && delegate)
    invokeCallback_target_ticket_object_error(selector, delegate, ticket, object, error);
  if (handler) handler(ticket, object, error);

  ticket->setHasCalledCallback(true);
  fetcher->setProperties({});
  ticket->setRetryBlock(nullptr);
  ticket->setUploadProgressBlock(nullptr);
}

// ---- paging ----

ns::Ref<ns::Object> ApiService::nextPageQueryForQuery_result_ticket(const ns::Ref<ns::Object>& query,
                                                                    const ns::Ref<ApiObject>& result,
                                                                    const TicketRef& ticket) {
  if (!result) return nullptr;
  if (std::dynamic_pointer_cast<ApiBatchQuery>(query)) {
    auto batchResult = std::dynamic_pointer_cast<ApiBatchResult>(result);
    if (!batchResult) return nullptr;
    ns::Ref<ApiBatchQuery> nextBatch;
    for (const auto& [key, value] : batchResult->successes()) {
      auto member = key.isString() ? ticket->queryForRequestID(key.string()) : nullptr;
      auto object = value.objectAs<ApiObject>();
      if (!member || !object) continue;
      if (auto next = std::dynamic_pointer_cast<ApiQuery>(
              nextPageQueryForQuery_result_ticket(member, object, ticket))) {
        if (!nextBatch) nextBatch = ApiBatchQuery::batchQuery();
        nextBatch->addQuery(next);
      }
    }
    return nextBatch;
  }

  auto single = std::dynamic_pointer_cast<ApiQuery>(query);
  if (!single) return nullptr;
  ns::Class resultClass = result->runtimeClass();
  ns::Class queryClass = single->runtimeClass();
  ns::Value token;
  ns::Value index;
  if (const ApiDispatch* d = declared(resultClass, "nextPageToken"); d && declared(queryClass, "pageToken"))
    token = ApiRuntimeCommon::getValue(*result, d);
  if (const ApiDispatch* d = declared(resultClass, "nextStartIndex"); d && declared(queryClass, "startIndex"))
    index = ApiRuntimeCommon::getValue(*result, d);
  // No token on the last page ends the paging. The JSON null or an empty text is no token
  // either: asked for with it, the first page would come back, again and again up to the page
  // limit, each copy joined to the items.
  auto none = [](const ns::Value& v) { return v.isNilOrNull() || (v.isString() && v.string().empty()); };
  if ((none(token) && none(index)) || !declared(resultClass, "items")) return nullptr;

  auto next = single->copy();
  if (!none(token))
    ApiRuntimeCommon::setValue(*next, declared(queryClass, "setPageToken:"), token);
  else
    next->setJSONValue_forKey(index, "startIndex");
  return next;
}

bool ApiService::fetchNextPageWithQuery_delegate_didFinishedSelector_completionHandler_ticket(
    const ns::Ref<ns::Object>& query, const ns::Ref<ns::Object>& delegate, FinishedSelector selector,
    CompletionHandler handler, const TicketRef& ticket) {
  // At most 26 further pages: 27 in all.
  if (ticket->pagesFetchedCounter() > 25) return false;
  ticket->setPagesFetchedCounter(ticket->pagesFetchedCounter() + 1);

  TicketRef result;
  if (auto batch = std::dynamic_pointer_cast<ApiBatchQuery>(query)) {
    result = executeBatchQuery_delegate_didFinishSelector_completionHandler_ticket(
        batch, delegate, std::move(selector), std::move(handler), ticket);
  } else if (auto single = std::dynamic_pointer_cast<ApiQuery>(query)) {
    result =
        fetchObjectWithMethodNamed_objectClass_parameters_bodyObject_requestID_urlQueryParameters_delegate_didFinishSelector_completionHandler_executingQuery_ticket(
            single->methodName(), single->expectedObjectClass(), single->JSON(), single->bodyObject(),
            single->requestID(), single->urlQueryParameters(), delegate, std::move(selector),
            std::move(handler), single, ticket);
  }
  return result && result == ticket;
}

ns::Ref<ApiObject> ApiService::mergedNewResultObject_oldResultObject_forQuery(
    const ns::Ref<ApiObject>& newResult, const ns::Ref<ApiObject>& oldResult,
    const ns::Ref<ns::Object>& query) {
  if (std::dynamic_pointer_cast<ApiBatchQuery>(query)) {
    auto newBatch = std::dynamic_pointer_cast<ApiBatchResult>(newResult);
    auto oldBatch = std::dynamic_pointer_cast<ApiBatchResult>(oldResult);
    if (!newBatch || !oldBatch) return newResult;
    ns::Dictionary successes = oldBatch->successes();
    ns::Dictionary failures = oldBatch->failures();
    for (const auto& [key, value] : newBatch->successes()) {
      if (auto object = value.objectAs<ApiObject>())
        prependItems(object, successes[key].objectAs<ApiObject>());
      successes.set(key, value);
    }
    for (const auto& [key, value] : newBatch->failures()) {
      failures.set(key, value);
      successes.remove(key);
    }
    oldBatch->setSuccesses(std::move(successes));
    oldBatch->setFailures(std::move(failures));
    return oldBatch;
  }
  prependItems(newResult, oldResult);
  return newResult;
}

// ---- hooks of the fetcher ----

bool ApiService::objectFetcher_willRetry_forError(const ns::Ref<NetHTTPFetcher>& fetcher, bool willRetry,
                                                  const ns::Error& error) {
  auto state = ApiServiceFetchState::of(fetcher);
  if (!state || !state->ticket) return willRetry;
  auto ticket = state->ticket;
  if (const auto& selector = ticket->retrySelector())
    willRetry = invokeRetrySelector_delegate_ticket_willRetry_error(selector, state->delegate, ticket,
                                                                    willRetry, error);
  if (auto block = ticket->retryBlock()) willRetry = block(ticket, willRetry, error);
  return willRetry;
}

bool ApiService::invokeRetrySelector_delegate_ticket_willRetry_error(
    const ApiServiceTicket::RetrySelector& selector, const ns::Ref<ns::Object>& delegate,
    const TicketRef& ticket, bool willRetry, const ns::Error& error) {
  if (!selector || !delegate) return willRetry;
  try {
    return selector(*delegate, ticket, willRetry, error);
  } catch (const ns::Exception&) {
    // A delegate that does not answer the selector leaves the fetcher's decision.
    return willRetry;
  }
}

void ApiService::objectFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(
    const ns::Ref<NetHTTPFetcher>& fetcher, std::int64_t, std::int64_t totalBytesSent,
    std::int64_t totalBytesExpected) {
  auto state = ApiServiceFetchState::of(fetcher);
  if (!state || !state->ticket) return;
  invokeProgressCallbackForTicket_deliveredBytes_totalBytes(state->ticket,
                                                            static_cast<std::uint64_t>(totalBytesSent),
                                                            static_cast<std::uint64_t>(totalBytesExpected));
}

void ApiService::invokeProgressCallbackForTicket_deliveredBytes_totalBytes(const TicketRef& ticket,
                                                                           std::uint64_t delivered,
                                                                           std::uint64_t total) {
  if (const auto& selector = ticket->uploadProgressSelector()) {
    auto state = ApiServiceFetchState::of(ticket->objectFetcher());
    if (state && state->delegate) selector(*state->delegate, ticket, delivered, total);
  }
  if (auto block = ticket->uploadProgressBlock()) block(ticket, delivered, total);
}

void ApiService::invokeCallback_target_ticket_object_error(const FinishedSelector& selector,
                                                           const ns::Ref<ns::Object>& target,
                                                           const TicketRef& ticket,
                                                           const ns::Ref<ApiObject>& object,
                                                           const std::optional<ns::Error>& error) {
  selector(*target, ticket, object, error);
}

// ---- waiting ----

bool ApiService::waitForTicket_timeout_fetchedObject_error(const TicketRef& ticket, double seconds,
                                                           ns::Ref<ApiObject>* object, ns::Error* error) {
  if (!ticket) return false;
  if (seconds > 0 && !ticket->hasCalledCallback())
    ns::RunLoop::currentRunLoop()->runUntil([&] { return ticket->hasCalledCallback(); }, seconds,
                                            ns::DefaultRunLoopMode);
  std::optional<ns::Error> result = ticket->fetchError();
  if (!ticket->hasCalledCallback() && !result)
    result = ns::Error(ApiServiceErrorDomain, kApiServiceErrorWaitTimedOut);
  if (object) *object = ticket->fetchedObject();
  if (error && result) *error = *result;
  return !result;
}
