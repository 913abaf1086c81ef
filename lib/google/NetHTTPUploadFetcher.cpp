#include "lib/google/NetHTTPUploadFetcher.h"

#include <charconv>

#include "lib/google/ApiService.h"
#include "lib/google/ApiUploadParameters.h"
#include "lib/google/NetHTTPFetcherService.h"
#include "platform/core/Log.h"
#include "platform/foundation/FileHandle.h"

namespace {

constexpr std::uint64_t kMinimumServiceChunkSize = 50000;
// A remainder shorter than this beyond a full chunk goes with that chunk.
constexpr std::uint64_t kChunkRemainderSlack = 2500;

bool sameURL(const ns::Ref<ns::URL>& a, const ns::Ref<ns::URL>& b) {
  if (!a || !b) return a == b;
  return a->absoluteString() == b->absoluteString();
}

std::optional<std::uint64_t> parseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The offset after the last byte of a "bytes=first-last" range, or nothing when it is malformed.
std::optional<std::uint64_t> offsetAfterRange(const std::optional<std::string>& range) {
  if (!range) return std::nullopt;
  std::string_view text = *range;
  constexpr std::string_view prefix = "bytes=";
  if (text.substr(0, prefix.size()) != prefix) return std::nullopt;
  text.remove_prefix(prefix.size());
  auto dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  auto first = parseNumber(text.substr(0, dash));
  auto last = parseNumber(text.substr(dash + 1));
  if (!first || !last || *last < *first || *last == ~std::uint64_t(0)) return std::nullopt;
  return *last + 1;
}

// A chunk fetcher: a plain fetcher, except that a 308 is the protocol's "resume incomplete",
// whose "Location" names the next target, never a redirect to follow with the chunk.
class ChunkFetcher : public NetHTTPFetcher {
 public:
  using NetHTTPFetcher::NetHTTPFetcher;
  ns::Ref<ns::URLRequest> connection_willSendRequest_redirectResponse(
      const ns::Ref<ns::URLConnection>& connection, const ns::Ref<ns::URLRequest>& request,
      const ns::Ref<ns::URLResponse>& redirectResponse) override {
    auto http = std::dynamic_pointer_cast<ns::HTTPURLResponse>(redirectResponse);
    if (http && http->statusCode() == 308) return nullptr;
    return NetHTTPFetcher::connection_willSendRequest_redirectResponse(connection, request, redirectResponse);
  }
};

ns::Error statusErrorWithoutInfo(long status) {
  return ns::Error(NetHTTPStatusErrorDomain, status);
}

}  // namespace

NetHTTPUploadFetcher::NetHTTPUploadFetcher(const ns::Ref<ns::URLRequest>& request)
    : NetHTTPFetcher(request) {}

NetHTTPUploadFetcher::~NetHTTPUploadFetcher() = default;

// ---------------------------------------------------------------------------------------------
// Making

NetHTTPUploadFetcher::UploadRef NetHTTPUploadFetcher::uploadFetcherWithRequest_fetcherService(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<NetHTTPFetcherService>& fetcherService) {
  if (fetcherService) {
    auto made = fetcherService->fetcherWithRequest_fetcherClass(
        request, [](const ns::Ref<ns::URLRequest>& r) { return ns::make<NetHTTPUploadFetcher>(r); });
    return std::static_pointer_cast<NetHTTPUploadFetcher>(made);
  }
  return ns::make<NetHTTPUploadFetcher>(request);
}

NetHTTPUploadFetcher::UploadRef
NetHTTPUploadFetcher::uploadFetcherWithRequest_uploadData_uploadMIMEType_chunkSize_fetcherService(
    const ns::Ref<ns::URLRequest>& request, const ns::Data& data, const std::string& uploadMIMEType,
    std::uint64_t chunkSize, const ns::Ref<NetHTTPFetcherService>& fetcherService) {
  auto fetcher = uploadFetcherWithRequest_fetcherService(request, fetcherService);
  fetcher->setLocationURL_uploadData_uploadFileHandle_uploadMIMEType_chunkSize(nullptr, data, nullptr,
                                                                               uploadMIMEType, chunkSize);
  return fetcher;
}

