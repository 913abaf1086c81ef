#include "lib/google/NetHTTPFetcherLogging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "lib/google/NetReadMonitorInputStream.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/foundation/FileHandle.h"
#include "platform/foundation/Pipe.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/foundation/Task.h"
#include "platform/net/URL.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"
#include "platform/runloop/Thread.h"
#include "platform/serialization/JSONSerialization.h"
#include "platform/text/DateFormatter.h"

namespace {

constexpr char kSnip[] = "_snip_";
constexpr char kXmllint[] = "/usr/bin/xmllint";

// Appends every block the read monitor hands over to a copy of the streamed body.
class StreamCapture : public ns::Object {
 public:
  void inputStream_readIntoBuffer_length(NetReadMonitorInputStream&, const std::uint8_t* bytes,
                                         std::int64_t length) {
    std::lock_guard lock(mutex_);
    if (bytes && length > 0) data_.appendBytes_length(bytes, static_cast<std::size_t>(length));
  }
  ns::Data data() const {
    std::lock_guard lock(mutex_);
    return ns::Data(data_.bytes(), data_.length());
  }

 private:
  mutable std::mutex mutex_;
  ns::MutableData data_;
};

// What the log keeps of one fetcher beside the fetcher itself.
struct FetcherRecord {
  ns::Weak<const ns::Object> owner;
  ns::Ref<StreamCapture> capture;
  std::optional<std::string> logRequestBody;
  std::optional<std::string> logResponseBody;
  bool shouldDefer = false;
  bool hasLoggedError = false;
};

struct Settings {
  std::mutex mutex;
  std::atomic<bool> enabled{false};
  bool toFile = true;
  std::optional<std::string> directory;
  std::optional<std::string> processName;
  std::optional<std::string> dateStamp;
  std::optional<std::string> runFolder;
  long fetchNumber = 0;
  int hasXmllint = -1;
  std::map<const NetHTTPFetcher*, FetcherRecord> records;
};

Settings& settings() {
  static ns::NoDestructor<Settings> s;
  return *s;
}

std::string launchDateStamp() {
  static const std::string stamp = [] {
    ns::DateFormatter formatter;
    formatter.setDateFormat("M-dd_hh-mm-ssa");
    return formatter.stringFromDate(ns::Date::now());
  }();
  return stamp;
}

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    if (extra == 9 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) return false;
    for (std::size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += extra + 1;
  }
  return true;
}

using ns::str::hasPrefix;
using ns::str::hasSuffix;

std::string htmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

bool writeFile(const std::string& path, std::string_view bytes, bool append) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
  if (fd < 0) {
    ns::Log("NetHTTPFetcher logging write error:%s (%s)", std::strerror(errno), path);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ns::Log("NetHTTPFetcher logging write error:%s (%s)", std::strerror(errno), path);
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return ::close(fd) == 0;
}

// Cuts every form value after each of the names, up to the next "&".
std::string snipFormSecrets(std::string text) {
  for (const char* name :
       {"client_secret=", "refresh_token=", "access_token=", "id_token=", "&Passwd=", "code=", "assertion="})
    text = NetHTTPFetcherLogging::snipSubstringOfString_betweenStartString_endString(text, name, "&");
  return text;
}

// Token values in a token reply and the API key of a JSON-RPC body.
ns::Value snipJSONSecrets(const ns::Value& object) {
  if (object.isDictionary()) {
    ns::Dictionary copy = object.dictionary();
    for (const char* key : {"refresh_token", "access_token", "id_token", "key"})
      if (copy.contains(ns::Value(key))) copy.set(ns::Value(key), ns::Value(kSnip));
    return ns::Value(copy);
  }
  if (object.isArray()) {
    ns::Array copy;
    for (std::size_t i = 0; i < object.count(); ++i) copy.push_back(snipJSONSecrets(object[i]));
    return ns::Value(copy);
  }
  return object;
}

