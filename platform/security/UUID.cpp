#include "platform/security/UUID.h"

#include <uuid/uuid.h>

namespace sec {

UUID::UUID() {
  uuid_generate_random(bytes_.data());
}

std::optional<UUID> UUID::fromString(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  char buffer[37];
  text.copy(buffer, 36);
  buffer[36] = '\0';
  Bytes bytes;
  if (uuid_parse(buffer, bytes.data()) != 0) return std::nullopt;
  return UUID(bytes);
}

std::string UUID::newUUIDString() {
  return UUID().UUIDString();
}

std::string UUID::UUIDString() const {
  char buffer[37];
  uuid_unparse_upper(bytes_.data(), buffer);
  return std::string(buffer, 36);
}

}  // namespace sec
