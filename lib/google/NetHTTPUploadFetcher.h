#pragma once
// Uploads a body of any size by the resumable-upload protocol: an initial request announces the
// upload and gets a location; the body then goes there in PUT chunks with "Content-Range", each
// answered 308 with the range the server holds, until the last chunk's reply, which is the
// result. An interrupted upload resumes from its location alone.
//
//   auto upload =
//   NetHTTPUploadFetcher::uploadFetcherWithRequest_uploadData_uploadMIMEType_chunkSize_fetcherService(
//       request, data, "video/mp4", 1000000, nullptr);
//   upload->beginFetchWithCompletionHandler([](auto& data, auto& error) { ... });
//
// The caller's finished callbacks run once, when the whole upload ends; progress counts the
// initial body and the upload body. Chunk fetchers are plain fetchers, neither throttled nor
// authorized; their callbacks keep the upload alive until it ends.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "lib/google/ApiServiceTicket.h"
#include "lib/google/NetHTTPFetcher.h"
#include "platform/net/URL.h"

class NetHTTPFetcherService;
class ApiUploadParameters;

// A chunk fetch that cannot begin, or whose bytes cannot be read.
inline constexpr long kNetHTTPFetcherErrorChunkUploadFailed = -3;
// The initial request succeeded with a reply body or without a "Location".
inline constexpr long kNetHTTPFetcherStatusUnexpectedInitialReply = 501;

class NetHTTPUploadFetcher : public NetHTTPFetcher, public ApiPausableFetcher {
 public:
  using UploadRef = ns::Ref<NetHTTPUploadFetcher>;
  using LocationChangeBlock = std::function<void(const ns::Ref<ns::URL>&)>;

  explicit NetHTTPUploadFetcher(const ns::Ref<ns::URLRequest>& request = nullptr);
  ~NetHTTPUploadFetcher() override;