NetHTTPUploadFetcher::UploadRef
NetHTTPUploadFetcher::uploadFetcherWithRequest_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::FileHandle>& fileHandle,
    const std::string& uploadMIMEType, std::uint64_t chunkSize,
    const ns::Ref<NetHTTPFetcherService>& fetcherService) {
  auto fetcher = uploadFetcherWithRequest_fetcherService(request, fetcherService);
  fetcher->setLocationURL_uploadData_uploadFileHandle_uploadMIMEType_chunkSize(
      nullptr, std::nullopt, fileHandle, uploadMIMEType, chunkSize);
  return fetcher;
}

NetHTTPUploadFetcher::UploadRef
NetHTTPUploadFetcher::uploadFetcherWithLocation_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
    const ns::Ref<ns::URL>& location, const ns::Ref<ns::FileHandle>& fileHandle,
    const std::string& uploadMIMEType, std::uint64_t chunkSize,
    const ns::Ref<NetHTTPFetcherService>& fetcherService) {
  auto fetcher = uploadFetcherWithRequest_fetcherService(nullptr, fetcherService);
  fetcher->setLocationURL_uploadData_uploadFileHandle_uploadMIMEType_chunkSize(
      location, std::nullopt, fileHandle, uploadMIMEType, chunkSize);
  return fetcher;
}

ns::Ref<NetHTTPFetcher> NetHTTPUploadFetcher::uploadFetcherWithRequest_fetcherService_params(
    const ns::Ref<ns::URLRequest>& request, const ns::Ref<NetHTTPFetcherService>& fetcherService,
    const ns::Ref<ApiUploadParameters>& params, std::uint64_t serviceChunkSize) {
  if (!params) return nullptr;
  std::uint64_t chunkSize = std::max(serviceChunkSize, kMinimumServiceChunkSize);
  std::string type = params->MIMEType().value_or("");
  auto handle = params->fileHandle();
  if (!handle && !params->data() && params->fileURL() && params->fileURL()->isFileURL()) {
    // Only a file location: upload that file, opened read-only. A file that cannot be opened
    // leaves no handle, and the upload ends with an error instead of sending nothing.
    handle = ns::FileHandle::fileHandleForReadingAtPath(params->fileURL()->path());
    if (!handle) ns::LogWarning("uploadFileHandle cannot open %@", params->fileURL()->path());
  }
  UploadRef fetcher;
  if (params->uploadLocationURL()) {
    fetcher = uploadFetcherWithLocation_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
        params->uploadLocationURL(), handle, type, chunkSize, fetcherService);
    if (params->data() && !handle)
      fetcher->setLocationURL_uploadData_uploadFileHandle_uploadMIMEType_chunkSize(
          params->uploadLocationURL(), params->data(), nullptr, type, chunkSize);
  } else if (params->data()) {
    fetcher = uploadFetcherWithRequest_uploadData_uploadMIMEType_chunkSize_fetcherService(
        request, *params->data(), type, chunkSize, fetcherService);
  } else {
    fetcher = uploadFetcherWithRequest_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
        request, handle, type, chunkSize, fetcherService);
  }
  if (auto slug = params->slug(); slug && !slug->empty())
    if (auto r = fetcher->mutableRequest()) r->setValue_forHTTPHeaderField(*slug, "Slug");
  return fetcher;
}

void NetHTTPUploadFetcher::registerWithService() {
  ApiService::setUploadFetcherFactory(&NetHTTPUploadFetcher::uploadFetcherWithRequest_fetcherService_params);
}

