#pragma once
// A text file sent with keys replaced by values while it streams: a key is the text between two
// separators ("%%name%%"); a key the dictionary knows is replaced, separators included. The body
// goes out chunked, since its length is known only at the end.
#include <string>

#include "lib/http-server/Core/Responses/HTTPAsyncFileResponse.h"
#include "platform/core/Value.h"

class HTTPDynamicFileResponse : public HTTPAsyncFileResponse {
 public:
  HTTPDynamicFileResponse(std::string filePath, ns::Weak<HTTPConnection> connection, std::uint64_t fileLength,
                          const std::string& separator, ns::Dictionary replacements);

  // Nothing when the file's attributes cannot be read or the separator is empty.
  static ns::Ref<HTTPDynamicFileResponse> initWithFilePath_forConnection_separator_replacementDictionary(
      const std::string& filePath, const ns::Ref<HTTPConnection>& connection, const std::string& separator,
      const ns::Dictionary& replacements);

  std::string className() const override { return "HTTPDynamicFileResponse"; }
  std::uint64_t contentLength() override { return 0; }
  void setOffset(std::uint64_t) override {}
  bool isChunked() override { return true; }
  bool isDone() override;

 protected:
  void processReadBuffer() override;

 private:
  ns::Data separator_;
  ns::Dictionary replacementDict_;
};
