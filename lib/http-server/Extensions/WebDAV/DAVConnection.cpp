#include "lib/http-server/Extensions/WebDAV/DAVConnection.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/Responses/HTTPAsyncFileResponse.h"
#include "lib/http-server/Core/Responses/HTTPFileResponse.h"
#include "lib/http-server/Extensions/WebDAV/DAVResponse.h"
#include "lib/http-server/Extensions/WebDAV/PUTResponse.h"
#include "platform/security/UUID.h"

namespace {

constexpr std::uint64_t kLogLevel = HTTP_LOG_LEVEL_CONNECTION;

// An empty answer with a status, for a body that could not be stored.
class StatusResponse : public HTTPResponse {
 public:
  explicit StatusResponse(long status) : status_(status) {}
  std::uint64_t contentLength() override { return 0; }
  std::uint64_t offset() override { return 0; }
  void setOffset(std::uint64_t) override {}
  std::optional<ns::Data> readDataOfLength(std::uint64_t) override { return std::nullopt; }
  bool isDone() override { return true; }
  long status() override { return status_; }

 private:
  long status_;
};

}  // namespace

DAVConnection::~DAVConnection() {
  dropBody();
}

bool DAVConnection::supportsMethod_atPath(const std::string& method, const std::string&) {
  for (const char* m :
       {"GET", "HEAD", "PUT", "DELETE", "OPTIONS", "PROPFIND", "MKCOL", "MOVE", "COPY", "LOCK", "UNLOCK"})
    if (method == m) return true;
  return false;
}

bool DAVConnection::expectsRequestBodyFromMethod_atPath(const std::string& method, const std::string&) {
  if (method == "PUT" || method == "LOCK") return true;
  if (method == "PROPFIND" || method == "MKCOL") return request() && request()->headerField("Content-Length");
  return false;
}

void DAVConnection::prepareForBodyWithSize(std::uint64_t contentLength) {
  dropBody();
  if (contentLength <= MAX_IN_MEMORY_BODY) {
    requestContentBody_ = ns::MutableData::dataWithCapacity(static_cast<std::size_t>(contentLength));
    return;
  }
  std::error_code ec;
  std::string folder = std::filesystem::temp_directory_path(ec).string();
  if (ec || folder.empty()) {
    // No temporary folder: the body is read and dropped, and the request answered 500.
    bodyWriteFailed_ = true;
    return;
  }
  if (folder.back() != '/') folder += '/';
  requestBodyFile_ = folder + sec::UUID::newUUIDString();
  requestContentStream_ = ::open(requestBodyFile_->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (requestContentStream_ < 0) bodyWriteFailed_ = true;
}

void DAVConnection::processBodyData(const ns::Data& postDataChunk) {
  if (bodyWriteFailed_) return;
  if (requestBodyFile_) {
    // Every byte, or the body counts as failed: a short write would store a truncated file.
    std::size_t done = 0;
    while (!bodyWriteFailed_ && done < postDataChunk.length()) {
      ssize_t n = ::write(requestContentStream_, postDataChunk.bytes() + done, postDataChunk.length() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        HTTP_LOG_ERROR(kLogLevel, "Failed writing request body to \"%@\"", *requestBodyFile_);
        bodyWriteFailed_ = true;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
  } else if (requestContentBody_) {
    requestContentBody_->appendData(postDataChunk);
  }
}

void DAVConnection::finishBody() {
  closeBodyFile();
}

void DAVConnection::closeBodyFile() {
  if (requestContentStream_ >= 0) {
    if (::close(requestContentStream_) != 0) bodyWriteFailed_ = true;
    requestContentStream_ = -1;
  }
}

void DAVConnection::dropBody() {
  closeBodyFile();
  if (requestBodyFile_ && !bodyFileTaken_) ::unlink(requestBodyFile_->c_str());
  requestBodyFile_.reset();
  requestContentBody_.reset();
  bodyWriteFailed_ = false;
  bodyFileTaken_ = false;
}

void DAVConnection::finishResponse() {
  dropBody();
  HTTPConnection::finishResponse();
}

std::optional<std::string> DAVConnection::filePathForURI_allowDirectory(const std::string& path,
                                                                        bool allowDirectory) {
  // Unlike plain file serving, WebDAV writes: no request may reach, read or change anything
  // outside the root through a symbolic link inside it.
  auto filePath = HTTPConnection::filePathForURI_allowDirectory(path, allowDirectory);
  if (!filePath || !DAVResponse::resolvesUnderRoot(*filePath, config()->documentRoot().value_or("")))
    return std::nullopt;
  return filePath;
}

ns::Ref<HTTPResponse> DAVConnection::httpResponseForMethod_URI(const std::string& method,
                                                               const std::string& path) {
  auto self = this->self<HTTPConnection>();
  if (method == "HEAD" || method == "GET") {
    auto filePath = filePathForURI_allowDirectory(path, false);
    struct stat st {};
    if (filePath && ::stat(filePath->c_str(), &st) == 0) {
      if (static_cast<std::uint64_t>(st.st_size) <= MAX_PLAIN_FILE_RESPONSE)
        return HTTPFileResponse::initWithFilePath_forConnection(*filePath, self);
      return HTTPAsyncFileResponse::initWithFilePath_forConnection(*filePath, self);
    }
  }
  const ns::HTTPHeaderFields headers = request()->allHeaderFields();
  if (method == "PUT") {
    auto filePath = filePathForURI_allowDirectory(path, true);
    if (!filePath) return nullptr;
    if (bodyWriteFailed_) return ns::make<StatusResponse>(500);
    if (requestBodyFile_) {
      auto response = ns::make<PUTResponse>(*filePath, headers, *requestBodyFile_);
      bodyFileTaken_ = response->tookBodyFile();
      return response;
    }
    if (requestContentBody_)
      return ns::make<PUTResponse>(*filePath, headers,
                                   ns::Data(requestContentBody_->bytes(), requestContentBody_->length()));
    HTTP_LOG_ERROR(kLogLevel, "Internal error");
    return nullptr;
  }
  if (method == "DELETE") {
    auto filePath = filePathForURI_allowDirectory(path, true);
    if (!filePath) return nullptr;
    return ns::make<DELETEResponse>(*filePath, config()->documentRoot());
  }
  if (method == "OPTIONS" || method == "PROPFIND" || method == "MKCOL" || method == "MOVE" ||
      method == "COPY" || method == "LOCK" || method == "UNLOCK") {
    auto filePath = filePathForURI_allowDirectory(path, true);
    if (!filePath) return nullptr;
    std::string rootPath = config()->documentRoot().value_or("");
    std::string resourcePath =
        filePath->size() > rootPath.size() ? filePath->substr(rootPath.size() + 1) : "";
    std::optional<ns::Data> body;
    if (bodyWriteFailed_) return ns::make<StatusResponse>(500);
    if (requestBodyFile_) {
      std::error_code ec;
      auto size = std::filesystem::file_size(*requestBodyFile_, ec);
      if (ec) return nullptr;
      std::string bytes(size, '\0');
      int fd = ::open(requestBodyFile_->c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return nullptr;
      std::size_t done = 0;
      while (done < size) {
        ssize_t n = ::read(fd, bytes.data() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(fd);
      if (done != size) return nullptr;
      body = ns::Data(bytes);
    } else if (requestContentBody_) {
      body = ns::Data(requestContentBody_->bytes(), requestContentBody_->length());
    }
    return DAVResponse::initWithMethod_headers_bodyData_resourcePath_rootPath(method, headers, body,
                                                                              resourcePath, rootPath);
  }
  return nullptr;
}
