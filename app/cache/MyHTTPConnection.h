#pragma once
// The local media server's connection: a path that begins with "/youtube/" names a video
// ("/youtube/<id>/18/<id>.mp4"; only the id counts) and gets a YoutubeResponse; any other path
// is served from the document root, the cache folder. An id that cannot name a file gets 404.
#include <optional>
#include <string>

#include "lib/http-server/Core/HTTPConnection.h"

class YoutubeResponse;

class MyHTTPConnection : public HTTPConnection {
 public:
  using HTTPConnection::HTTPConnection;

  std::string className() const override { return "MyHTTPConnection"; }

  ns::Ref<HTTPResponse> httpResponseForMethod_URI(const std::string& method,
                                                  const std::string& path) override;

  // The response of the latest "/youtube/" request on this connection; nil when it failed.
  const ns::Ref<YoutubeResponse>& youtubeResponse() const { return youtubeResponse_; }

  // The video id a "/youtube/" path names: the text between its second and third slash, or to
  // the end. Nil for any other path.
  static std::optional<std::string> videoIdForPath(const std::string& path);

 private:
  ns::Ref<YoutubeResponse> youtubeResponse_;
};