void NetHTTPUploadFetcher::setLocationURL_uploadData_uploadFileHandle_uploadMIMEType_chunkSize(
    const ns::Ref<ns::URL>& location, const std::optional<ns::Data>& data,
    const ns::Ref<ns::FileHandle>& fileHandle, const std::string& uploadMIMEType, std::uint64_t chunkSize) {
  {
    std::lock_guard lock(uploadMutex_);
    uploadData_ = data;
    uploadFileHandle_ = fileHandle;
    uploadMIMEType_ = uploadMIMEType;
    chunkSize_ = chunkSize;
    uploadFileHandleLength_ = -1;
    statusCode_ = -1;
    isRestartedUpload_ = location != nullptr;
  }
  setLocationURL(location);
  if (auto request = mutableRequest()) {
    request->setValue_forHTTPHeaderField(std::to_string(fullUploadLength()), "X-Upload-Content-Length");
    request->setValue_forHTTPHeaderField(uploadMIMEType, "X-Upload-Content-Type");
  }
}

// ---------------------------------------------------------------------------------------------
// Beginning

bool NetHTTPUploadFetcher::beginFetchWithDelegate_didFinishSelector(const ns::Ref<ns::Object>& delegate,
                                                                    FinishedSelector selector) {
  if (isFetching()) {
    ns::Log("%@ is already fetching; the new begin is refused", description());
    return false;
  }
  setDelegate(delegate);
  {
    std::lock_guard lock(uploadMutex_);
    delegateFinishedSEL_ = std::move(selector);
  }
  return beginUpload();
}

bool NetHTTPUploadFetcher::beginFetchWithCompletionHandler(CompletionBlock handler) {
  if (isFetching()) {
    ns::Log("%@ is already fetching; the new begin is refused", description());
    return false;
  }
  {
    std::lock_guard lock(uploadMutex_);
    // The caller's block runs once, when the whole upload ends (or its initial request fails).
    uploadCompletionBlock_ = std::move(handler);
    delegateFinishedSEL_ = {};
  }
  return beginUpload();
}

bool NetHTTPUploadFetcher::beginUpload() {
  bool restarted, paused;
  {
    std::lock_guard lock(uploadMutex_);
    needsManualProgress_ = !doesSupportSentDataCallback();
    hasEnded_ = false;
    initialBodySent_ = 0;
    currentOffset_ = 0;
    restarted = isRestartedUpload_;
    paused = isPaused_;
  }
  auto body = postData();
  {
    std::lock_guard lock(uploadMutex_);
    initialBodyLength_ = body ? body->length() : 0;
  }
  // The inherited fetch must not reach the caller: the upload calls back when it ends.
  setFinishedSelector({});
  setCompletionBlock(nullptr);
  if (restarted) {
    if (!paused) uploadNextChunkWithOffset(kStatusQueryOffset);
    return true;
  }
  {
    std::lock_guard lock(uploadMutex_);
    inInitialRequest_ = true;
  }
  return beginFetchMayDelay_mayAuthorize(true, true);
}

// ---------------------------------------------------------------------------------------------
// The initial request

void NetHTTPUploadFetcher::connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
    const ns::Ref<ns::URLConnection>& connection, long bytesWritten, long totalBytesWritten,
    long totalBytesExpectedToWrite) {
  if (!isCurrentConnection(connection)) return;
  {
    std::lock_guard lock(uploadMutex_);
    if (needsManualProgress_) return;
  }
  uploadFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(bytesWritten, totalBytesWritten,
                                                                     totalBytesExpectedToWrite);
}