  static UploadRef uploadFetcherWithRequest_uploadData_uploadMIMEType_chunkSize_fetcherService(
      const ns::Ref<ns::URLRequest>& request, const ns::Data& data, const std::string& uploadMIMEType,
      std::uint64_t chunkSize, const ns::Ref<NetHTTPFetcherService>& fetcherService);
  static UploadRef uploadFetcherWithRequest_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
      const ns::Ref<ns::URLRequest>& request, const ns::Ref<ns::FileHandle>& fileHandle,
      const std::string& uploadMIMEType, std::uint64_t chunkSize,
      const ns::Ref<NetHTTPFetcherService>& fetcherService);
  // A restarted upload: no initial request, a status query first.
  static UploadRef uploadFetcherWithLocation_uploadFileHandle_uploadMIMEType_chunkSize_fetcherService(
      const ns::Ref<ns::URL>& location, const ns::Ref<ns::FileHandle>& fileHandle,
      const std::string& uploadMIMEType, std::uint64_t chunkSize,
      const ns::Ref<NetHTTPFetcherService>& fetcherService);
  // Through the service when one is given, so that the initial request is throttled and authorized.
  static UploadRef uploadFetcherWithRequest_fetcherService(
      const ns::Ref<ns::URLRequest>& request, const ns::Ref<NetHTTPFetcherService>& fetcherService);

  // The Data API service's upload-fetcher factory: the chunk size at least 50,000 bytes; the
  // location wins over data, data over a file; parameters with only a file location upload that
  // file, opened for reading; a non-empty slug becomes the "Slug" header.
  static ns::Ref<NetHTTPFetcher> uploadFetcherWithRequest_fetcherService_params(
      const ns::Ref<ns::URLRequest>& request, const ns::Ref<NetHTTPFetcherService>& fetcherService,
      const ns::Ref<ApiUploadParameters>& params, std::uint64_t serviceChunkSize);
  // Registers that factory with the Data API service.
  static void registerWithService();

  void setLocationURL_uploadData_uploadFileHandle_uploadMIMEType_chunkSize(
      const ns::Ref<ns::URL>& location, const std::optional<ns::Data>& data,
      const ns::Ref<ns::FileHandle>& fileHandle, const std::string& uploadMIMEType, std::uint64_t chunkSize);

  bool beginFetchWithDelegate_didFinishSelector(const ns::Ref<ns::Object>& delegate,
                                                FinishedSelector selector) override;
  bool beginFetchWithCompletionHandler(CompletionBlock handler) override;
  void stopFetching() override;
  bool isFetching() override;
  long statusCode() const override;
  std::optional<ns::HTTPHeaderFields> responseHeaders() const override;

  void pauseFetching() override;
  void resumeFetching() override;
  bool isPaused() const override;
  // The chunk fetcher in flight, or this fetcher before the first chunk.
  ns::Ref<NetHTTPFetcher> activeFetcher();
  ns::Ref<NetHTTPFetcher> chunkFetcher() const;

  std::uint64_t fullUploadLength();
  // nullopt when the range cannot be read (logged).
  std::optional<ns::Data> uploadSubdataWithOffset_length(std::uint64_t offset, std::uint64_t length);

  ns::Ref<ns::URL> locationURL() const;
  // A different value is told to the location-change block.
  void setLocationURL(const ns::Ref<ns::URL>& location);
  void setLocationChangeBlock(LocationChangeBlock block);
  LocationChangeBlock locationChangeBlock() const;
  std::uint64_t chunkSize() const;
  void setChunkSize(std::uint64_t size);
  std::uint64_t currentOffset() const;
  std::optional<ns::Data> uploadData() const;
  ns::Ref<ns::FileHandle> uploadFileHandle() const;
  std::string uploadMIMEType() const;
  bool isRestartedUpload() const;

  // URLConnectionDelegate, for the initial request.
  void connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
      const ns::Ref<ns::URLConnection>& connection, long bytesWritten, long totalBytesWritten,
      long totalBytesExpectedToWrite) override;
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>& connection) override;
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>& connection,
                                   const ns::Error& error) override;

  std::string className() const override { return "NetHTTPUploadFetcher"; }

 protected:
  bool shouldReleaseCallbacksUponCompletion() const override { return false; }

 private:
  static constexpr std::uint64_t kStatusQueryOffset = ~std::uint64_t(0);

  UploadRef me() { return std::static_pointer_cast<NetHTTPUploadFetcher>(shared_from_this()); }
  bool beginUpload();
  void uploadNextChunkWithOffset(std::uint64_t offset);
  void uploadNextChunkWithOffset_fetcherProperties(std::uint64_t offset, const ns::Dictionary& properties);
  void chunkFetcher_finishedWithData_error(const ns::Ref<NetHTTPFetcher>& chunk,
                                           const std::optional<ns::Data>& data,
                                           const std::optional<ns::Error>& error);
  bool chunkFetcher_willRetry_forError(const ns::Ref<NetHTTPFetcher>& chunk, bool willRetry,
                                       const ns::Error& error);
  void uploadFetcher_didSendBytes_totalBytesSent_totalBytesExpectedToSend(std::int64_t bytes,
                                                                          std::int64_t total,
                                                                          std::int64_t expected);
  void reportManualProgress();
  void invokeFinalCallbacksWithData_error_shouldInvalidateLocation(const std::optional<ns::Data>& data,
                                                                   const std::optional<ns::Error>& error,
                                                                   bool invalidateLocation);
  void destroyChunkFetcher();
  void makeStatusQuery(const ns::Ref<ns::URLRequest>& request);

  mutable std::mutex uploadMutex_;
  ns::Ref<NetHTTPFetcher> chunkFetcher_;
  FinishedSelector delegateFinishedSEL_;
  CompletionBlock uploadCompletionBlock_;
  bool needsManualProgress_ = false;
  std::uint64_t initialBodyLength_ = 0;
  std::uint64_t initialBodySent_ = 0;
  ns::Ref<ns::URL> locationURL_;
  LocationChangeBlock locationChangeBlock_;
  std::optional<ns::Data> uploadData_;
  ns::Ref<ns::FileHandle> uploadFileHandle_;
  std::int64_t uploadFileHandleLength_ = -1;
  std::string uploadMIMEType_;
  std::uint64_t chunkSize_ = 0;
  bool isPaused_ = false;
  bool isRestartedUpload_ = false;
  bool inInitialRequest_ = false;
  bool hasEnded_ = false;
  std::uint64_t currentOffset_ = 0;
  std::optional<ns::HTTPHeaderFields> responseHeaders_;
  std::int64_t statusCode_ = -1;
};
