#pragma once
// The URL error domain's codes, and errors made the way the URL loader reports them.
#include <string>

#include "platform/core/Error.h"
#include "platform/net/URL.h"

namespace ns {

enum URLErrorCode : long {
  URLErrorUnknown = -1,
  URLErrorCancelled = -999,
  URLErrorBadURL = -1000,
  URLErrorTimedOut = -1001,
  URLErrorUnsupportedURL = -1002,
  URLErrorCannotFindHost = -1003,
  URLErrorCannotConnectToHost = -1004,
  URLErrorNetworkConnectionLost = -1005,
  URLErrorDNSLookupFailed = -1006,
  URLErrorHTTPTooManyRedirects = -1007,
  URLErrorResourceUnavailable = -1008,
  URLErrorNotConnectedToInternet = -1009,
  URLErrorRedirectToNonExistentLocation = -1010,
  URLErrorBadServerResponse = -1011,
  URLErrorUserCancelledAuthentication = -1012,
  URLErrorUserAuthenticationRequired = -1013,
  URLErrorZeroByteResource = -1014,
  URLErrorCannotDecodeRawData = -1015,
  URLErrorCannotDecodeContentData = -1016,
  URLErrorCannotParseResponse = -1017,
  URLErrorRequestBodyStreamExhausted = -1021,
  URLErrorFileDoesNotExist = -1100,
  URLErrorFileIsDirectory = -1101,
  URLErrorNoPermissionsToReadFile = -1102,
  URLErrorDataLengthExceedsMaximum = -1103,
  URLErrorSecureConnectionFailed = -1200,
  URLErrorServerCertificateHasBadDate = -1201,
  URLErrorServerCertificateUntrusted = -1202,
  URLErrorServerCertificateHasUnknownRoot = -1203,
  URLErrorServerCertificateNotYetValid = -1204,
  URLErrorClientCertificateRejected = -1205,
  URLErrorClientCertificateRequired = -1206,
  URLErrorCannotLoadFromNetwork = -2000,
};

// The platform's description of a code ("The request timed out." ...).
std::string URLErrorDescription(long code, const std::string& host = "");
// An NSURLErrorDomain error with the description and the failing URL (object and string).
Error makeURLError(long code, const Ref<URL>& failingURL);

}  // namespace ns
