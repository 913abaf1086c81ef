#include "platform/security/Certificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <climits>
#include <ctime>
#include <functional>

#include "platform/security/OpenSSLSupport.h"
#include "platform/security/SecStatus.h"

namespace sec {

namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

BioPtr memoryBio(std::string_view bytes) {
  if (bytes.size() > INT_MAX) return nullptr;
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

std::string bioText(BIO* bio) {
  char* data = nullptr;
  long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string nameLine(const X509_NAME* name) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
  return bioText(bio.get());
}

// The library's own answer to an encrypted PEM block is to ask for a password on the terminal
// or standard input; there is none to give, so such a block is one that cannot be read.
int noPassword(char*, int, int, void*) {
  return 0;
}

double asn1Seconds(const ASN1_TIME* t) {
  struct tm tm {};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return 0;
  return static_cast<double>(timegm(&tm));
}

}  // namespace

std::string openSSLErrors() {
  std::string out;
  unsigned long e;
  char buffer[256];
  while ((e = ERR_get_error()) != 0) {
    ERR_error_string_n(e, buffer, sizeof buffer);
    if (!out.empty()) out += "; ";
    out += buffer;
  }
  return out;
}

ns::Ref<Certificate> certificateFromX509(X509* x) {
  if (!x) return nullptr;
  X509_up_ref(x);
  auto impl = std::make_unique<Certificate::Impl>();
  impl->x509.reset(x);
  return ns::make<Certificate>(std::move(impl));
}

Certificate::Certificate(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Certificate::~Certificate() = default;

ns::Ref<Certificate> Certificate::createWithData(std::string_view der) {
  if (der.empty() || der.size() > LONG_MAX) return nullptr;
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  ERR_clear_error();
  // Trailing bytes mean this was not exactly one certificate.
  if (!x || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->x509 = std::move(x);
  return ns::make<Certificate>(std::move(impl));
}

std::vector<ns::Ref<Certificate>> Certificate::certificatesWithPEM(std::string_view pem) {
  std::vector<ns::Ref<Certificate>> out;
  BioPtr bio = memoryBio(pem);
  if (!bio) return out;
  while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, noPassword, nullptr)) {
    auto impl = std::make_unique<Impl>();
    impl->x509.reset(x);
    out.push_back(ns::make<Certificate>(std::move(impl)));
  }
  ERR_clear_error();  // the end of the text reads as an error
  return out;
}

ns::Ref<Certificate> Certificate::createWithPEM(std::string_view pem) {
  auto all = certificatesWithPEM(pem);
  return all.empty() ? nullptr : all.front();
}

ns::Data Certificate::data() const {
  int length = i2d_X509(impl_->x509.get(), nullptr);
  if (length <= 0) return ns::Data();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
  unsigned char* p = out.data();
  i2d_X509(impl_->x509.get(), &p);
  return ns::Data(std::move(out));
}

std::string Certificate::PEM() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(bio.get(), impl_->x509.get());
  return bioText(bio.get());
}

std::string Certificate::commonName() const {
  X509_NAME* name = X509_get_subject_name(impl_->x509.get());
  int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
  if (index < 0) return std::string();
  ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
  unsigned char* utf8 = nullptr;
  int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0) return std::string();
  std::string out(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return out;
}

std::string Certificate::subjectSummary() const {
  std::string cn = commonName();
  return cn.empty() ? nameLine(X509_get_subject_name(impl_->x509.get())) : cn;
}

std::string Certificate::issuerSummary() const {
  return nameLine(X509_get_issuer_name(impl_->x509.get()));
}

std::vector<std::string> Certificate::subjectAlternativeNames() const {
  std::vector<std::string> out;
  auto* names = static_cast<GENERAL_NAMES*>(
      X509_get_ext_d2i(impl_->x509.get(), NID_subject_alt_name, nullptr, nullptr));
  if (!names) return out;
  for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
    const GENERAL_NAME* n = sk_GENERAL_NAME_value(names, i);
    if (n->type == GEN_DNS) {
      const ASN1_STRING* s = n->d.dNSName;
      out.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)), ASN1_STRING_length(s));
    } else if (n->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* s = n->d.iPAddress;
      char text[INET6_ADDRSTRLEN] = {};
      // The encoding takes any length: only 4 or 16 bytes are an address.
      const int length = ASN1_STRING_length(s);
      if (length != 4 && length != 16) continue;
      int family = length == 4 ? AF_INET : AF_INET6;
      if (inet_ntop(family, ASN1_STRING_get0_data(s), text, sizeof text)) out.emplace_back(text);
    }
  }
  GENERAL_NAMES_free(names);
  return out;
}

double Certificate::notValidBefore() const {
  return asn1Seconds(X509_get0_notBefore(impl_->x509.get()));
}
double Certificate::notValidAfter() const {
  return asn1Seconds(X509_get0_notAfter(impl_->x509.get()));
}

bool Certificate::isEqual(const ns::Object* other) const {
  auto* cert = dynamic_cast<const Certificate*>(other);
  return cert && X509_cmp(impl_->x509.get(), cert->impl_->x509.get()) == 0;
}

std::size_t Certificate::hash() const {
  return data().hash();
}

std::string Certificate::description() const {
  return "<cert(" + subjectSummary() + ")>";
}

Identity::Identity(ns::Ref<Certificate> certificate, std::vector<ns::Ref<Certificate>> chain,
                   std::unique_ptr<Impl> key)
    : certificate_(std::move(certificate)), chain_(std::move(chain)), impl_(std::move(key)) {}
Identity::~Identity() = default;

ns::Ref<Identity> Identity::createWithPEM(std::string_view certificateChainPEM,
                                          std::string_view privateKeyPEM, ns::Error* error) {
  auto fail = [&](OSStatus code, std::string reason) -> ns::Ref<Identity> {
    ns::setError(error, ns::Error::withDescription(ns::NSOSStatusErrorDomain, code, std::move(reason)));
    ERR_clear_error();
    return nullptr;
  };
  auto certificates = Certificate::certificatesWithPEM(certificateChainPEM);
  if (certificates.empty()) return fail(errSecDecode, "No certificate in the PEM text.");
  BioPtr bio = memoryBio(privateKeyPEM);
  PKeyPtr key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr) : nullptr);
  if (!key) return fail(errSecDecode, "No private key in the PEM text.");
  if (X509_check_private_key(certificates.front()->impl().x509.get(), key.get()) != 1)
    return fail(errSecParam, "The private key does not belong to the certificate.");
  auto impl = std::make_unique<Impl>();
  impl->key = std::move(key);
  ns::Ref<Certificate> leaf = certificates.front();
  certificates.erase(certificates.begin());
  return ns::make<Identity>(std::move(leaf), std::move(certificates), std::move(impl));
}

std::string Identity::privateKeyPEM() const {
  BioPtr bio(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(bio.get(), impl_->key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  return bioText(bio.get());
}

}  // namespace sec
