#pragma once
// Notification names of the embedded server; the object is the dying connection or WebSocket.
inline constexpr char HTTPConnectionDidDieNotification[] = "HTTPConnectionDidDie";
inline constexpr char WebSocketDidDieNotification[] = "WebSocketDidDie";
