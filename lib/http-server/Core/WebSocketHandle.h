#pragma once
// What the server and its connections need of a WebSocket: the WebSocket class (its own module)
// derives from this, so that the core does not depend on it. A connection hands its socket
// over to the WebSocket, the server keeps it alive until "WebSocketDidDie" and stops it with
// the server.
#include "platform/core/Object.h"

class HTTPMessage;

class WebSocketHandle : public ns::Object {
 public:
  virtual void start() = 0;
  virtual void stop() = 0;

  // Both "Upgrade" (equal to "WebSocket" ignoring case) and "Connection" (containing "Upgrade"
  // ignoring case) are present.
  static bool isWebSocketRequest(const HTTPMessage& request);
};
