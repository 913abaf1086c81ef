#pragma once
// Serves a file with blocking reads on the connection queue: each readDataOfLength reads the
// next piece (never more than asked) into one reused buffer, unless the connection takes the
// bytes as a range of the file, which the socket sends without reading them in.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/http-server/Core/HTTPResponse.h"

class HTTPConnection;

class HTTPFileResponse : public HTTPResponse {
 public:
  HTTPFileResponse(std::string filePath, ns::Weak<HTTPConnection> connection, std::uint64_t fileLength);
  ~HTTPFileResponse() override;

  // Nothing when the file's attributes cannot be read.
  static ns::Ref<HTTPFileResponse> initWithFilePath_forConnection(const std::string& filePath,
                                                                  const ns::Ref<HTTPConnection>& connection);

  std::string className() const override { return "HTTPFileResponse"; }

  std::uint64_t contentLength() override { return fileLength_; }
  std::uint64_t offset() override { return fileOffset_; }
  void setOffset(std::uint64_t offset) override;
  std::optional<ns::Data> readDataOfLength(std::uint64_t length) override;
  bool isDone() override { return fileOffset_ == fileLength_; }
  // Pieces shorter than this are read in and copied.
  static constexpr std::uint64_t kMinFileRangeLength = 16 * 1024;
  // The bytes as a range of the open file while the file holds them all and they are not few;
  // nothing otherwise (a file cut short is then found by the reads, which abort).
  std::optional<DispatchFileRange> fileRangeOfLength(std::uint64_t length) override;

  // The file's path with symbolic links resolved (as given when it cannot be resolved). Resolved
  // when first asked, since serving the file never needs it.
  const std::string& filePath() const;
  // Tells the connection, then refuses to open the file from now on.
  void abort();

 protected:
  bool openFile();
  bool openFileIfNeeded();

  ns::Weak<HTTPConnection> connection_;
  std::string filePath_;
  mutable std::optional<std::string> resolvedPath_;
  std::uint64_t fileLength_ = 0;
  std::uint64_t fileOffset_ = 0;
  // The size of the regular file the last look at the open file found (0: not looked yet).
  std::uint64_t fileHolds_ = 0;
  bool aborted_ = false;
  int fileFD_ = -1;
  // Owns fileFD_; shared with the file ranges still queued on the socket.
  std::shared_ptr<const DispatchFileDescriptor> file_;
  std::vector<std::uint8_t> buffer_;
};
