#pragma once
// Error domains, codes and notification names of the HTTP fetcher stack. The service layer and
// the sign-in code compare errors against these domains.

// Code = HTTP status of a failed reply (userInfo "data" = the reply body), or -4 when the body
// could not be written to the download file.
inline constexpr char NetHTTPStatusErrorDomain[] = "com.ordel42.zeravozezi.HTTPStatus";
// -1: the fetch cannot begin; -2: an authentication challenge cannot be answered.
inline constexpr char NetHTTPFetcherErrorDomain[] = "com.ordel42.zeravozezi.HTTPFetcher";

inline constexpr long kNetHTTPFetcherErrorDownloadFailed = -1;
inline constexpr long kNetHTTPFetcherErrorAuthenticationChallengeFailed = -2;
inline constexpr long kNetHTTPFetcherStatusWriteFailed = -4;

// userInfo keys.
inline constexpr char kNetHTTPStatusDataKey[] = "data";
inline constexpr char kNetHTTPFetcherErrorChallengeKey[] = "challenge";

inline constexpr char kNetHTTPFetcherStartedNotification[] = "kNetHTTPFetcherStartedNotification";
inline constexpr char kNetHTTPFetcherStoppedNotification[] = "kNetHTTPFetcherStoppedNotification";
inline constexpr char kNetHTTPFetcherRetryDelayStartedNotification[] =
    "kNetHTTPFetcherRetryDelayStartedNotification";
inline constexpr char kNetHTTPFetcherRetryDelayStoppedNotification[] =
    "kNetHTTPFetcherRetryDelayStoppedNotification";

// Where a fetcher keeps its cookies.
enum NetCookieStorageMethod : long {
  CookieStorageMethodStatic = 0,        // one store shared by every fetcher of the process
  CookieStorageMethodFetchHistory = 1,  // the fetch history's store: one per fetcher service
  CookieStorageMethodSystem = 2,        // the URL loader's own shared store
  CookieStorageMethodNone = 3,          // none sent, none kept
};
