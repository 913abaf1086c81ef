#pragma once
// Universally unique identifiers (RFC 4122), made by libuuid. The text form is the standard
// 36-character one with upper-case digits, as the platform writes it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sec {

class UUID {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  // A new random (version 4) identifier.
  UUID();
  explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

  // Parses the 36-character form (either case); nullopt for anything else.
  static std::optional<UUID> fromString(std::string_view text);
  // A new identifier's text ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").
  static std::string newUUIDString();

  std::string UUIDString() const;
  const Bytes& bytes() const { return bytes_; }

  friend bool operator==(const UUID&, const UUID&) = default;

 private:
  Bytes bytes_{};
};

}  // namespace sec

namespace ns {
// The Foundation name of the same type, for callers written against it.
using UUID = sec::UUID;
}  // namespace ns
