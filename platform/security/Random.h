#pragma once
// Cryptographically secure random bytes from the operating system's generator.
#include <cstddef>
#include <string>

#include "platform/core/Data.h"

namespace sec {

struct SecRandomRef_;
using SecRandomRef = const SecRandomRef_*;
inline constexpr SecRandomRef kSecRandomDefault = nullptr;

// Fills bytes with count random bytes; 0 on success, -1 when the generator fails (errno set)
// or bytes is null while count > 0.
int SecRandomCopyBytes(SecRandomRef rnd, std::size_t count, void* bytes);

// count random bytes; throws std::runtime_error only if the generator itself is broken.
std::string randomBytes(std::size_t count);
ns::Data randomData(std::size_t count);

}  // namespace sec