void NetHTTPUploadFetcher::connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) {
  if (!isCurrentConnection(connection)) return;
  auto self = me();
  {
    // The inherited handling reads the status of this reply, not of an earlier attempt.
    std::lock_guard lock(uploadMutex_);
    statusCode_ = -1;
    responseHeaders_.reset();
  }
  NetHTTPFetcher::connectionDidFinishLoading(connection);
  long status = NetHTTPFetcher::statusCode();
  {
    std::lock_guard lock(uploadMutex_);
    statusCode_ = status;
  }
  if (status >= 300) {
    if (NetHTTPFetcher::isFetching()) return;  // a retry is pending
    {
      std::lock_guard lock(uploadMutex_);
      inInitialRequest_ = false;
    }
    invokeFinalCallbacksWithData_error_shouldInvalidateLocation(std::nullopt, statusErrorWithoutInfo(status),
                                                                true);
    return;
  }
  {
    std::lock_guard lock(uploadMutex_);
    inInitialRequest_ = false;
  }
  auto body = downloadedData();
  auto headers = NetHTTPFetcher::responseHeaders();
  std::optional<std::string> locationText = headers ? headers->get("Location") : std::nullopt;
  ns::Ref<ns::URL> location;
  if (locationText && !locationText->empty()) {
    auto request = mutableRequest();
    location = ns::URL::URLWithString_relativeToURL(*locationText, request ? request->URL() : nullptr);
  }
  if (body && !body->empty()) {
    ns::Dictionary info;
    info.set(kNetHTTPStatusDataKey, *body);
    invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
        std::nullopt, ns::Error(NetHTTPStatusErrorDomain, kNetHTTPFetcherStatusUnexpectedInitialReply, info),
        true);
    return;
  }
  if (!location || !location->scheme()) {
    invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
        std::nullopt, statusErrorWithoutInfo(kNetHTTPFetcherStatusUnexpectedInitialReply), true);
    return;
  }
  setLocationURL(location);
  bool paused, manual;
  {
    std::lock_guard lock(uploadMutex_);
    initialBodySent_ = initialBodyLength_;
    paused = isPaused_;
    manual = needsManualProgress_;
  }
  if (manual) reportManualProgress();
  if (!paused) uploadNextChunkWithOffset(0);
}

void NetHTTPUploadFetcher::connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                                       const ns::Error& error) {
  if (!isCurrentConnection(connection)) return;
  auto self = me();
  FinishedSelector selector;
  CompletionBlock block;
  {
    std::lock_guard lock(uploadMutex_);
    selector = delegateFinishedSEL_;
    block = uploadCompletionBlock_;
  }
  // When it is not retried, the inherited failure handling reaches the caller, once.
  setFinishedSelector(selector);
  setCompletionBlock(block);
  NetHTTPFetcher::connection_didFailWithError(connection, error);
  if (NetHTTPFetcher::isFetching()) {
    // Retrying: the callbacks wait for the end of the upload again.
    setFinishedSelector({});
    setCompletionBlock(nullptr);
    return;
  }
  LocationChangeBlock dropped;
  {
    std::lock_guard lock(uploadMutex_);
    inInitialRequest_ = false;
    hasEnded_ = true;
    uploadCompletionBlock_ = nullptr;
    delegateFinishedSEL_ = {};
    dropped = std::move(locationChangeBlock_);
    locationChangeBlock_ = nullptr;
  }
  setFinishedSelector({});
}

// ---------------------------------------------------------------------------------------------
// Chunks

void NetHTTPUploadFetcher::uploadNextChunkWithOffset(std::uint64_t offset) {
  uploadNextChunkWithOffset_fetcherProperties(offset, properties());
}

void NetHTTPUploadFetcher::makeStatusQuery(const ns::Ref<ns::URLRequest>& request) {
  request->setValue_forHTTPHeaderField("bytes */" + std::to_string(fullUploadLength()), "Content-Range");
  request->setValue_forHTTPHeaderField("0", "Content-Length");
}

