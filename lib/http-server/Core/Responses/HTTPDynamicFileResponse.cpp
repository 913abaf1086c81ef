#include "lib/http-server/Core/Responses/HTTPDynamicFileResponse.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "lib/http-server/Core/HTTPConnection.h"
#include "lib/http-server/Core/HTTPLogging.h"
#include "platform/core/Str.h"

namespace {

constexpr char kLogName[] = "HTTPDynamicFileResponse";
constexpr std::size_t kMinimumGrowth = 256;

std::string replacementText(const ns::Value& value) {
  if (value.isString() || value.isNumber()) return value.stringValue();
  return value.description();
}

}  // namespace

HTTPDynamicFileResponse::HTTPDynamicFileResponse(std::string filePath, ns::Weak<HTTPConnection> connection,
                                                 std::uint64_t fileLength, const std::string& separator,
                                                 ns::Dictionary replacements)
    : HTTPAsyncFileResponse(std::move(filePath), std::move(connection), fileLength),
      separator_(separator),
      replacementDict_(std::move(replacements)) {}

ns::Ref<HTTPDynamicFileResponse>
HTTPDynamicFileResponse::initWithFilePath_forConnection_separator_replacementDictionary(
    const std::string& filePath, const ns::Ref<HTTPConnection>& connection, const std::string& separator,
    const ns::Dictionary& replacements) {
  if (filePath.empty() || separator.empty()) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_RESPONSE, "%@: Init failed - no file path or separator", kLogName);
    return nullptr;
  }
  struct stat st {};
  if (::stat(filePath.c_str(), &st) != 0) {
    HTTP_LOG_WARN(HTTP_LOG_LEVEL_RESPONSE, "%@: Init failed - Unable to get file attributes. filePath: %@",
                  kLogName, filePath);
    return nullptr;
  }
  return ns::make<HTTPDynamicFileResponse>(filePath, connection, static_cast<std::uint64_t>(st.st_size),
                                           separator, replacements);
}

bool HTTPDynamicFileResponse::isDone() {
  std::lock_guard lock(mutex_);
  return readOffset_ == fileLength_ && readBufferOffset_ == 0 && !data_;
}

void HTTPDynamicFileResponse::processReadBuffer() {
  {
    std::lock_guard lock(mutex_);
    const std::size_t S = separator_.length();
    std::size_t L = static_cast<std::size_t>(readBufferOffset_);
    std::size_t scanFrom = 0;
    std::size_t openAt = 0;
    bool open = false;
    for (;;) {
      std::size_t searchEnd = L > S ? L - S + 1 : 0;
      open = false;
      for (std::size_t i = scanFrom; i < searchEnd;) {
        if (std::memcmp(readBuffer_.data() + i, separator_.bytes(), S) != 0) {
          ++i;
          continue;
        }
        if (!open) {
          open = true;
          openAt = i;
          i += S;
          continue;
        }
        open = false;
        std::size_t keyStart = openAt + S;
        std::size_t spanLength = i - openAt + S;
        const ns::Value* value = nullptr;
        if (ns::str::isValidUtf8(
                {reinterpret_cast<const char*>(readBuffer_.data() + keyStart), i - keyStart})) {
          std::string key(reinterpret_cast<const char*>(readBuffer_.data() + keyStart), i - keyStart);
          value = replacementDict_.find(ns::Value(key));
        }
        if (!value) {
          i += S;
          continue;
        }
        std::string replacement = replacementText(*value);
        std::size_t R = replacement.size();
        if (R > spanLength) {
          std::size_t growth = R - spanLength;
          if (growth > readBuffer_.size() - L)
            readBuffer_.resize(readBuffer_.size() + std::max(growth, kMinimumGrowth));
        }
        if (R != spanLength)
          std::memmove(readBuffer_.data() + openAt + R, readBuffer_.data() + openAt + spanLength,
                       L - (openAt + spanLength));
        std::memcpy(readBuffer_.data() + openAt, replacement.data(), R);
        L = L + R - spanLength;
        searchEnd = L > S ? L - S + 1 : 0;
        i = openAt + R;
      }
      // A key that stays open while more than a read's worth is held behind it never closes in
      // time: the reads would ask for nothing. Its separator is plain text then.
      if (open && L - openAt >= readRequestLength_ && readOffset_ < fileLength_) {
        scanFrom = openAt + S;
        continue;
      }
      break;
    }
    readBufferOffset_ = L;
    if (readOffset_ < fileLength_) {
      std::size_t searchEnd = L > S ? L - S + 1 : 0;
      std::size_t finalCount = open ? openAt : searchEnd;
      if (finalCount > 0) data_ = ns::Data(readBuffer_.data(), finalCount);
      std::memmove(readBuffer_.data(), readBuffer_.data() + finalCount, L - finalCount);
      readBufferOffset_ = L - finalCount;
    } else {
      data_ = ns::Data(readBuffer_.data(), L);
      readBufferOffset_ = 0;
    }
  }
  notifyConnection();
}
