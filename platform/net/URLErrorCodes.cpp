#include "platform/net/URLErrorCodes.h"

#include "platform/core/Format.h"

namespace ns {

std::string URLErrorDescription(long code, const std::string& host) {
  switch (code) {
    case URLErrorCancelled:
      return "cancelled";
    case URLErrorBadURL:
      return "bad URL";
    case URLErrorTimedOut:
      return "The request timed out.";
    case URLErrorUnsupportedURL:
      return "unsupported URL";
    case URLErrorCannotFindHost:
      return "A server with the specified hostname could not be found.";
    case URLErrorCannotConnectToHost:
      return "Could not connect to the server.";
    case URLErrorNetworkConnectionLost:
      return "The network connection was lost.";
    case URLErrorHTTPTooManyRedirects:
      return "too many HTTP redirects";
    case URLErrorNotConnectedToInternet:
      return "The Internet connection appears to be offline.";
    case URLErrorBadServerResponse:
      return "The server returned a bad response.";
    case URLErrorUserCancelledAuthentication:
      return "The operation couldn\u2019t be completed. (NSURLErrorDomain error -1012.)";
    case URLErrorCannotDecodeContentData:
      return "cannot decode content data";
    case URLErrorCannotDecodeRawData:
      return "cannot decode raw data";
    case URLErrorCannotParseResponse:
      return "cannot parse response";
    case URLErrorFileDoesNotExist:
      return "The requested URL was not found on this server.";
    case URLErrorFileIsDirectory:
      return "file is directory";
    case URLErrorNoPermissionsToReadFile:
      return "no permission to read file";
    case URLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case URLErrorServerCertificateHasBadDate:
      return format(
          "The certificate for this server has expired. You might be connecting to a server that is "
          "pretending to be \u201c%@\u201d which could put your confidential information at risk.",
          host);
    case URLErrorServerCertificateUntrusted:
      return format(
          "The certificate for this server is invalid. You might be connecting to a server that is "
          "pretending to be \u201c%@\u201d which could put your confidential information at risk.",
          host);
    default:
      return format("The operation couldn\u2019t be completed. (NSURLErrorDomain error %ld.)", code);
  }
}

Error makeURLError(long code, const Ref<URL>& failingURL) {
  Dictionary info;
  std::string host = failingURL && failingURL->host() ? *failingURL->host() : std::string();
  info.set(NSLocalizedDescriptionKey, URLErrorDescription(code, host));
  if (failingURL) {
    info.set(NSURLErrorFailingURLErrorKey, Value(failingURL));
    info.set(NSURLErrorFailingURLStringErrorKey, failingURL->absoluteString());
  }
  return Error(NSURLErrorDomain, code, std::move(info));
}

}  // namespace ns
