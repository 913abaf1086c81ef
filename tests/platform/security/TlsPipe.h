#pragma once
// Two TLS contexts joined by in-memory pipes of limited capacity, so that every would-block
// path of the contexts is exercised without sockets.
#include <algorithm>
#include <cstring>
#include <string>

#include "platform/security/SSLContext.h"

namespace tls_test {

struct Pipe {
  std::string bytes;
  std::size_t capacity = 1 << 20;
  bool ended = false;  // the writer went away: reads fail once the bytes are used up
};

inline void attach(sec::SSLContext& context, Pipe& in, Pipe& out) {
  context.setIOFuncs(
      [&in](void* data, std::size_t* length) {
        std::size_t n = std::min(*length, in.bytes.size());
        std::memcpy(data, in.bytes.data(), n);
        in.bytes.erase(0, n);
        bool all = n == *length;
        *length = n;
        if (all) return sec::noErr;
        return (n == 0 && in.ended) ? sec::errSSLClosedAbort : sec::errSSLWouldBlock;
      },
      [&out](const void* data, std::size_t* length) {
        std::size_t room = out.capacity - std::min(out.capacity, out.bytes.size());
        std::size_t n = std::min(*length, room);
        out.bytes.append(static_cast<const char*>(data), n);
        bool all = n == *length;
        *length = n;
        return all ? sec::noErr : sec::errSSLWouldBlock;
      });
}

struct Link {
  Pipe clientToServer, serverToClient;
  ns::Ref<sec::SSLContext> client = sec::SSLContext::create(sec::kSSLClientSide);
  ns::Ref<sec::SSLContext> server = sec::SSLContext::create(sec::kSSLServerSide);

  explicit Link(std::size_t capacity = 1 << 20) {
    clientToServer.capacity = serverToClient.capacity = capacity;
    attach(*client, serverToClient, clientToServer);
    attach(*server, clientToServer, serverToClient);
  }

  // Drives both handshakes until neither can progress. Answers the two last statuses.
  std::pair<sec::OSStatus, sec::OSStatus> handshake() {
    sec::OSStatus c = sec::errSSLWouldBlock, s = sec::errSSLWouldBlock;
    for (int round = 0; round < 50; ++round) {
      if (c == sec::errSSLWouldBlock) c = client->handshake();
      if (s == sec::errSSLWouldBlock) s = server->handshake();
      if (c != sec::errSSLWouldBlock && s != sec::errSSLWouldBlock) break;
      if (c == sec::errSSLPeerAuthCompleted) break;
    }
    return {c, s};
  }
};

}  // namespace tls_test
