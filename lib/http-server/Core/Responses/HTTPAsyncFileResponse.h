#pragma once
// Serves a file with reads in the background: a read source on a private serial queue reads one
// piece at a time, of at most what the connection last asked for, and hands it over through
// responseHasAvailableData. One piece at most is in memory; nothing is read ahead.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "lib/http-server/Core/HTTPResponse.h"

class HTTPConnection;
namespace dispatch {
class Queue;
class Source;
}  // namespace dispatch

class HTTPAsyncFileResponse : public HTTPResponse {
 public:
  HTTPAsyncFileResponse(std::string filePath, ns::Weak<HTTPConnection> connection, std::uint64_t fileLength);
  ~HTTPAsyncFileResponse() override;

  // Nothing when the file's attributes cannot be read.
  static ns::Ref<HTTPAsyncFileResponse> initWithFilePath_forConnection(
      const std::string& filePath, const ns::Ref<HTTPConnection>& connection);

  std::string className() const override { return "HTTPAsyncFileResponse"; }

  std::uint64_t contentLength() override { return fileLength_; }
  std::uint64_t offset() override;
  void setOffset(std::uint64_t offset) override;
  // The piece read since the last call, or nothing while a read is under way.
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override;
  void connectionDidClose() override;
  bool isAsynchronous() const { return true; }

  const std::string& filePath() const { return filePath_; }
  void abort();

 protected:
  // Hands the bytes in the read buffer to the connection (runs on the read queue).
  virtual void processReadBuffer();
  bool openFileAndSetupReadSource();
  bool openFileIfNeeded();
  void pauseReadSource();
  void resumeReadSource();
  void cancelReadSource();
  void readSourceFired();
  void notifyConnection();
  void onReadQueue(const std::function<void()>& body);

  ns::Weak<HTTPConnection> connection_;
  std::string filePath_;
  std::uint64_t fileLength_ = 0;
  std::uint64_t fileOffset_ = 0;
  std::uint64_t readOffset_ = 0;
  // Set on the read queue, read on the connection queue.
  std::atomic<bool> aborted_{false};
  // The connection let go: the source is cancelled and the descriptor closed.
  bool closed_ = false;
  std::optional<ns::Data> data_;
  int fileFD_ = -1;
  std::vector<std::uint8_t> readBuffer_;
  std::uint64_t readBufferOffset_ = 0;
  std::uint64_t readRequestLength_ = 0;
  ns::Ref<dispatch::Queue> readQueue_;
  ns::Ref<dispatch::Source> readSource_;
  bool readSourceSuspended_ = true;
  // Guards the fields shared between the connection queue and the read queue.
  mutable std::mutex mutex_;
};
