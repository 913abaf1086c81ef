#pragma once
// A service that is down at first and comes back at the same address: a loopback port that
// refuses connections (bound, not listening) until open(), and from then on passes each
// connection on to another loopback port byte for byte (TLS and all).
//
//   pltest::PortGate gate(api.server().port());
//   sandbox.set("PELORIN_GOOGLE_API_URL", "https://127.0.0.1:" + std::to_string(gate.port()));
//   ... the client's first connection is refused ...
//   gate.open();  // the next ones reach the fake
#include <cstddef>
#include <cstdint>
#include <memory>

namespace pltest {

class PortGate {
 public:
  explicit PortGate(std::uint16_t targetPort);
  ~PortGate();
  PortGate(const PortGate&) = delete;
  PortGate& operator=(const PortGate&) = delete;

  std::uint16_t port() const;
  void open();
  // Connections passed on since open().
  std::size_t connections() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace pltest
