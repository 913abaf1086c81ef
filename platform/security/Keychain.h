#pragma once
// Generic password items (service, account, secret bytes) with the platform's status codes.
//
// Items live in a file store: one file, "keychain" in the application's data folder
// ($XDG_DATA_HOME/Pelorin, or ~/.local/share/Pelorin), mode 0600, replaced atomically on every
// change and locked against other processes while it is read and rewritten. It protects the
// secrets only by file permissions, which is weaker than a desktop keyring. A store that cannot
// be read back is never overwritten: every call on it answers errSecDecode until it is
// repaired or removed.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Data.h"
#include "platform/security/SecStatus.h"

namespace sec {

class Keychain {
 public:
  // A store kept in the given file (its folder is made when the first item is written).
  explicit Keychain(std::filesystem::path file) : file_(std::move(file)) {}

  // The application's store; tests point it elsewhere with setDefaultPath.
  static Keychain defaultKeychain();
  static std::filesystem::path defaultPath();
  static void setDefaultPath(std::optional<std::filesystem::path> file);

  const std::filesystem::path& path() const { return file_; }

  // errSecSuccess, errSecDuplicateItem when the pair exists, errSecParam for an empty service.
  OSStatus addGenericPassword(std::string_view service, std::string_view account,
                              std::string_view password) const;
  // errSecSuccess with the secret in *password (when given), or errSecItemNotFound.
  OSStatus findGenericPassword(std::string_view service, std::string_view account,
                               std::string* password) const;
  OSStatus findGenericPassword(std::string_view service, std::string_view account, ns::Data* password) const;
  // Replaces the secret of an existing item; errSecItemNotFound when there is none.
  OSStatus updateGenericPassword(std::string_view service, std::string_view account,
                                 std::string_view password) const;
  OSStatus deleteGenericPassword(std::string_view service, std::string_view account) const;

 private:
  std::filesystem::path file_;
};

// The calls the callers were written against, on the default store.
OSStatus SecKeychainAddGenericPassword(std::string_view service, std::string_view account,
                                       std::string_view password);
OSStatus SecKeychainFindGenericPassword(std::string_view service, std::string_view account,
                                        std::string* password);
OSStatus SecKeychainFindGenericPassword(std::string_view service, std::string_view account,
                                        ns::Data* password);
// Finds the item and deletes it (the two steps of finding an item reference and deleting it).
OSStatus SecKeychainDeleteGenericPassword(std::string_view service, std::string_view account);

}  // namespace sec