void NetHTTPUploadFetcher::uploadNextChunkWithOffset_fetcherProperties(std::uint64_t offset,
                                                                       const ns::Dictionary& properties) {
  auto self = me();
  std::uint64_t full = fullUploadLength();
  ns::Ref<ns::URL> location;
  std::uint64_t chunkSize;
  std::string type;
  bool hasSource;
  {
    std::lock_guard lock(uploadMutex_);
    location = locationURL_;
    chunkSize = chunkSize_;
    type = uploadMIMEType_;
    hasSource = uploadData_ || uploadFileHandle_;
  }
  auto request = ns::URLRequest::requestWithURL(location);
  ns::Data body;
  std::string range;
  if (offset == kStatusQueryOffset) {
    range = "bytes */" + std::to_string(full);
    std::lock_guard lock(uploadMutex_);
    currentOffset_ = 0;
  } else if (!hasSource) {
    // Nothing to read the body from (a file that could not be opened): fail rather than
    // announce an empty upload.
    invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
        std::nullopt,
        ns::Error::withDescription(NetHTTPFetcherErrorDomain, kNetHTTPFetcherErrorChunkUploadFailed,
                                   "The upload has no data or file to read"),
        false);
    return;
  } else if (full == 0) {
    range = "bytes */0";
  } else {
    std::uint64_t length = chunkSize;
    if (full < offset + chunkSize || full - offset < chunkSize + kChunkRemainderSlack) length = full - offset;
    auto data = uploadSubdataWithOffset_length(offset, length);
    if (!data || data->length() != length) {
      // Sending fewer bytes than "Content-Range" claims would corrupt the upload; the location
      // stays so that it can be resumed once the file is whole again.
      invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
          std::nullopt,
          ns::Error::withDescription(NetHTTPFetcherErrorDomain, kNetHTTPFetcherErrorChunkUploadFailed,
                                     "The upload's bytes " + std::to_string(offset) + "-" +
                                         std::to_string(offset + length - 1) + " cannot be read"),
          false);
      return;
    }
    body = *data;
    range = "bytes " + std::to_string(offset) + "-" + std::to_string(offset + length - 1) + "/" +
            std::to_string(full);
    std::lock_guard lock(uploadMutex_);
    currentOffset_ = offset;
  }
  request->setHTTPMethod("PUT");
  if (auto own = mutableRequest()) {
    auto agent = own->valueForHTTPHeaderField("User-Agent");
    if (agent && !agent->empty()) request->setValue_forHTTPHeaderField(*agent, "User-Agent");
  }
  request->setValue_forHTTPHeaderField(range, "Content-Range");
  request->setValue_forHTTPHeaderField(std::to_string(body.length()), "Content-Length");
  request->setValue_forHTTPHeaderField(type, "Content-Type");
  setMutableRequest(request);

  ns::Ref<NetHTTPFetcher> chunk = ns::make<ChunkFetcher>(request);
  chunk->setDelegateQueue(delegateQueue());
  chunk->setRunLoopModes(runLoopModes());
  chunk->setAllowedInsecureSchemes(allowedInsecureSchemes());
  chunk->setAllowLocalhostRequest(allowLocalhostRequest());
  if (auto note = comment()) chunk->setComment(*note + " (" + range + ")");
  chunk->setProperties(properties);
  chunk->setPostData(body);
  chunk->setRetryEnabled(isRetryEnabled());
  chunk->setMaxRetryInterval(maxRetryInterval());
  chunk->setCookieStorageMethod(cookieStorageMethod());
  bool manual;
  {
    std::lock_guard lock(uploadMutex_);
    manual = needsManualProgress_;
  }
  if (!manual && (sentDataSelector() || sentDataBlock())) {
    chunk->setSentDataBlock([self](std::int64_t bytes, std::int64_t total, std::int64_t expected) {
      self->uploadFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(bytes, total, expected);
    });
  }
  std::weak_ptr<NetHTTPFetcher> weakChunk = chunk;
  if (isRetryEnabled()) {
    chunk->setRetryBlock([self, weakChunk](bool willRetry, const ns::Error& error) {
      auto strongChunk = weakChunk.lock();
      return strongChunk ? self->chunkFetcher_willRetry_forError(strongChunk, willRetry, error) : false;
    });
  }
  {
    std::lock_guard lock(uploadMutex_);
    chunkFetcher_ = chunk;
  }
  bool began = chunk->beginFetchWithCompletionHandler(
      [self, weakChunk](const std::optional<ns::Data>& data, const std::optional<ns::Error>& error) {
        if (auto strongChunk = weakChunk.lock())
          self->chunkFetcher_finishedWithData_error(strongChunk, data, error);
      });
  if (!began) {
    {
      std::lock_guard lock(uploadMutex_);
      if (chunkFetcher_ == chunk) chunkFetcher_.reset();
    }
    chunk->stopFetching();
    invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
        std::nullopt, ns::Error(NetHTTPFetcherErrorDomain, kNetHTTPFetcherErrorChunkUploadFailed), true);
  }
}

