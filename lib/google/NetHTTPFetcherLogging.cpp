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
    ns::LogWarning("NetHTTPFetcher logging write error:%s (%s)", std::strerror(errno), path);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ns::LogWarning("NetHTTPFetcher logging write error:%s (%s)", std::strerror(errno), path);
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

namespace {

// One finished fetch as its log entries show it, read once from the fetcher and from the log's
// record of it.
struct FetchEntry {
  long number = 0;
  std::optional<std::string> requestBodyText, responseBodyText;
  ns::Ref<ns::URLRequest> request;
  ns::Ref<ns::URLResponse> response;
  ns::Ref<ns::HTTPURLResponse> http;
  long status = 0;
  std::optional<ns::Data> body;
  std::uint64_t bodyLength = 0;
  std::optional<std::string> responseType;
  std::string method, url, comment, date, textName;
  ns::HTTPHeaderFields requestHeaders;
  // The body sent: the fetcher's data, else the copy taken of its stream.
  std::optional<ns::Data> requestBody;
  std::size_t requestLength = 0;
  // The reply body as text when it reads as text, and the JSON it holds when it is JSON.
  std::optional<std::string> formattedBody;
  ns::Value json;
  // The reply body's own file in the run folder; empty when none was written.
  std::string responseFileName;
};

// Numbers the entry and takes the texts set in place of the bodies (the response text is
// cleared once taken).
FetchEntry takeFetchEntry(const NetHTTPFetcher& fetcher, bool hasError) {
  FetchEntry entry;
  std::optional<ns::Data> streamData;
  {
    std::lock_guard lock(settings().mutex);
    entry.number = ++settings().fetchNumber;
    if (auto* record = recordFor(fetcher, false)) {
      if (record->capture) streamData = record->capture->data();
      entry.requestBodyText = record->logRequestBody;
      entry.responseBodyText = std::move(record->logResponseBody);
      record->logResponseBody.reset();
      if (hasError) record->hasLoggedError = true;
    }
  }

  entry.request = fetcher.mutableRequest();
  entry.response = fetcher.response();
  entry.http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(entry.response);
  entry.status = fetcher.statusCode();
  entry.body = fetcher.downloadedData();
  entry.bodyLength = fetcher.downloadedLength();
  entry.responseType = entry.response ? entry.response->MIMEType() : std::nullopt;
  entry.method = entry.request ? entry.request->HTTPMethod() : "";
  entry.url = entry.request && entry.request->URL() ? entry.request->URL()->absoluteString() : "";
  entry.comment = fetcher.comment().value_or("");
  entry.date = ns::Date::now().description();
  entry.textName = "fetch_" + std::to_string(entry.number) + ".txt";
  entry.requestHeaders = entry.request ? entry.request->allHTTPHeaderFields() : ns::HTTPHeaderFields();
  entry.requestBody = fetcher.postData();
  if (!entry.requestBody) entry.requestBody = streamData;
  entry.requestLength = entry.requestBody ? entry.requestBody->length() : 0;
  return entry;
}

// Formats the reply body and, with a run folder, writes it as its own file: images go raw,
// anything else only as valid UTF-8 text, so binary bytes never land in a text file.
void formatResponseBody(FetchEntry& entry, const std::optional<std::string>& folder) {
  if (!entry.body || entry.body->length() == 0) return;
  entry.formattedBody = NetHTTPFetcherLogging::formattedStringFromData_contentType_JSON(
      entry.body, entry.responseType, &entry.json);
  std::string type = entry.responseType.value_or("");
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
  if (!folder || !(raw || entry.formattedBody)) return;
  entry.responseFileName =
      "fetch_" + std::to_string(entry.number) + "_response" + (extension.empty() ? "" : "." + extension);
  std::string path = *folder + "/" + entry.responseFileName;
  bool written = raw ? writeFile(path, entry.body->view(), false)
                     : (entry.formattedBody && writeFile(path, *entry.formattedBody, false));
  if (!written) entry.responseFileName.clear();
}

// The reply body's line of the text entry: the text set in its place, the formatted body, or
// its size; an error reply downloaded to a file is read back when it is text.
std::string responseBodyLine(const NetHTTPFetcher& fetcher, const FetchEntry& entry) {
  if (entry.responseBodyText) return *entry.responseBodyText + "\n";
  if (entry.formattedBody) return *entry.formattedBody + "\n";
  if (entry.status < 400) return "<<" + std::to_string(entry.bodyLength) + " bytes>>\n";
  if (auto temp = fetcher.temporaryDownloadPath()) {
    std::ifstream in(*temp, std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!contents.empty() && isValidUTF8(contents)) return contents + "\n";
    return "<<" + std::to_string(entry.bodyLength) + " bytes to file>>\n";
  }
  return "<<" + std::to_string(entry.bodyLength) + " bytes>>\n";
}

// The plain-text entry: request and reply in full.
std::string textEntry(const NetHTTPFetcher& fetcher, const FetchEntry& entry,
                      const std::optional<ns::Error>& error) {
  std::string text;
  if (!entry.comment.empty()) text += entry.comment + "\n";
  text += entry.date + "\n";
  if (auto from = fetcher.redirectedFromURL()) text += "Redirected from " + from->absoluteString() + "\n";
  text += "Request: " + entry.method + " " + entry.url + "\n";
  text += "Request headers:\n" + NetHTTPFetcherLogging::headersStringForDictionary(entry.requestHeaders);
  text += "Request body: (" + std::to_string(entry.requestLength) + " bytes)\n";
  if (entry.requestBodyText)
    text += *entry.requestBodyText + "\n";
  else if (entry.requestLength > 0)
    text += NetHTTPFetcherLogging::stringFromStreamData_contentType(
                *entry.requestBody, entry.requestHeaders.get("Content-Type")) +
            "\n";
  if (entry.response) {
    text += "Response: status " + std::to_string(entry.status) + "\n";
    text += "Response headers:\n" +
            (entry.http ? NetHTTPFetcherLogging::headersStringForDictionary(entry.http->allHeaderFields())
                        : std::string());
    text += "Response body: (" + std::to_string(entry.bodyLength) + " bytes)\n";
    if (entry.bodyLength > 0) text += responseBodyLine(fetcher, entry);
  }
  if (error) text += "Error: " + error->description() + "\n";
  text += std::string(59, '-') + "\n";
  return text;
}

// The request headers' line of the HTML entry: their count and the ones worth a glance.
std::string requestHeadersHTML(const FetchEntry& entry) {
  const auto& headers = entry.requestHeaders;
  if (headers.empty()) return "headers: none<br>\n";
  std::string html = "request headers: " + std::to_string(headers.size());
  if (headers.contains("Authorization")) {
    bool plain =
        entry.request && entry.request->URL() && entry.request->URL()->scheme().value_or("") == "http";
    html += plain ? " <b>authorized, non-SSL</b> &#x26A0;" : " <i>authorized</i>";
  }
  if (headers.contains("Cookie")) html += " <i>cookies</i>";
  if (headers.contains("If-Match")) html += " <i>if-match</i>";
  if (headers.contains("If-None-Match")) html += " <i>if-none-match</i>";
  return html + "<br>\n";
}

// The reply's lines of the HTML entry: its status (coloured unless 200 or 201, or with the
// JSON error of a successful reply), its URL when it moved, and its headers' count.
std::string responseHTML(const FetchEntry& entry) {
  std::string statusText = std::to_string(entry.status);
  if (entry.status != 200 && entry.status != 201) {
    statusText = "<font color=\"" + std::string(entry.status >= 400 ? "red" : "orange") + "\">" + statusText +
                 (entry.status >= 400 ? " &#x2691;" : "") + "</font>";
  } else if (entry.json.isDictionary() && entry.json["error"].isDictionary()) {
    statusText += " error " + htmlEscaped(entry.json["error"]["code"].stringValue()) + " " +
                  htmlEscaped(entry.json["error"]["message"].stringValue());
  }
  std::string html = "response status: " + statusText + "<br>\n";
  if (entry.response->URL() && entry.response->URL()->absoluteString() != entry.url)
    html += "response URL: " + htmlEscaped(entry.response->URL()->absoluteString()) + "<br>\n";
  if (entry.http) {
    html += "response headers: " + std::to_string(entry.http->allHeaderFields().size());
    if (entry.http->allHeaderFields().contains("Set-Cookie")) html += " <i>sets cookies</i>";
    if (entry.status >= 300 && entry.status < 400 && entry.http->allHeaderFields().contains("Location"))
      html += " <i>redirects</i>";
    html += "<br>\n";
  }
  return html;
}

// The entry of the HTML index, opened by the page's head when it is the run's first.
std::string htmlEntry(const NetHTTPFetcher& fetcher, const FetchEntry& entry,
                      const std::optional<ns::Error>& error, bool firstInFile) {
  std::string html;
  if (firstInFile)
    html += "<html><head><meta http-equiv=\"content-type\" content=\"text/html; charset=UTF-8\"><title>" +
            htmlEscaped(NetHTTPFetcherLogging::loggingProcessName()) + " HTTP fetch log " +
            htmlEscaped(NetHTTPFetcherLogging::loggingDateStamp()) + "</title>\n";
  html += "<b>" + htmlEscaped(entry.date) + " " + htmlEscaped(entry.comment) + "</b> <a href=\"" +
          entry.textName + "\">request/response log</a><br>\n";
  if (auto from = fetcher.redirectedFromURL())
    html += "<i>redirected from " + htmlEscaped(from->host().value_or("")) + "</i><br>\n";
  html += htmlEscaped(entry.method) + " " + htmlEscaped(entry.url) + "<br>\n";
  html += requestHeadersHTML(entry);
  html += "body: " + std::to_string(entry.requestLength) + " bytes, " +
          htmlEscaped(entry.requestHeaders.get("Content-Type").value_or("<no type>")) + "<br>\n";
  if (entry.response) html += responseHTML(entry);
  if (error) html += "error: " + htmlEscaped(error->description()) + "<br>\n";
  const std::string& file = entry.responseFileName;
  if (!file.empty()) {
    html += "data: <a href=\"" + file + "\">" + std::to_string(entry.bodyLength) + " bytes</a>";
    if (hasSuffix(file, ".jpg") || hasSuffix(file, ".gif") || hasSuffix(file, ".png"))
      html += " <img src=\"" + file + "\" height=\"64\">";
    html += "<br>\n";
  }
  html += "<br><hr><p>\n";
  return html;
}

}  // namespace

void NetHTTPFetcherLogging::logFetchWithError(NetHTTPFetcher& fetcher,
                                              const std::optional<ns::Error>& error) {
  if (!isLoggingEnabled()) return;
  bool toFile = isLoggingToFileEnabled();
  std::optional<std::string> folder;
  if (toFile) {
    folder = runFolder();
    if (!folder) return;
  }
  FetchEntry entry = takeFetchEntry(fetcher, error.has_value());
  formatResponseBody(entry, folder);
  std::string text = textEntry(fetcher, entry, error);
  fetcher.setLog(text);
  if (!toFile) return;
  writeFile(*folder + "/" + entry.textName, text, false);

  std::string htmlPath = *folder + "/" + htmlFileName();
  writeFile(htmlPath, htmlEntry(fetcher, entry, error, !fileOrDirExistsAtPath(htmlPath)), true);

  // The newest-log link beside the run folder.
  std::string linkPath = *loggingDirectory() + "/" + loggingProcessName() + symlinkNameSuffix();
  ::unlink(linkPath.c_str());
  createSymbolicLinkAtPath_withDestinationPath(linkPath, htmlPath);
}
