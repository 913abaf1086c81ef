#include "lib/http-server/Core/WebSocketHandle.h"

#include <algorithm>
#include <cctype>

#include "lib/http-server/Core/HTTPMessage.h"

namespace {
std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
}  // namespace

bool WebSocketHandle::isWebSocketRequest(const HTTPMessage& request) {
  auto upgrade = request.headerField("Upgrade");
  auto connection = request.headerField("Connection");
  if (!upgrade || !connection) return false;
  return lower(*upgrade) == "websocket" && lower(*connection).find("upgrade") != std::string::npos;
}