void NetHTTPUploadFetcher::chunkFetcher_finishedWithData_error(const ns::Ref<NetHTTPFetcher>& chunk,
                                                               const std::optional<ns::Data>& data,
                                                               const std::optional<ns::Error>& error) {
  auto self = me();
  // Read before the upload's lock: the chunk calls out under its own lock, which comes first.
  long chunkStatus = chunk->statusCode();
  auto chunkHeaders = chunk->responseHeaders();
  {
    std::lock_guard lock(uploadMutex_);
    if (chunk != chunkFetcher_) return;  // dropped by a pause or a stop
    statusCode_ = chunkStatus;
    responseHeaders_ = std::move(chunkHeaders);
  }
  if (error && error->domain() == NetHTTPStatusErrorDomain && error->code() == 308) {
    auto headers = chunk->responseHeaders();
    std::uint64_t full = fullUploadLength();
    std::uint64_t next = offsetAfterRange(headers ? headers->get("Range") : std::nullopt).value_or(0);
    ns::Dictionary properties = chunk->properties();
    destroyChunkFetcher();
    if (full == 0 || next >= full) {
      // The server still wants bytes past the end: nothing sound can be sent. The location stays
      // for a later resume.
      invokeFinalCallbacksWithData_error_shouldInvalidateLocation(std::nullopt, statusErrorWithoutInfo(308),
                                                                  false);
      return;
    }
    bool manual;
    {
      std::lock_guard lock(uploadMutex_);
      manual = needsManualProgress_;
      currentOffset_ = next;
    }
    if (manual) reportManualProgress();
    if (headers) {
      if (auto newLocation = headers->get("Location"); newLocation && !newLocation->empty()) {
        auto url = ns::URL::URLWithString_relativeToURL(*newLocation, locationURL());
        if (!url || !url->scheme()) {
          invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
              std::nullopt, statusErrorWithoutInfo(kNetHTTPFetcherStatusUnexpectedInitialReply), false);
          return;
        }
        setLocationURL(url);
      }
    }
    uploadNextChunkWithOffset_fetcherProperties(next, properties);
    return;
  }
  destroyChunkFetcher();
  if (error) {
    invokeFinalCallbacksWithData_error_shouldInvalidateLocation(std::nullopt,
                                                                statusErrorWithoutInfo(error->code()), false);
    return;
  }
  std::uint64_t full = fullUploadLength();
  bool manual;
  {
    std::lock_guard lock(uploadMutex_);
    manual = needsManualProgress_;
    if (manual) currentOffset_ = full + initialBodyLength_;
  }
  if (manual) reportManualProgress();
  setDownloadedData(data);
  invokeFinalCallbacksWithData_error_shouldInvalidateLocation(data, std::nullopt, true);
}

bool NetHTTPUploadFetcher::chunkFetcher_willRetry_forError(const ns::Ref<NetHTTPFetcher>& chunk,
                                                           bool willRetry, const ns::Error& error) {
  if (error.domain() == NetHTTPStatusErrorDomain && error.code() == 308) return false;
  auto self = me();
  auto target = delegate();
  auto selector = retrySelector();
  auto block = retryBlock();
  if (target && selector) willRetry = selector(*target, self, willRetry, error);
  if (block) willRetry = block(willRetry, error);
  if (willRetry) {
    // The retry asks the server what it holds instead of resending a chunk it may have.
    auto request = chunk->mutableRequest();
    makeStatusQuery(request);
    chunk->setPostData(ns::Data());
    std::lock_guard lock(uploadMutex_);
    currentOffset_ = 0;
  }
  return willRetry;
}

// ---------------------------------------------------------------------------------------------
// Progress and the end

void NetHTTPUploadFetcher::uploadFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(
    std::int64_t bytes, std::int64_t total, std::int64_t) {
  std::uint64_t full = fullUploadLength();
  std::int64_t sent, expected;
  {
    std::lock_guard lock(uploadMutex_);
    sent = total + static_cast<std::int64_t>(initialBodySent_ + currentOffset_);
    expected = static_cast<std::int64_t>(full + initialBodyLength_);
  }
  auto self = me();
  auto target = delegate();
  auto selector = sentDataSelector();
  auto block = sentDataBlock();
  if (target && selector) selector(*target, self, bytes, sent, expected);
  if (block) block(bytes, sent, expected);
}

