#include "platform/security/Trust.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/core/NoDestructor.h"
#include "platform/security/OpenSSLSupport.h"
#include "platform/security/TrustStore.h"

namespace sec {

namespace {

struct StoreState {
  std::mutex mutex;
  std::vector<ns::Ref<Certificate>> anchors;
  bool environmentRead = false;
  X509_STORE* store = nullptr;  // rebuilt after a change of anchors
};

StoreState& state() {
  static ns::NoDestructor<StoreState> s;  // lives for the process; threads may use it at exit
  return *s;
}

// Called with the state's mutex held.
void readEnvironmentAnchors(StoreState& s) {
  if (s.environmentRead) return;
  s.environmentRead = true;
  const char* file = std::getenv("PELORIN_EXTRA_CA_FILE");
  if (!file || !*file) return;
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  for (auto& c : Certificate::certificatesWithPEM(text.str())) s.anchors.push_back(c);
}

X509_STORE* newStore(const std::vector<ns::Ref<Certificate>>& anchors, bool withSystem) {
  X509_STORE* store = X509_STORE_new();
  if (!store) return nullptr;
  if (withSystem) X509_STORE_set_default_paths(store);
  for (const auto& a : anchors) X509_STORE_add_cert(store, a->impl().x509.get());
  ERR_clear_error();  // duplicates and missing system files are not errors here
  return store;
}

// A store with the shared store's certificates plus `anchors`, without reading the system's
// files again.
X509_STORE* extendedStore(X509_STORE* shared, const std::vector<ns::Ref<Certificate>>& anchors) {
  X509_STORE* store = X509_STORE_new();
  if (!store) return nullptr;
  if (STACK_OF(X509)* all = shared ? X509_STORE_get1_all_certs(shared) : nullptr) {
    for (int i = 0; i < sk_X509_num(all); ++i) X509_STORE_add_cert(store, sk_X509_value(all, i));
    sk_X509_pop_free(all, X509_free);
  }
  // Authorities installed as single files in the hashed folder are still found there.
  if (X509_LOOKUP* dir = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir()))
    X509_LOOKUP_add_dir(dir, nullptr, X509_FILETYPE_DEFAULT);
  for (const auto& a : anchors) X509_STORE_add_cert(store, a->impl().x509.get());
  ERR_clear_error();
  return store;
}

bool isIPAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

X509_STORE* sharedTrustStore() {
  StoreState& s = state();
  std::lock_guard lock(s.mutex);
  readEnvironmentAnchors(s);
  if (!s.store) s.store = newStore(s.anchors, true);
  if (s.store) X509_STORE_up_ref(s.store);
  return s.store;
}

void Trust::addProcessAnchorCertificate(ns::Ref<Certificate> certificate) {
  if (!certificate) return;
  StoreState& s = state();
  std::lock_guard lock(s.mutex);
  readEnvironmentAnchors(s);
  s.anchors.push_back(std::move(certificate));
  if (s.store) X509_STORE_free(s.store);
  s.store = nullptr;
}

void Trust::removeProcessAnchorCertificates() {
  StoreState& s = state();
  std::lock_guard lock(s.mutex);
  s.environmentRead = true;
  s.anchors.clear();
  if (s.store) X509_STORE_free(s.store);
  s.store = nullptr;
}

std::vector<ns::Ref<Certificate>> Trust::processAnchorCertificates() {
  StoreState& s = state();
  std::lock_guard lock(s.mutex);
  readEnvironmentAnchors(s);
  return s.anchors;
}

Trust::Trust(std::vector<ns::Ref<Certificate>> chain, std::optional<std::string> hostName)
    : chain_(std::move(chain)), hostName_(std::move(hostName)) {}

ns::Ref<Certificate> Trust::certificateAtIndex(std::size_t index) const {
  return index < chain_.size() ? chain_[index] : nullptr;
}

void Trust::setAnchorCertificates(std::vector<ns::Ref<Certificate>> anchors, bool onlyThese) {
  anchors_ = std::move(anchors);
  anchorsOnly_ = onlyThese;
}

namespace {

struct Verdict {
  SecTrustResultType result = kSecTrustResultInvalid;
  std::string reason;
};

}  // namespace

static Verdict verify(const std::vector<ns::Ref<Certificate>>& chain, const std::optional<std::string>& host,
                      const std::vector<ns::Ref<Certificate>>& anchors, bool anchorsOnly,
                      std::optional<double> when) {
  Verdict v;
  X509_STORE* store = nullptr;
  if (anchors.empty() && !anchorsOnly) {
    store = sharedTrustStore();
  } else if (anchorsOnly) {
    store = newStore(anchors, false);
  } else {
    X509_STORE* shared = sharedTrustStore();  // holds the process's anchors already
    store = extendedStore(shared, anchors);
    if (shared) X509_STORE_free(shared);
  }
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  STACK_OF(X509)* untrusted = sk_X509_new_null();
  for (std::size_t i = 1; i < chain.size(); ++i)
    if (untrusted && chain[i]) sk_X509_push(untrusted, chain[i]->impl().x509.get());
  bool ok = store && ctx && untrusted &&
            X509_STORE_CTX_init(ctx, store, chain.front()->impl().x509.get(), untrusted) == 1;
  if (ok) {
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
    X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER);
    // A name the verifier refuses (an embedded NUL) would otherwise leave the name unchecked,
    // and one with a leading dot would stand for every name below it.
    bool nameSet = !host || host->empty() || host->front() != '.';
    if (nameSet && host && !host->empty()) {
      nameSet = isIPAddress(*host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host->c_str()) == 1
                                   : X509_VERIFY_PARAM_set1_host(param, host->c_str(), host->size()) == 1;
    }
    if (when) X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(*when));
    if (!nameSet) {
      v.result = kSecTrustResultRecoverableTrustFailure;
      v.reason = X509_verify_cert_error_string(X509_V_ERR_HOSTNAME_MISMATCH);
    } else if (X509_verify_cert(ctx) == 1) {
      v.result = kSecTrustResultUnspecified;
    } else {
      int error = X509_STORE_CTX_get_error(ctx);
      v.reason = X509_verify_cert_error_string(error);
      bool fatal = error == X509_V_ERR_CERT_SIGNATURE_FAILURE || error == X509_V_ERR_CERT_REVOKED ||
                   error == X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY;
      v.result = fatal ? kSecTrustResultFatalTrustFailure : kSecTrustResultRecoverableTrustFailure;
    }
  } else {
    v.result = kSecTrustResultOtherError;
    v.reason = "the chain could not be checked: " + openSSLErrors();
  }
  ERR_clear_error();
  if (untrusted) sk_X509_free(untrusted);
  if (ctx) X509_STORE_CTX_free(ctx);
  if (store) X509_STORE_free(store);
  return v;
}

OSStatus Trust::evaluate(SecTrustResultType* result) const {
  if (result) *result = kSecTrustResultInvalid;
  if (chain_.empty() || !chain_.front()) return errSecParam;
  Verdict v = verify(chain_, hostName_, anchors_, anchorsOnly_, verifyDate_);
  if (result) *result = v.result;
  return errSecSuccess;
}

bool Trust::evaluateWithError(ns::Error* error) const {
  if (chain_.empty() || !chain_.front()) {
    ns::setError(error, ns::Error::withDescription(ns::NSOSStatusErrorDomain, errSecParam,
                                                   "No certificate to evaluate."));
    return false;
  }
  Verdict v = verify(chain_, hostName_, anchors_, anchorsOnly_, verifyDate_);
  bool trusted = v.result == kSecTrustResultUnspecified || v.result == kSecTrustResultProceed;
  if (!trusted && error) {
    std::string subject = chain_.front()->subjectSummary();
    *error =
        ns::Error::withDescription(ns::NSOSStatusErrorDomain, errSecNotTrusted,
                                   "\u201c" + subject + "\u201d certificate is not trusted: " + v.reason);
  }
  return trusted;
}

}  // namespace sec
