#pragma once
// The Data API client's error domains, user-info keys and library version.

// Errors made from a JSON-RPC "error" member: the code is the member's code.
inline constexpr char ApiJSONRPCErrorDomain[] = "org.pelorin.api.ApiJSONRPCErrorDomain";
// The user-info key under which such an error keeps its error object.
inline constexpr char ApiStructuredErrorKey[] = "ApiStructuredError";

// The client library's version: 2.0.0. Each out-argument may be null.
void ApiLibraryVersion(long* major, long* minor, long* release);
// "2.0", as the service's User-Agent carries it.
const char* ApiLibraryVersionString();

// Errors of the service itself; the codes are fixed.
inline constexpr char ApiServiceErrorDomain[] = "org.pelorin.api.ApiServiceErrorDomain";
// A batch reply holds neither a result nor an error for a member's request ID.
inline constexpr long kApiServiceErrorMissingBatchResult = -3000;
// waitForTicket ran out of time before the callbacks ran.
inline constexpr long kApiServiceErrorWaitTimedOut = -3001;

// Posted with the ticket as object, on the thread that handles the reply: a non-empty successful
// reply is about to be parsed, and (only after the first) its parsing has ended.
inline constexpr char kApiServiceTicketParsingStartedNotification[] =
    "kApiServiceTicketParsingStartedNotification";
inline constexpr char kApiServiceTicketParsingStoppedNotification[] =
    "kApiServiceTicketParsingStoppedNotification";

// The client library's own bundle identifier: a service class in that bundle takes its
// User-Agent base from the main bundle.
inline constexpr char ApiFrameworkBundleIdentifier[] = "org.pelorin.api";
