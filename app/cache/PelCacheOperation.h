#pragma once
// Downloads one HTTP resource into a partial file that survives pauses, failures and restarts,
// resuming with "Range: bytes=<size-1>-" (the last byte held is fetched again, so a reply that
// does not line up shows). When all bytes are in, the owner calls moveFile() to put the file at
// its target (or leave it, for an operation made without one).
//
// The partial file is only ever written by a 2xx reply:
//   - 200: the file is rewritten from byte 0;
//   - 206 "bytes first-last/total": the file is cut to `first` bytes and the body appended;
//     a 206 that starts beyond the file's end, or whose Content-Range cannot be read, would
//     leave a hole or misplace the body: the operation fails (the former also deletes the
//     partial, so the next start restarts from 0);
//   - 416: the partial is longer than the resource: it is deleted and the operation fails;
//   - any other status: the operation fails and the partial stays as it was.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "lib/net/HTTPRequestOperation.h"

class PelCacheOperation : public HTTPRequestOperation {
 public:
  // (operation, bytes in this chunk, bytes read by the operation, expected length of this reply,
  // bytes of the file so far, full length of the resource)
  using ProgressiveBlock = std::function<void(
      const ns::Ref<PelCacheOperation>&, long long bytes, long long totalBytes, long long totalBytesExpected,
      long long totalBytesReadForFile, long long totalBytesExpectedToReadForFile)>;

  // Raises NSInternalInconsistencyException "Invalid parameter not satisfying: ..." for a nil
  // request or target; answers nil when no output stream can be made.
  static ns::Ref<PelCacheOperation> initWithRequest_targetPath_tempPath(
      const ns::Ref<ns::URLRequest>& request, const std::optional<std::string>& targetPath,
      const std::string& tempPath);
  // The file stays at the temp path when done.
  static ns::Ref<PelCacheOperation> initWithRequest_tempPath(const ns::Ref<ns::URLRequest>& request,
                                                             const std::string& tempPath);

  explicit PelCacheOperation(ns::Ref<ns::URLRequest> request);

  // Sets "Range: bytes=<size-1>-" from the partial file; true when it did.
  bool updateByteStartRangeForRequest();
  // Pauses, then arms the Range header from the file, so that resume() continues from it.
  void pause();
  // Puts the finished file where it belongs; false when the partial file is missing.
  bool moveFile();
  // Once, after a finish without error: the final path (moving the file to the target), or
  // nil. A cancelled operation deletes its partial file when isDeletingTempFileOnCancel.
  std::optional<std::string> responseObject();
  // The error of the file step or of the partial file, else the transfer's or the reply's.
  std::optional<ns::Error> error() const override;
  bool deleteTempFileWithError(ns::Error* error);
  static std::uint64_t fileSizeForPath(const std::string& path);

  std::optional<std::string> targetPath() const;
  std::string tempPath() const;
  bool dontMoveFile() const { return dontMoveFile_; }
  bool shouldOverwrite() const { return shouldOverwrite_; }
  void setShouldOverwrite(bool overwrite) { shouldOverwrite_ = overwrite; }
  bool shouldResume() const { return shouldResume_; }
  bool isDeletingTempFileOnCancel() const { return deleteTempFileOnCancel_; }
  void setDeleteTempFileOnCancel(bool on) { deleteTempFileOnCancel_ = on; }
  std::int64_t totalContentLength() const { return totalContentLength_; }
  std::int64_t offsetContentLength() const { return offsetContentLength_; }
  std::int64_t totalBytesReadPerDownload() const { return totalBytesReadPerDownload_; }
  void setProgressiveDownloadProgressBlock(ProgressiveBlock block);
  ns::Ref<dispatch::Queue> progressiveDownloadCallbackQueue() const;
  void setProgressiveDownloadCallbackQueue(const ns::Ref<dispatch::Queue>& queue);

  // 200-299 and 416.
  std::set<long> acceptableStatusCodes() const override;

  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>& connection,
                                     const ns::Ref<ns::URLResponse>& response) override;
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>& connection, const ns::Data& data) override;

  std::string className() const override { return "PelCacheOperation"; }

 protected:
  bool acceptsResponseBody(const ns::Ref<ns::URLResponse>& response) const override;
  // The body goes to the file from the loading thread, as it arrives: handed to the network
  // thread, each piece was read back from another core's cache, and under load it waited for
  // that thread to be scheduled.
  bool deliversOnLoadingThread() const override { return true; }

 private:
  // What the response step decided for the current reply (loading thread).
  enum class Verdict { Write, Refuse };
  Verdict judge(const ns::Ref<ns::HTTPURLResponse>& response, std::int64_t* offset, std::int64_t* total,
                std::optional<ns::Error>* failure, bool* deletePartial) const;
  void setFileError(ns::Error error);

  mutable std::mutex pathMutex_;
  std::optional<std::string> targetPath_;
  std::string tempPath_;
  bool dontMoveFile_ = false;
  bool shouldOverwrite_ = false;
  bool shouldResume_ = false;
  bool deleteTempFileOnCancel_ = false;
  std::atomic<std::int64_t> totalContentLength_{0};
  std::atomic<std::int64_t> offsetContentLength_{0};
  std::atomic<std::int64_t> totalBytesReadPerDownload_{0};

  // Guards the fields below and the final file step.
  mutable std::mutex fileMutex_;
  std::optional<ns::Error> fileError_;
  std::optional<std::string> responseObject_;
  bool responseObjectDone_ = false;
  // The current reply's body may go to the file (set by the response step).
  std::atomic<bool> writeBody_{true};
  ProgressiveBlock progressiveBlock_;
  ns::Ref<dispatch::Queue> progressiveQueue_;
};
