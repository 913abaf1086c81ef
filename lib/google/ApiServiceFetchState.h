#pragma once
// The state of one request of the service, held in its fetcher's property bag under one key:
// what the reply handling needs (ticket, delegate, selector, block, expected class) and what it
// records on the way (callback thread, parsed object, error). Clearing the fetcher's properties
// drops it, and with it the delegate, the blocks and the ticket: a reply that arrives afterwards
// finds nothing to call.
#include <optional>
#include <string>
#include <vector>

#include "lib/google/ApiService.h"

class ApiServiceFetchState : public ns::Object {
 public:
  static constexpr char kKey[] = "_ticket";

  // The state of the fetcher's request, or nullptr once its bag was cleared.
  static ns::Ref<ApiServiceFetchState> of(const ns::Ref<NetHTTPFetcher>& fetcher) {
    return fetcher ? fetcher->propertyForKey(kKey).objectAs<ApiServiceFetchState>() : nullptr;
  }

  // Written at the start.
  ns::Class objectClass = nullptr;
  ns::Ref<ns::Object> delegate;
  ApiService::FinishedSelector finishedSelector;
  ns::Ref<ApiServiceTicket> ticket;
  ApiService::CompletionHandler completionHandler;
  // Written when the reply arrives (on the callback thread) and by the parse; read afterwards
  // on the callback thread, which the hand-over orders after the parse.
  ns::Ref<ns::Thread> callbackThread;
  std::vector<std::string> runLoopModes;
  bool parseNotification = false;
  ns::Value batchClassMap;
  ns::Ref<ApiObject> parsedObject;
  std::optional<ns::Error> fetchError;

  std::string className() const override { return "ApiServiceFetchState"; }
};