void NetHTTPUploadFetcher::reportManualProgress() {
  uploadFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(0, 0, 0);
}

void NetHTTPUploadFetcher::invokeFinalCallbacksWithData_error_shouldInvalidateLocation(
    const std::optional<ns::Data>& data, const std::optional<ns::Error>& error, bool invalidateLocation) {
  auto self = me();
  FinishedSelector selector;
  CompletionBlock block;
  {
    std::lock_guard lock(uploadMutex_);
    if (hasEnded_) return;
    hasEnded_ = true;
    selector = delegateFinishedSEL_;
    block = uploadCompletionBlock_;
  }
  if (invalidateLocation) setLocationURL(nullptr);
  auto target = delegate();
  if (target && selector) selector(*target, self, data, error);
  if (block) block(data, error);
  LocationChangeBlock dropped;
  {
    std::lock_guard lock(uploadMutex_);
    dropped = std::move(locationChangeBlock_);
    locationChangeBlock_ = nullptr;
    uploadCompletionBlock_ = nullptr;
    delegateFinishedSEL_ = {};
  }
  releaseCallbacks();
}

void NetHTTPUploadFetcher::destroyChunkFetcher() {
  ns::Ref<NetHTTPFetcher> chunk;
  {
    std::lock_guard lock(uploadMutex_);
    chunk = std::move(chunkFetcher_);
    chunkFetcher_.reset();
  }
  if (!chunk) return;
  chunk->stopFetching();
  chunk->setProperties({});
}

// ---------------------------------------------------------------------------------------------
// Pause, resume and stop

void NetHTTPUploadFetcher::pauseFetching() {
  {
    std::lock_guard lock(uploadMutex_);
    isPaused_ = true;
  }
  destroyChunkFetcher();
}

void NetHTTPUploadFetcher::resumeFetching() {
  {
    std::lock_guard lock(uploadMutex_);
    if (!isPaused_) return;
    isPaused_ = false;
  }
  uploadNextChunkWithOffset(kStatusQueryOffset);
}

bool NetHTTPUploadFetcher::isPaused() const {
  std::lock_guard lock(uploadMutex_);
  return isPaused_;
}

void NetHTTPUploadFetcher::stopFetching() {
  auto self = me();
  destroyChunkFetcher();
  {
    std::lock_guard lock(uploadMutex_);
    // A stopped upload calls nothing back.
    hasEnded_ = true;
    uploadCompletionBlock_ = nullptr;
    delegateFinishedSEL_ = {};
    locationChangeBlock_ = nullptr;
  }
  NetHTTPFetcher::stopFetching();
}

bool NetHTTPUploadFetcher::isFetching() {
  {
    std::lock_guard lock(uploadMutex_);
    if (chunkFetcher_) return true;
  }
  return NetHTTPFetcher::isFetching();
}

ns::Ref<NetHTTPFetcher> NetHTTPUploadFetcher::activeFetcher() {
  std::lock_guard lock(uploadMutex_);
  if (chunkFetcher_) return chunkFetcher_;
  return std::static_pointer_cast<NetHTTPFetcher>(shared_from_this());
}

ns::Ref<NetHTTPFetcher> NetHTTPUploadFetcher::chunkFetcher() const {
  std::lock_guard lock(uploadMutex_);
  return chunkFetcher_;
}

long NetHTTPUploadFetcher::statusCode() const {
  {
    std::lock_guard lock(uploadMutex_);
    if (statusCode_ != -1) return static_cast<long>(statusCode_);
  }
  return NetHTTPFetcher::statusCode();
}

std::optional<ns::HTTPHeaderFields> NetHTTPUploadFetcher::responseHeaders() const {
  {
    std::lock_guard lock(uploadMutex_);
    if (responseHeaders_) return responseHeaders_;
  }
  return NetHTTPFetcher::responseHeaders();
}

