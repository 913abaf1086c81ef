#pragma once
// What the TCP and the UDP sockets, dispatch and run-loop alike, set up the same way: the
// loopback and wildcard addresses of a port, and a fresh non-blocking descriptor.
#include <cstdint>
#include <utility>

#include "platform/core/Data.h"

namespace socket_setup {

// The IPv4 and IPv6 loopback (or, with `loopback` false, wildcard) socket addresses with a port.
std::pair<ns::Data, ns::Data> loopbackOrWildcardAddresses(std::uint16_t port, bool loopback);

// Turns on O_NONBLOCK, keeping the descriptor's other status flags. False (errno set) on failure.
bool setNonBlocking(int fd);

// A new close-on-exec descriptor of `domain` and `type`, non-blocking, with address reuse on and,
// for AF_INET6, serving IPv6 only (IPv4 has a descriptor of its own). On failure: -1, the
// descriptor closed, errno as the failed step left it and *failedStep the text naming that step.
int openNonBlockingSocket(int domain, int type, const char** failedStep);

// Turns address reuse off on a UDP descriptor that is about to be given a port by the kernel (a
// bind to port 0, or the implicit bind of a first send or connect). On Linux such a descriptor
// with reuse on may be handed a port that another descriptor with reuse on already holds, and a
// datagram sent to that port then reaches only one of them. Reuse is for binding a named port
// again; without it the kernel picks a port nobody holds.
void keepEphemeralPortOwn(int fd);

}  // namespace socket_setup
