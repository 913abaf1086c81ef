#pragma once
// Trust in a peer's certificate chain: evaluated against the system's certificate authorities
// (the OpenSSL store of the system) plus the extra authorities the process was given, either
// with addProcessAnchorCertificate or as a PEM file named by the environment variable
// PELORIN_EXTRA_CA_FILE (read once, at first use; URL loading reads the same variable).
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/security/Certificate.h"
#include "platform/security/SecStatus.h"

namespace sec {

enum SecTrustResultType {
  kSecTrustResultInvalid = 0,
  kSecTrustResultProceed = 1,
  kSecTrustResultDeny = 3,
  kSecTrustResultUnspecified = 4,  // trusted through the system's authorities
  kSecTrustResultRecoverableTrustFailure = 5,
  kSecTrustResultFatalTrustFailure = 6,
  kSecTrustResultOtherError = 7,
};

class Trust : public ns::Object {
 public:
  // chain: the peer's certificates, leaf first. hostName: the name the leaf must carry (a host
  // name or an IP address); none checks no name.
  Trust(std::vector<ns::Ref<Certificate>> chain, std::optional<std::string> hostName);

  static void addProcessAnchorCertificate(ns::Ref<Certificate> certificate);
  static void removeProcessAnchorCertificates();
  static std::vector<ns::Ref<Certificate>> processAnchorCertificates();

  const std::optional<std::string>& hostName() const { return hostName_; }
  std::size_t certificateCount() const { return chain_.size(); }
  ns::Ref<Certificate> certificateAtIndex(std::size_t index) const;
  const std::vector<ns::Ref<Certificate>>& certificates() const { return chain_; }

  // Extra authorities for this evaluation; with onlyThese, neither the system's nor the
  // process's authorities count.
  void setAnchorCertificates(std::vector<ns::Ref<Certificate>> anchors, bool onlyThese = false);
  // The moment of the check, seconds since 1970 (default: now).
  void setVerifyDate(double secondsSince1970) { verifyDate_ = secondsSince1970; }

  // errSecSuccess with the verdict in *result; errSecParam for an empty chain.
  OSStatus evaluate(SecTrustResultType* result) const;
  // true when trusted; otherwise false with *error in NSOSStatusErrorDomain, code
  // errSecNotTrusted, describing the certificate and the reason.
  bool evaluateWithError(ns::Error* error) const;

 private:
  std::vector<ns::Ref<Certificate>> chain_;
  std::optional<std::string> hostName_;
  std::vector<ns::Ref<Certificate>> anchors_;
  bool anchorsOnly_ = false;
  std::optional<double> verifyDate_;
};

}  // namespace sec