// ---------------------------------------------------------------------------------------------
// The body

std::uint64_t NetHTTPUploadFetcher::fullUploadLength() {
  ns::Ref<ns::FileHandle> handle;
  {
    std::lock_guard lock(uploadMutex_);
    if (uploadData_) return uploadData_->length();
    if (uploadFileHandleLength_ >= 0) return static_cast<std::uint64_t>(uploadFileHandleLength_);
    handle = uploadFileHandle_;
  }
  if (!handle) return 0;
  std::uint64_t end = 0;
  ns::Error error;
  if (!handle->seekToEndReturningOffset_error(&end, &error)) {
    ns::LogWarning("uploadFileHandle exception: %@", error.localizedDescription());
    return 0;
  }
  std::lock_guard lock(uploadMutex_);
  uploadFileHandleLength_ = static_cast<std::int64_t>(end);
  return end;
}

std::optional<ns::Data> NetHTTPUploadFetcher::uploadSubdataWithOffset_length(std::uint64_t offset,
                                                                             std::uint64_t length) {
  ns::Ref<ns::FileHandle> handle;
  {
    std::lock_guard lock(uploadMutex_);
    if (uploadData_) {
      if (offset > uploadData_->length() || length > uploadData_->length() - offset) return std::nullopt;
      return uploadData_->subdata(offset, length);
    }
    handle = uploadFileHandle_;
  }
  if (!handle) return std::nullopt;
  ns::Error error;
  if (!handle->seekToOffset_error(offset, &error)) {
    ns::LogWarning("uploadFileHandle exception: %@", error.localizedDescription());
    return std::nullopt;
  }
  auto data = handle->readDataUpToLength_error(length, &error);
  if (!data) ns::LogWarning("uploadFileHandle exception: %@", error.localizedDescription());
  return data;
}

// ---------------------------------------------------------------------------------------------
// Properties

ns::Ref<ns::URL> NetHTTPUploadFetcher::locationURL() const {
  std::lock_guard lock(uploadMutex_);
  return locationURL_;
}

void NetHTTPUploadFetcher::setLocationURL(const ns::Ref<ns::URL>& location) {
  LocationChangeBlock block;
  {
    std::lock_guard lock(uploadMutex_);
    if (sameURL(location, locationURL_)) return;
    locationURL_ = location;
    block = locationChangeBlock_;
  }
  if (block) block(location);
}

void NetHTTPUploadFetcher::setLocationChangeBlock(LocationChangeBlock block) {
  std::lock_guard lock(uploadMutex_);
  locationChangeBlock_ = std::move(block);
}

NetHTTPUploadFetcher::LocationChangeBlock NetHTTPUploadFetcher::locationChangeBlock() const {
  std::lock_guard lock(uploadMutex_);
  return locationChangeBlock_;
}

std::uint64_t NetHTTPUploadFetcher::chunkSize() const {
  std::lock_guard lock(uploadMutex_);
  return chunkSize_;
}

void NetHTTPUploadFetcher::setChunkSize(std::uint64_t size) {
  std::lock_guard lock(uploadMutex_);
  chunkSize_ = size;
}

std::uint64_t NetHTTPUploadFetcher::currentOffset() const {
  std::lock_guard lock(uploadMutex_);
  return currentOffset_;
}

std::optional<ns::Data> NetHTTPUploadFetcher::uploadData() const {
  std::lock_guard lock(uploadMutex_);
  return uploadData_;
}

ns::Ref<ns::FileHandle> NetHTTPUploadFetcher::uploadFileHandle() const {
  std::lock_guard lock(uploadMutex_);
  return uploadFileHandle_;
}

std::string NetHTTPUploadFetcher::uploadMIMEType() const {
  std::lock_guard lock(uploadMutex_);
  return uploadMIMEType_;
}

bool NetHTTPUploadFetcher::isRestartedUpload() const {
  std::lock_guard lock(uploadMutex_);
  return isRestartedUpload_;
}
