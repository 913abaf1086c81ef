#pragma once
// Certificates for tests, made in memory at run time: nothing certificate-like is kept in the
// source tree. A TestCertificateAuthority is a self-signed CA that issues leaf identities with
// the subject alternative names a test needs (127.0.0.1, localhost, the host name of a fake
// service...). Typical use:
//
//   pltest::TestCertificateAuthority ca;                       // "Pelorin Test CA", P-256 key
//   auto server = ca.issueIdentity({"localhost", "127.0.0.1"});
//   serverContext->setCertificate(server);                   // a TLS server
//   sec::Trust::addProcessAnchorCertificate(ca.certificate()); // clients of this process trust it
//   writeFile(dir / "ca.pem", ca.certificatePEM());           // or hand the PEM to a child process
//
// EC P-256 keys are the default because they are made in microseconds; RSA (2048-bit) is there
// for RSA-only cipher suites such as 0xC02F. Validity can be moved into the past or the future
// to test expired or not-yet-valid certificates.
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/security/Certificate.h"

namespace pltest {

class TestCertificateAuthority {
 public:
  enum class KeyType { EC, RSA };

  struct LeafOptions {
    std::string commonName;  // default: the first name, else "Pelorin Test Leaf"
    std::vector<std::string> subjectAltNames{"localhost", "127.0.0.1"};  // IP addresses or host names
    KeyType keyType = KeyType::EC;
    long validFromSeconds = -3600;           // relative to now
    long validForSeconds = 30L * 24 * 3600;  // from validFrom
    bool serverAuth = true;
    bool clientAuth = true;
  };

  explicit TestCertificateAuthority(std::string commonName = "Pelorin Test CA",
                                    KeyType keyType = KeyType::EC);

  ns::Ref<sec::Certificate> certificate() const { return identity_->certificate(); }
  std::string certificatePEM() const { return identity_->certificate()->PEM(); }
  // The CA itself as an identity (it can sign, and a server can present it).
  ns::Ref<sec::Identity> identity() const { return identity_; }

  // A leaf signed by this CA; its chain holds the CA certificate.
  ns::Ref<sec::Identity> issueIdentityWithOptions(const LeafOptions& options) const;
  ns::Ref<sec::Identity> issueIdentity(std::vector<std::string> subjectAltNames) const;

  // A certificate and key signed by nobody but itself, for negative tests.
  static ns::Ref<sec::Identity> selfSignedIdentity(std::vector<std::string> subjectAltNames,
                                                   KeyType keyType = KeyType::EC);

  // DER-encoded PKCS#3 parameters of the RFC 7919 group ffdhe2048, for servers offering the
  // finite-field DHE suites.
  static ns::Data diffieHellmanParameters();

 private:
  ns::Ref<sec::Identity> identity_;
};

}  // namespace pltest
