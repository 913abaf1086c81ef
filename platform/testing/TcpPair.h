#pragma once
// Loopback TCP helpers for socket and stream tests.
#include <cstdint>

namespace pltest {

// Two connected loopback TCP descriptors (blocking, close-on-exec); false when the system
// refuses. The caller closes both.
bool connectedTcpPair(int* first, int* second);
// A loopback port that nothing listens on (bound once, then released).
std::uint16_t closedLoopbackPort();
// The number of descriptors the process holds (entries of /proc/self/fd).
int openDescriptorCount();

}  // namespace pltest
