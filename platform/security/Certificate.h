#pragma once
// X.509 certificates and identities (a certificate with its private key and the chain that
// leads to its issuer). OpenSSL stays behind the pimpl.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace sec {

class Certificate : public ns::Object {
 public:
  // nullptr when the bytes are not one DER-encoded certificate.
  static ns::Ref<Certificate> createWithData(std::string_view der);
  static ns::Ref<Certificate> createWithData(const ns::Data& der) { return createWithData(der.view()); }
  // The first certificate of PEM text, or nullptr.
  static ns::Ref<Certificate> createWithPEM(std::string_view pem);
  // Every certificate of PEM text, in order (empty when there is none or the text is broken).
  static std::vector<ns::Ref<Certificate>> certificatesWithPEM(std::string_view pem);
  ~Certificate() override;

  ns::Data data() const;  // DER
  std::string PEM() const;
  // The common name, else the whole subject as one line.
  std::string subjectSummary() const;
  std::string commonName() const;
  std::string issuerSummary() const;
  // Subject alternative names: host names and IP addresses in text form.
  std::vector<std::string> subjectAlternativeNames() const;
  // Validity in seconds since 1970.
  double notValidBefore() const;
  double notValidAfter() const;

  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;
  std::string description() const override;

  struct Impl;
  explicit Certificate(std::unique_ptr<Impl> impl);
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

class Identity : public ns::Object {
 public:
  // From PEM text: the certificate chain (leaf first) and the leaf's private key. nullptr with
  // *error (NSOSStatusErrorDomain: errSecDecode when they do not parse, errSecParam when the key
  // does not belong to the certificate) otherwise.
  static ns::Ref<Identity> createWithPEM(std::string_view certificateChainPEM, std::string_view privateKeyPEM,
                                         ns::Error* error);
  ~Identity() override;

  ns::Ref<Certificate> certificate() const { return certificate_; }
  // The certificates after the leaf that are sent with it (intermediates, possibly the root).
  const std::vector<ns::Ref<Certificate>>& chain() const { return chain_; }
  // The private key as unencrypted PKCS#8 PEM, for handing to a server that reads files.
  std::string privateKeyPEM() const;

  struct Impl;
  Identity(ns::Ref<Certificate> certificate, std::vector<ns::Ref<Certificate>> chain,
           std::unique_ptr<Impl> key);
  Impl& impl() const { return *impl_; }

 private:
  ns::Ref<Certificate> certificate_;
  std::vector<ns::Ref<Certificate>> chain_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sec