std::optional<std::string> xmllintFormatted(const ns::Data& data) {
  {
    std::lock_guard lock(settings().mutex);
    if (settings().hasXmllint < 0) settings().hasXmllint = ::access(kXmllint, X_OK) == 0 ? 1 : 0;
    if (!settings().hasXmllint) return std::nullopt;
  }
  // The body goes in through a file so that a large document cannot fill both pipes at once.
  std::string tmpl = (std::filesystem::temp_directory_path() / "netlog-xml-XXXXXX").string();
  int fd = ::mkstemp(tmpl.data());
  if (fd < 0) return std::nullopt;
  ::close(fd);
  std::optional<std::string> result;
  if (writeFile(tmpl, data.view(), false)) {
    auto input = ns::FileHandle::fileHandleForReadingAtPath(tmpl);
    auto output = ns::make<ns::Pipe>();
    auto task = ns::make<ns::Task>();
    task->setLaunchPath(kXmllint);
    task->setArguments({"--format", "-"});
    task->setEnvironment(std::map<std::string, std::string>{});
    task->setStandardInput(input);
    task->setStandardOutput(output);
    task->setStandardError(ns::FileHandle::fileHandleWithNullDevice());
    ns::Error error;
    if (input && task->launchAndReturnError(&error)) {
      ns::Data out = output->fileHandleForReading()->readDataToEndOfFile();
      task->waitUntilExit();
      if (task->terminationStatus() == 0 && out.length() > 0) result = out.toString();
    }
  }
  ::unlink(tmpl.c_str());
  return result;
}

// Makes sure the run folder exists, choosing it at the first logged fetch.
std::optional<std::string> runFolder() {
  auto directory = NetHTTPFetcherLogging::loggingDirectory();
  if (!directory) return std::nullopt;
  std::string prefix = NetHTTPFetcherLogging::processNameLogPrefix();
  std::lock_guard lock(settings().mutex);
  if (settings().runFolder) {
    if (NetHTTPFetcherLogging::makeDirectoryUpToPath(*settings().runFolder)) return settings().runFolder;
    return std::nullopt;
  }
  std::string stamp = settings().dateStamp ? *settings().dateStamp : launchDateStamp();
  std::string folder = *directory + "/" + prefix + stamp;
  for (int suffix = 2; NetHTTPFetcherLogging::fileOrDirExistsAtPath(folder) && suffix <= 19; ++suffix)
    folder = *directory + "/" + prefix + stamp + "_" + std::to_string(suffix);
  if (!NetHTTPFetcherLogging::makeDirectoryUpToPath(folder)) return std::nullopt;
  settings().runFolder = folder;
  return folder;
}

// The record of a fetcher (made when asked), dropping records of fetchers that are gone so that
// a new fetcher at a reused address never sees an old one's. Called under the settings lock.
FetcherRecord* recordFor(const NetHTTPFetcher& fetcher, bool make) {
  auto& records = settings().records;
  for (auto it = records.begin(); it != records.end();)
    it = it->second.owner.expired() ? records.erase(it) : std::next(it);
  auto it = records.find(&fetcher);
  if (it != records.end()) return &it->second;
  if (!make) return nullptr;
  FetcherRecord record;
  record.owner = fetcher.weak_from_this();
  return &records.emplace(&fetcher, std::move(record)).first->second;
}

void installHooks() {
  NetHTTPFetcher::setLoggingHooks({
      [](NetHTTPFetcher& fetcher, const std::optional<ns::Error>& error) {
        if (!settings().enabled.load(std::memory_order_relaxed)) return;
        // A deferred entry is written when deferring ends; an error entry is written at once.
        if (!error && NetHTTPFetcherLogging::shouldDeferResponseBodyLogging(fetcher)) return;
        NetHTTPFetcherLogging::logFetchWithError(fetcher, error);
      },
      [](NetHTTPFetcher& fetcher) {
        if (settings().enabled.load(std::memory_order_relaxed))
          NetHTTPFetcherLogging::setupStreamLogging(fetcher);
      },
  });
}

}  // namespace

void NetHTTPFetcherLogging::setLoggingEnabled(bool enabled) {
  static std::once_flag once;
  std::call_once(once, installHooks);
  std::lock_guard lock(settings().mutex);
  settings().enabled = enabled;
}
bool NetHTTPFetcherLogging::isLoggingEnabled() {
  return settings().enabled.load();
}

void NetHTTPFetcherLogging::setLoggingToFileEnabled(bool enabled) {
  std::lock_guard lock(settings().mutex);
  settings().toFile = enabled;
}
bool NetHTTPFetcherLogging::isLoggingToFileEnabled() {
  std::lock_guard lock(settings().mutex);
  return settings().toFile;
}

