// The address utilities and interface descriptions, as tables.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

#include "lib/sockets/DispatchSocket.h"

namespace {

ns::Data ipv4(const char* text, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  inet_pton(AF_INET, text, &addr.sin_addr);
  return ns::Data(&addr, sizeof addr);
}

ns::Data ipv6(const char* text, std::uint16_t port) {
  sockaddr_in6 addr{};
  addr.sin6_family = AF_INET6;
  addr.sin6_port = htons(port);
  inet_pton(AF_INET6, text, &addr.sin6_addr);
  return ns::Data(&addr, sizeof addr);
}

TEST(DispatchSocketAddresses, HostPortAndFamilyFromAddressData) {
  struct Case {
    const char* name;
    ns::Data address;
    bool ok;
    std::string host;
    std::uint16_t port;
    int family;
    bool isIPv4, isIPv6;
  } cases[] = {
      {"ipv4", ipv4("192.168.1.20", 8080), true, "192.168.1.20", 8080, AF_INET, true, false},
      {"ipv6", ipv6("fe80::1", 443), true, "fe80::1", 443, AF_INET6, false, true},
      {"ipv6Loopback", ipv6("::1", 1), true, "::1", 1, AF_INET6, false, true},
      {"ipv6Truncated", ipv6("::1", 1).subdata(0, 20), false, "", 0, 0, false, true},
      {"tooShort", ipv4("10.0.0.1", 5).subdata(0, 15), false, "", 0, 0, false, false},
      {"empty", ns::Data(), false, "", 0, 0, false, false},
      {"otherFamily", ns::Data(std::string(16, '\0')), false, "", 0, 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string host = "untouched";
    std::uint16_t port = 9;
    int family = -1;
    EXPECT_EQ(DispatchSocket::getHost_port_family_fromAddress(&host, &port, &family, c.address), c.ok);
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
      EXPECT_EQ(family, c.family);
      EXPECT_EQ(DispatchSocket::hostFromAddress(c.address), c.host);
      EXPECT_EQ(DispatchSocket::portFromAddress(c.address), c.port);
    } else {
      EXPECT_EQ(host, "untouched") << "out-parameters are left alone";
      EXPECT_EQ(port, 9);
      EXPECT_EQ(family, -1);
      EXPECT_EQ(DispatchSocket::hostFromAddress(c.address), std::nullopt);
      EXPECT_EQ(DispatchSocket::portFromAddress(c.address), 0);
    }
    EXPECT_EQ(DispatchSocket::isIPv4Address(c.address), c.isIPv4);
    EXPECT_EQ(DispatchSocket::isIPv6Address(c.address), c.isIPv6);
    EXPECT_EQ(DispatchSocket::getHost_port_fromAddress(nullptr, nullptr, c.address), c.ok);
  }
}

TEST(DispatchSocketAddresses, TerminatorConstants) {
  EXPECT_EQ(DispatchSocket::CRLFData().toString(), "\r\n");
  EXPECT_EQ(DispatchSocket::CRData().toString(), "\r");
  EXPECT_EQ(DispatchSocket::LFData().toString(), "\n");
  ASSERT_EQ(DispatchSocket::ZeroData().length(), 1u) << "one zero byte, not empty";
  EXPECT_EQ(DispatchSocket::ZeroData()[0], 0);
  EXPECT_FALSE(DispatchSocket::usingCFStreamForTLS());
}

TEST(DispatchSocketAddresses, LookupOfLocalhostNeedsNoResolver) {
  for (const char* name : {"localhost", "loopback"}) {
    ns::Error error("", 0);
    auto addresses = DispatchSocket::lookupHost_port_error(name, 8080, &error);
    ASSERT_TRUE(addresses);
    ASSERT_EQ(addresses->size(), 2u);
    EXPECT_TRUE(DispatchSocket::isIPv4Address((*addresses)[0]));
    EXPECT_EQ(DispatchSocket::hostFromAddress((*addresses)[0]), "127.0.0.1");
    EXPECT_EQ(DispatchSocket::hostFromAddress((*addresses)[1]), "::1");
    EXPECT_EQ(DispatchSocket::portFromAddress((*addresses)[1]), 8080);
  }
  // A numeric host goes through the resolver without any network.
  auto numeric = DispatchSocket::lookupHost_port_error("127.0.0.1", 7, nullptr);
  ASSERT_TRUE(numeric);
  ASSERT_FALSE(numeric->empty());
  EXPECT_EQ(DispatchSocket::hostFromAddress(numeric->front()), "127.0.0.1");
  EXPECT_EQ(DispatchSocket::portFromAddress(numeric->front()), 7);
}

TEST(DispatchSocketAddresses, ResolverErrorsUseTheNetDBDomainWithNegativeCodes) {
  ns::Error error = DispatchSocket::gaiError(EAI_NONAME);
  EXPECT_EQ(error.domain(), "kCFStreamErrorDomainNetDB");
  EXPECT_EQ(error.code(), EAI_NONAME);
  EXPECT_LT(error.code(), 0);
  EXPECT_EQ(error.localizedDescription(), gai_strerror(EAI_NONAME));
}

TEST(DispatchSocketAddresses, InterfaceDescriptions) {
  struct Case {
    const char* name;
    std::optional<std::string> description;
    std::uint16_t port;
    std::optional<std::string> host4, host6;
    std::uint16_t expectedPort;
  } cases[] = {
      {"none", std::nullopt, 80, "0.0.0.0", "::", 80},
      {"localhost", "localhost", 81, "127.0.0.1", "::1", 81},
      {"loopback", "loopback", 0, "127.0.0.1", "::1", 0},
      {"portInDescription", "localhost:8080", 0, "127.0.0.1", "::1", 8080},
      {"givenPortWins", "localhost:8080", 9000, "127.0.0.1", "::1", 9000},
      {"portOutOfRange", "localhost:99999", 0, "127.0.0.1", "::1", 0},
      {"portWithTrailingText", "localhost:123abc", 0, "127.0.0.1", "::1", 123},
      {"ipv4Text", "127.0.0.1", 5, "127.0.0.1", std::nullopt, 5},
      {"interfaceName", "lo", 6, "127.0.0.1", std::nullopt /* checked below */, 6},
      {"ipv6LiteralIsWildcard", "::1", 7, "0.0.0.0", "::", 7},
      {"unknown", "no-such-if0", 8, std::nullopt, std::nullopt, 0},
      {"ipv6LiteralNamesNothing", "fe80::1", 8, std::nullopt, std::nullopt, 0},
      {"caseMatters", "LocalHost", 8, std::nullopt, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<ns::Data> addr4, addr6;
    DispatchSocket::getInterfaceAddress4_address6_fromDescription_port(&addr4, &addr6, c.description, c.port);
    ASSERT_EQ(addr4.has_value(), c.host4.has_value());
    if (addr4) {
      EXPECT_EQ(addr4->length(), sizeof(sockaddr_in));
      EXPECT_EQ(DispatchSocket::hostFromAddress(*addr4), c.host4);
      EXPECT_EQ(DispatchSocket::portFromAddress(*addr4), c.expectedPort);
    }
    if (std::string(c.name) == "interfaceName") continue;  // lo's IPv6 address depends on the host
    ASSERT_EQ(addr6.has_value(), c.host6.has_value());
    if (addr6) {
      EXPECT_EQ(addr6->length(), sizeof(sockaddr_in6));
      EXPECT_EQ(DispatchSocket::hostFromAddress(*addr6), c.host6);
      EXPECT_EQ(DispatchSocket::portFromAddress(*addr6), c.expectedPort);
    }
  }
  // Either out-parameter may be null.
  DispatchSocket::getInterfaceAddress4_address6_fromDescription_port(nullptr, nullptr, "localhost", 1);
}

}  // namespace
