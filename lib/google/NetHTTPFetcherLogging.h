#pragma once
// Debug logging of finished fetches. Off unless the program switches it on: then every fetch is
// written to a run folder under the logging directory (by default "NetHTTPDebugLogs" on the
// Desktop) as one HTML index entry, a plain-text file with request and reply in full, and the
// reply body as its own file for text and images. Tokens, secrets and keys are cut out of what
// is written, since such a log is meant to be shared.
//
//   NetHTTPFetcherLogging::setLoggingEnabled(true);   // registers with the fetcher
#include <optional>
#include <string>

#include "lib/google/NetHTTPFetcher.h"
#include "platform/core/Data.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPHeaderFields.h"

class NetHTTPFetcherLogging {
 public:
  // Process-wide settings, all under one lock.
  static void setLoggingEnabled(bool enabled);
  static bool isLoggingEnabled();
  static void setLoggingToFileEnabled(bool enabled);
  static bool isLoggingToFileEnabled();
  // Setting a directory starts a new run folder at the next logged fetch.
  static void setLoggingDirectory(std::optional<std::string> path);
  // The Desktop folder joined with "NetHTTPDebugLogs" unless set; nullopt when it cannot be made.
  static std::optional<std::string> loggingDirectory();
  static void setLoggingProcessName(std::optional<std::string> name);
  static std::string loggingProcessName();
  static void setLoggingDateStamp(std::optional<std::string> stamp);
  // The launch-time date as "M-dd_hh-mm-ssa", computed once.
  static std::string loggingDateStamp();
  static std::string processNameLogPrefix();
  static std::string symlinkNameSuffix() { return "_log_newest.html"; }
  static std::string htmlFileName() { return "aper\xC3\xA7u_http_log.html"; }

  static ns::Value JSONObjectWithData(const ns::Data& data);
  static std::optional<std::string> stringWithJSONObject(const ns::Value& object);
  static std::string snipSubstringOfString_betweenStartString_endString(const std::string& text,
                                                                        const std::string& start,
                                                                        const std::string& end);
  static std::string headersStringForDictionary(const ns::HTTPHeaderFields& headers);

  static bool fileOrDirExistsAtPath(const std::string& path);
  // Makes each missing level at mode 0700.
  static bool makeDirectoryUpToPath(const std::string& path);
  static bool removeItemAtPath(const std::string& path);
  static bool createSymbolicLinkAtPath_withDestinationPath(const std::string& path,
                                                           const std::string& destination);

  // Pretty JSON with token values cut, or xmllint-formatted XML, or the body itself; nullopt for
  // no data or a body that is not UTF-8.
  static std::optional<std::string> formattedStringFromData_contentType_JSON(
      const std::optional<ns::Data>& data, const std::optional<std::string>& type, ns::Value* json = nullptr);
  // A request body as text: formatted, else bytes 0 and 128+ replaced by "_", multipart parts
  // shown by their headers and size when binary, and form secrets cut.
  static std::string stringFromStreamData_contentType(const ns::Data& data,
                                                      const std::optional<std::string>& type);

  // Writes the entry of a finished fetch (does nothing while logging is off).
  static void logFetchWithError(NetHTTPFetcher& fetcher, const std::optional<ns::Error>& error);
  // Puts a read monitor over the fetcher's body stream that keeps a copy of what is sent.
  static void setupStreamLogging(NetHTTPFetcher& fetcher);
  // Texts written in place of the real bodies; the response text is cleared once written.
  static void setLogRequestBody(NetHTTPFetcher& fetcher, std::optional<std::string> text);
  static std::optional<std::string> logRequestBody(const NetHTTPFetcher& fetcher);
  static void setLogResponseBody(NetHTTPFetcher& fetcher, std::optional<std::string> text);
  static std::optional<std::string> logResponseBody(const NetHTTPFetcher& fetcher);
  // While on, a finished fetch writes no entry; turning it off (when no error was logged) writes
  // the entry on the main thread without waiting, so a caller can first set the response text.
  static void setShouldDeferResponseBodyLogging(NetHTTPFetcher& fetcher, bool defer);
  static bool shouldDeferResponseBodyLogging(const NetHTTPFetcher& fetcher);
  // The copy of a streamed body taken so far, nullopt when none is being taken.
  static std::optional<ns::Data> loggedStreamData(const NetHTTPFetcher& fetcher);
};