void NetHTTPFetcherLogging::setLoggingDirectory(std::optional<std::string> path) {
  std::lock_guard lock(settings().mutex);
  settings().directory = std::move(path);
  settings().runFolder.reset();
}
std::optional<std::string> NetHTTPFetcherLogging::loggingDirectory() {
  std::lock_guard lock(settings().mutex);
  if (!settings().directory) {
    std::string desktop = ns::userDirectory(ns::DesktopDirectory);
    if (desktop.empty()) return std::nullopt;
    std::string path = desktop + "/NetHTTPDebugLogs";
    if (!makeDirectoryUpToPath(path)) return std::nullopt;
    settings().directory = path;
  }
  return settings().directory;
}

void NetHTTPFetcherLogging::setLoggingProcessName(std::optional<std::string> name) {
  std::lock_guard lock(settings().mutex);
  settings().processName = std::move(name);
}
std::string NetHTTPFetcherLogging::loggingProcessName() {
  std::optional<std::string> name;
  {
    std::lock_guard lock(settings().mutex);
    name = settings().processName;
  }
  std::string result = name ? *name : ns::ProcessInfo::processInfo()->processName();
  for (char& c : result)
    if (c == ' ') c = '_';
  return result;
}

void NetHTTPFetcherLogging::setLoggingDateStamp(std::optional<std::string> stamp) {
  std::lock_guard lock(settings().mutex);
  settings().dateStamp = std::move(stamp);
}
std::string NetHTTPFetcherLogging::loggingDateStamp() {
  std::lock_guard lock(settings().mutex);
  return settings().dateStamp ? *settings().dateStamp : launchDateStamp();
}
std::string NetHTTPFetcherLogging::processNameLogPrefix() {
  return loggingProcessName() + "_log_";
}

ns::Value NetHTTPFetcherLogging::JSONObjectWithData(const ns::Data& data) {
  return ns::JSONSerialization::JSONObjectWithData_options_error(data, ns::JSONReadingMutableContainers,
                                                                 nullptr);
}
std::optional<std::string> NetHTTPFetcherLogging::stringWithJSONObject(const ns::Value& object) {
  return ns::JSONSerialization::stringWithJSONObject(object, ns::JSONWritingPrettyPrinted);
}

std::string NetHTTPFetcherLogging::snipSubstringOfString_betweenStartString_endString(
    const std::string& text, const std::string& start, const std::string& end) {
  auto at = text.find(start);
  if (at == std::string::npos) return text;
  auto from = at + start.size();
  auto to = text.find(end, from);
  if (to == std::string::npos) to = text.size();
  return text.substr(0, from) + kSnip + text.substr(to);
}

std::string NetHTTPFetcherLogging::headersStringForDictionary(const ns::HTTPHeaderFields& headers) {
  std::string out;
  for (const auto& [name, value] : headers) {
    std::string shown = value;
    if (strcasecmp(name.c_str(), "Authorization") == 0) {
      shown = snipSubstringOfString_betweenStartString_endString(shown, "oauth_token=\"", "\"");
      for (const char* scheme : {"Bearer ", "OAuth ", "GoogleLogin auth="})
        shown = snipSubstringOfString_betweenStartString_endString(shown, scheme, "\n");
    }
    out += "  " + name + ": " + shown + "\n";
  }
  return out;
}

