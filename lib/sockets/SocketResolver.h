#pragma once
// The host resolver of the sockets. Lookups go through socketResolverGetAddrInfo instead of
// calling getaddrinfo directly, so that a test can hold a lookup or make it fail without any
// name service being involved.
#include <netdb.h>

#include <functional>

// Same contract as getaddrinfo; results are freed with freeaddrinfo.
int socketResolverGetAddrInfo(const char* host, const char* service, const addrinfo* hints, addrinfo** res);

// Tests: every later lookup calls `resolver` instead of getaddrinfo, on the lookup's own thread,
// until it is reset with nullptr. A replacement that answers 0 must fill *res by calling
// ::getaddrinfo itself, since the caller frees the result with freeaddrinfo.
using SocketResolverFunction =
    std::function<int(const char* host, const char* service, const addrinfo* hints, addrinfo** res)>;
void setSocketResolverForTesting(SocketResolverFunction resolver);