bool NetHTTPFetcherLogging::fileOrDirExistsAtPath(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool NetHTTPFetcherLogging::makeDirectoryUpToPath(const std::string& path) {
  if (path.empty()) return false;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !makeDirectoryUpToPath(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 ||
         (errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

bool NetHTTPFetcherLogging::removeItemAtPath(const std::string& path) {
  std::error_code ec;
  return std::filesystem::remove_all(path, ec) > 0 && !ec;
}

bool NetHTTPFetcherLogging::createSymbolicLinkAtPath_withDestinationPath(const std::string& path,
                                                                         const std::string& destination) {
  return ::symlink(destination.c_str(), path.c_str()) == 0;
}

std::optional<std::string> NetHTTPFetcherLogging::formattedStringFromData_contentType_JSON(
    const std::optional<ns::Data>& data, const std::optional<std::string>& type, ns::Value* json) {
  if (!data) return std::nullopt;
  std::optional<std::string> text;
  if (type && hasPrefix(*type, "application/json") && data->length() >= 6) {
    ns::Value object = JSONObjectWithData(*data);
    if (object) {
      if (json) *json = object;
      text = stringWithJSONObject(snipJSONSecrets(object));
    }
  }
  if (!text && data->length() >= 6 && hasPrefix(data->toString().substr(0, 5), "<?xml"))
    text = xmllintFormatted(*data);
  if (!text) text = data->toString();
  if (!isValidUTF8(*text)) return std::nullopt;
  return text;
}

std::string NetHTTPFetcherLogging::stringFromStreamData_contentType(const ns::Data& data,
                                                                    const std::optional<std::string>& type) {
  if (auto formatted = formattedStringFromData_contentType_JSON(data, type))
    return snipFormSecrets(*formatted);
  std::string raw = data.toString();
  std::string cleaned = raw;
  for (char& c : cleaned)
    if (c == 0 || static_cast<unsigned char>(c) >= 128) c = '_';
  if (hasPrefix(cleaned, "--")) {
    auto eol = raw.find("\r\n");
    std::string boundary = raw.substr(0, eol == std::string::npos ? raw.size() : eol);
    std::string out;
    std::size_t pos = 0;
    while (pos < raw.size()) {
      auto next = raw.find(boundary, pos + boundary.size());
      std::string part = raw.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
      if (isValidUTF8(part)) {
        out += part;
      } else {
        auto headersEnd = part.find("\r\n\r\n");
        std::string head = part.substr(0, headersEnd == std::string::npos ? part.size() : headersEnd);
        std::size_t rest = headersEnd == std::string::npos ? 0 : part.size() - headersEnd - 4;
        out += head + "\r\r<<" + std::to_string(rest) + " bytes>>\r";
      }
      if (next == std::string::npos) break;
      pos = next;
    }
    cleaned = out;
    for (char& c : cleaned)
      if (c == 0) c = '_';
  }
  return snipFormSecrets(cleaned);
}

std::optional<ns::Data> NetHTTPFetcherLogging::loggedStreamData(const NetHTTPFetcher& fetcher) {
  std::lock_guard lock(settings().mutex);
  auto* record = recordFor(fetcher, false);
  if (!record || !record->capture) return std::nullopt;
  return record->capture->data();
}

void NetHTTPFetcherLogging::setLogRequestBody(NetHTTPFetcher& fetcher, std::optional<std::string> text) {
  std::lock_guard lock(settings().mutex);
  recordFor(fetcher, true)->logRequestBody = std::move(text);
}
std::optional<std::string> NetHTTPFetcherLogging::logRequestBody(const NetHTTPFetcher& fetcher) {
  std::lock_guard lock(settings().mutex);
  auto* record = recordFor(fetcher, false);
  return record ? record->logRequestBody : std::nullopt;
}
void NetHTTPFetcherLogging::setLogResponseBody(NetHTTPFetcher& fetcher, std::optional<std::string> text) {
  std::lock_guard lock(settings().mutex);
  recordFor(fetcher, true)->logResponseBody = std::move(text);
}
std::optional<std::string> NetHTTPFetcherLogging::logResponseBody(const NetHTTPFetcher& fetcher) {
  std::lock_guard lock(settings().mutex);
  auto* record = recordFor(fetcher, false);
  return record ? record->logResponseBody : std::nullopt;
}
bool NetHTTPFetcherLogging::shouldDeferResponseBodyLogging(const NetHTTPFetcher& fetcher) {
  std::lock_guard lock(settings().mutex);
  auto* record = recordFor(fetcher, false);
  return record && record->shouldDefer;
}
void NetHTTPFetcherLogging::setShouldDeferResponseBodyLogging(NetHTTPFetcher& fetcher, bool defer) {
  bool writeNow;
  {
    std::lock_guard lock(settings().mutex);
    auto* record = recordFor(fetcher, true);
    writeNow = record->shouldDefer && !defer && !record->hasLoggedError;
    record->shouldDefer = defer;
  }
  if (!writeNow) return;
  auto strong = std::static_pointer_cast<NetHTTPFetcher>(fetcher.shared_from_this());
  ns::Thread::performOnMainThread(
      {strong, "logFetchWithError:", nullptr, [strong] { logFetchWithError(*strong, std::nullopt); }}, false);
}

void NetHTTPFetcherLogging::setupStreamLogging(NetHTTPFetcher& fetcher) {
  auto stream = fetcher.postStream();
  if (!stream || !isLoggingEnabled()) return;
  auto capture = ns::make<StreamCapture>();
  {
    std::lock_guard lock(settings().mutex);
    auto* record = recordFor(fetcher, true);
    if (record->capture) return;
    record->capture = capture;
  }
  auto monitor = NetReadMonitorInputStream::inputStreamWithStream(stream);
  monitor->setReadDelegate(capture);
  monitor->setReadSelector(NetReadMonitorInputStream::ReadSelector::of(
      "inputStream:readIntoBuffer:length:", &StreamCapture::inputStream_readIntoBuffer_length));
  auto modes = fetcher.runLoopModes();
  if (!modes.empty()) monitor->setRunLoopModes(modes);
  fetcher.setPostStream(monitor);
}

void NetHTTPFetcherLogging::logFetchWithError(NetHTTPFetcher& fetcher,
                                              const std::optional<ns::Error>& error) {
  if (!isLoggingEnabled()) return;
  bool toFile = isLoggingToFileEnabled();
  std::optional<std::string> folder;
  if (toFile) {
    folder = runFolder();
    if (!folder) return;
  }
  long number;
  std::optional<ns::Data> streamData;
  std::optional<std::string> requestBodyText, responseBodyText;
  {
    std::lock_guard lock(settings().mutex);
    number = ++settings().fetchNumber;
    if (auto* record = recordFor(fetcher, false)) {
      if (record->capture) streamData = record->capture->data();
      requestBodyText = record->logRequestBody;
      responseBodyText = std::move(record->logResponseBody);
      record->logResponseBody.reset();
      if (error) record->hasLoggedError = true;
    }
  }

  auto request = fetcher.mutableRequest();
  auto response = fetcher.response();
  auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(response);
  long status = fetcher.statusCode();
  auto body = fetcher.downloadedData();
  std::uint64_t bodyLength = fetcher.downloadedLength();
  std::optional<std::string> responseType = response ? response->MIMEType() : std::nullopt;
  std::string method = request ? request->HTTPMethod() : "";
  std::string url = request && request->URL() ? request->URL()->absoluteString() : "";
  std::string comment = fetcher.comment().value_or("");
  std::string date = ns::Date::now().description();
  std::string textName = "fetch_" + std::to_string(number) + ".txt";

  // The reply body as its own file.
  std::string responseFileName;
  ns::Value json;
  std::optional<std::string> formattedBody;
  if (body && body->length() > 0) {
    formattedBody = formattedStringFromData_contentType_JSON(body, responseType, &json);
    std::string type = responseType.value_or("");
    std::string extension;
    bool raw = false;
    if (type == "application/atom+xml" || hasSuffix(type, "/xml"))
      extension = "xml";
    else if (type == "image/jpeg")
      extension = "jpg", raw = true;
    else if (type == "image/gif")
      extension = "gif", raw = true;
    else if (type == "image/png")
      extension = "png", raw = true;
    // Images go raw; anything else only as valid UTF-8 text, so binary bytes never land in a
    // text file.
    if (toFile && (raw || formattedBody)) {
      responseFileName =
          "fetch_" + std::to_string(number) + "_response" + (extension.empty() ? "" : "." + extension);
      std::string path = *folder + "/" + responseFileName;
      bool written = raw ? writeFile(path, body->view(), false)
                         : (formattedBody && writeFile(path, *formattedBody, false));
      if (!written) responseFileName.clear();
    }
  }

  // The text entry.
  std::string text;
  if (!comment.empty()) text += comment + "\n";
  text += date + "\n";
  if (auto from = fetcher.redirectedFromURL()) text += "Redirected from " + from->absoluteString() + "\n";
  text += "Request: " + method + " " + url + "\n";
  ns::HTTPHeaderFields requestHeaders = request ? request->allHTTPHeaderFields() : ns::HTTPHeaderFields();
  text += "Request headers:\n" + headersStringForDictionary(requestHeaders);
  std::optional<ns::Data> requestBody = fetcher.postData();
  if (!requestBody) requestBody = streamData;
  std::size_t requestLength = requestBody ? requestBody->length() : 0;
  text += "Request body: (" + std::to_string(requestLength) + " bytes)\n";
  if (requestBodyText)
    text += *requestBodyText + "\n";
  else if (requestLength > 0)
    text += stringFromStreamData_contentType(*requestBody, requestHeaders.get("Content-Type")) + "\n";
  if (response) {
    text += "Response: status " + std::to_string(status) + "\n";
    text +=
        "Response headers:\n" + (http ? headersStringForDictionary(http->allHeaderFields()) : std::string());
    text += "Response body: (" + std::to_string(bodyLength) + " bytes)\n";
    if (bodyLength > 0) {
      if (responseBodyText) {
        text += *responseBodyText + "\n";
      } else if (formattedBody) {
        text += *formattedBody + "\n";
      } else if (status < 400) {
        text += "<<" + std::to_string(bodyLength) + " bytes>>\n";
      } else if (auto temp = fetcher.temporaryDownloadPath()) {
        std::ifstream in(*temp, std::ios::binary);
        std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!contents.empty() && isValidUTF8(contents))
          text += contents + "\n";
        else
          text += "<<" + std::to_string(bodyLength) + " bytes to file>>\n";
      } else {
        text += "<<" + std::to_string(bodyLength) + " bytes>>\n";
      }
    }
  }
  if (error) text += "Error: " + error->description() + "\n";
  text += std::string(59, '-') + "\n";
  fetcher.setLog(text);
  if (!toFile) return;
  writeFile(*folder + "/" + textName, text, false);

  // The HTML entry.
  std::string htmlPath = *folder + "/" + htmlFileName();
  std::string html;
  if (!fileOrDirExistsAtPath(htmlPath))
    html += "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\"><title>" +
            htmlEscaped(loggingProcessName()) + " HTTP fetch log " + htmlEscaped(loggingDateStamp()) +
            "</title>\n";
  html += "<b>" + htmlEscaped(date) + " " + htmlEscaped(comment) + "</b> <a href=\"" + textName +
          "\">request/response log</a><br>\n";
  if (auto from = fetcher.redirectedFromURL())
    html += "<i>redirected from " + htmlEscaped(from->host().value_or("")) + "</i><br>\n";
  html += htmlEscaped(method) + " " + htmlEscaped(url) + "<br>\n";
  if (requestHeaders.empty()) {
    html += "headers: none<br>\n";
  } else {
    html += "request headers: " + std::to_string(requestHeaders.size());
    if (requestHeaders.contains("Authorization")) {
      bool plain = request && request->URL() && request->URL()->scheme().value_or("") == "http";
      html += plain ? " <b>authorized, non-SSL</b> &#x26A0;" : " <i>authorized</i>";
    }
    if (requestHeaders.contains("Cookie")) html += " <i>cookies</i>";
    if (requestHeaders.contains("If-Match")) html += " <i>if-match</i>";
    if (requestHeaders.contains("If-None-Match")) html += " <i>if-none-match</i>";
    html += "<br>\n";
  }
  html += "body: " + std::to_string(requestLength) + " bytes, " +
          htmlEscaped(requestHeaders.get("Content-Type").value_or("<no type>")) + "<br>\n";
  if (response) {
    std::string statusText = std::to_string(status);
    if (status != 200 && status != 201) {
      statusText = "<font color=\"" + std::string(status >= 400 ? "red" : "orange") + "\">" + statusText +
                   (status >= 400 ? " &#x2691;" : "") + "</font>";
    } else if (json.isDictionary() && json["error"].isDictionary()) {
      statusText += " error " + htmlEscaped(json["error"]["code"].stringValue()) + " " +
                    htmlEscaped(json["error"]["message"].stringValue());
    }
    html += "response status: " + statusText + "<br>\n";
    if (response->URL() && response->URL()->absoluteString() != url)
      html += "response URL: " + htmlEscaped(response->URL()->absoluteString()) + "<br>\n";
    if (http) {
      html += "response headers: " + std::to_string(http->allHeaderFields().size());
      if (http->allHeaderFields().contains("Set-Cookie")) html += " <i>sets cookies</i>";
      if (status >= 300 && status < 400 && http->allHeaderFields().contains("Location"))
        html += " <i>redirects</i>";
      html += "<br>\n";
    }
  }
  if (error) html += "error: " + htmlEscaped(error->description()) + "<br>\n";
  if (!responseFileName.empty()) {
    html += "data: <a href=\"" + responseFileName + "\">" + std::to_string(bodyLength) + " bytes</a>";
    if (hasSuffix(responseFileName, ".jpg") || hasSuffix(responseFileName, ".gif") ||
        hasSuffix(responseFileName, ".png"))
      html += " <img src=\"" + responseFileName + "\" height=\"64\">";
    html += "<br>\n";
  }
  html += "<br><hr><p>\n";
  writeFile(htmlPath, html, true);

  // The newest-log link beside the run folder.
  std::string linkPath = *loggingDirectory() + "/" + loggingProcessName() + symlinkNameSuffix();
  ::unlink(linkPath.c_str());
  createSymbolicLinkAtPath_withDestinationPath(linkPath, htmlPath);
}
