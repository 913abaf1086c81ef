#include "platform/security/SSLContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <array>
#include <map>
#include <mutex>

#include "platform/core/NoDestructor.h"
#include "platform/security/OpenSSLSupport.h"
#include "platform/security/Random.h"
#include "platform/security/TrustStore.h"

namespace sec {

namespace {

constexpr std::size_t kReadChunk = 16 * 1024 + 512;  // one full TLS record and its header

int contextIndex() {
  static int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Client sessions kept for resumption, by peer id.
struct SessionCache {
  std::mutex mutex;
  std::map<std::string, SSL_SESSION*> sessions;
};
SessionCache& sessionCache() {
  static ns::NoDestructor<SessionCache> cache;
  return *cache;
}

// Servers of this process share ticket keys, so that a client can resume with any of them.
const std::array<unsigned char, 80>& ticketKeys() {
  static const std::array<unsigned char, 80> keys = [] {
    std::array<unsigned char, 80> k{};
    SecRandomCopyBytes(kSecRandomDefault, k.size(), k.data());
    return k;
  }();
  return keys;
}

int toOpenSSLVersion(SSLProtocol p) {
  switch (p) {
    case kSSLProtocol3:
      return SSL3_VERSION;
    case kTLSProtocol1:
      return TLS1_VERSION;
    case kTLSProtocol11:
      return TLS1_1_VERSION;
    case kTLSProtocol12:
      return TLS1_2_VERSION;
    case kTLSProtocol13:
      return TLS1_3_VERSION;
    default:
      return -1;
  }
}

SSLProtocol fromOpenSSLVersion(int v) {
  switch (v) {
    case SSL3_VERSION:
      return kSSLProtocol3;
    case TLS1_VERSION:
      return kTLSProtocol1;
    case TLS1_1_VERSION:
      return kTLSProtocol11;
    case TLS1_2_VERSION:
      return kTLSProtocol12;
    case TLS1_3_VERSION:
      return kTLSProtocol13;
    default:
      return kSSLProtocolUnknown;
  }
}

bool isIPAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

OSStatus statusForVerifyError(long error) {
  switch (error) {
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return errSSLHostNameMismatch;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return errSSLCertExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return errSSLCertNotYetValid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      return errSSLUnknownRootCert;
    default:
      return errSSLXCertChainInvalid;
  }
}

// A fatal alert the peer sent us.
OSStatus statusForAlert(int alert) {
  switch (alert) {
    case SSL_AD_UNEXPECTED_MESSAGE:
      return errSSLPeerUnexpectedMsg;
    case SSL_AD_BAD_RECORD_MAC:
      return errSSLPeerBadRecordMac;
    case SSL_AD_HANDSHAKE_FAILURE:
      return errSSLPeerHandshakeFail;
    case SSL_AD_BAD_CERTIFICATE:
      return errSSLPeerBadCert;
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
      return errSSLPeerUnsupportedCert;
    case SSL_AD_CERTIFICATE_REVOKED:
      return errSSLPeerCertRevoked;
    case SSL_AD_CERTIFICATE_EXPIRED:
      return errSSLPeerCertExpired;
    case SSL_AD_CERTIFICATE_UNKNOWN:
      return errSSLPeerCertUnknown;
    case SSL_AD_ILLEGAL_PARAMETER:
      return errSSLIllegalParam;
    case SSL_AD_UNKNOWN_CA:
      return errSSLPeerUnknownCA;
    case SSL_AD_ACCESS_DENIED:
      return errSSLPeerAccessDenied;
    case SSL_AD_DECODE_ERROR:
      return errSSLPeerDecodeError;
    case SSL_AD_DECRYPT_ERROR:
      return errSSLPeerDecryptError;
    case SSL_AD_PROTOCOL_VERSION:
      return errSSLPeerProtocolVersion;
    case SSL_AD_INSUFFICIENT_SECURITY:
      return errSSLPeerInsufficientSecurity;
    case SSL_AD_INTERNAL_ERROR:
      return errSSLPeerInternalError;
    case SSL_AD_CERTIFICATE_REQUIRED:
      return errSSLPeerBadCert;
    default:
      return errSSLFatalAlert;
  }
}

}  // namespace

struct SSLContext::Impl {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;    // transport -> TLS
  BIO* out = nullptr;   // TLS -> transport
  std::string pending;  // encrypted bytes taken from `out` that the transport has not accepted
  std::size_t pendingOffset = 0;
  std::vector<unsigned char> readBuffer = std::vector<unsigned char>(kReadChunk);

  ~Impl() {
    if (ssl) SSL_free(ssl);  // frees both BIOs
    if (ctx) SSL_CTX_free(ctx);
  }

  static SSLContext* owner(SSL* ssl) {
    return static_cast<SSLContext*>(SSL_get_ex_data(ssl, contextIndex()));
  }

  static std::vector<ns::Ref<Certificate>> chainOf(X509_STORE_CTX* store) {
    std::vector<ns::Ref<Certificate>> chain;
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (leaf) chain.push_back(certificateFromX509(leaf));
    STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(store);
    for (int i = 0; sent && i < sk_X509_num(sent); ++i) {
      X509* x = sk_X509_value(sent, i);
      if (x != leaf && (!leaf || X509_cmp(x, leaf) != 0)) chain.push_back(certificateFromX509(x));
    }
    return chain;
  }

  // Replaces the library's chain check: records the peer's chain, stops the handshake for the
  // caller's own decision when asked to, and otherwise verifies against the trusted store.
  static int verify(X509_STORE_CTX* store, void*) {
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    SSLContext* self = ssl ? owner(ssl) : nullptr;
    if (!self) return X509_verify_cert(store);
    auto chain = chainOf(store);
    // A renegotiation: the server the client accepted (perhaps by the caller's own decision,
    // which nobody is asked for again) may not hand the session to another certificate.
    if (self->side_ == kSSLClientSide && self->state_ == kSSLConnected && !self->peerChain_.empty() &&
        !self->options_[kSSLSessionOptionAllowServerIdentityChange] &&
        (chain.empty() || !chain.front()->isEqual(self->peerChain_.front().get()))) {
      X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
      return 0;
    }
    self->peerChain_ = std::move(chain);
    if (self->side_ == kSSLClientSide && self->breakOnServerAuth_) {
      if (!self->authResumed_) {
        self->authBroken_ = true;
        // Suspends the handshake: SSL_do_handshake answers SSL_ERROR_WANT_RETRY_VERIFY.
        SSL_set_retry_verify(ssl);
        return 1;
      }
      // The caller has decided; the library checks only what it was asked to.
      if (!self->certVerify_) return 1;
    }
    return X509_verify_cert(store);
  }

  static int newSession(SSL* ssl, SSL_SESSION* session) {
    SSLContext* self = owner(ssl);
    if (!self || !self->peerID_) return 0;
    SessionCache& cache = sessionCache();
    std::lock_guard lock(cache.mutex);
    // A copy: the library marks the connection's own session unusable when the connection is
    // dropped without a close notification, and a dropped transport should not cost resumption.
    SSL_SESSION* copy = SSL_SESSION_dup(session);
    if (!copy) return 0;
    SSL_SESSION*& slot = cache.sessions[self->sessionKey()];
    if (slot) SSL_SESSION_free(slot);
    slot = copy;
    return 0;
  }
};

SSLContext::SSLContext(SSLProtocolSide side) : side_(side), impl_(std::make_unique<Impl>()) {}
SSLContext::~SSLContext() = default;

ns::Ref<SSLContext> SSLContext::create(SSLProtocolSide side, SSLConnectionType type) {
  if (type != kSSLStreamType || (side != kSSLServerSide && side != kSSLClientSide)) return nullptr;
  auto context = ns::make<SSLContext>(side);
  Impl& impl = *context->impl_;
  impl.ctx = SSL_CTX_new(side == kSSLServerSide ? TLS_server_method() : TLS_client_method());
  if (!impl.ctx) return nullptr;
  SSL_CTX_set_cert_verify_callback(impl.ctx, &Impl::verify, nullptr);
  if (side == kSSLClientSide) {
    SSL_CTX_set_session_cache_mode(impl.ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(impl.ctx, &Impl::newSession);
  } else {
    static const unsigned char sessionContext[] = "Pelorin";
    SSL_CTX_set_session_id_context(impl.ctx, sessionContext, sizeof sessionContext - 1);
    SSL_CTX_set_tlsext_ticket_keys(impl.ctx, const_cast<unsigned char*>(ticketKeys().data()),
                                   ticketKeys().size());
  }
  // Writes may be retried with other buffers: bytes already taken are never given twice.
  SSL_CTX_set_mode(impl.ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER | SSL_MODE_ENABLE_PARTIAL_WRITE);
  impl.ssl = SSL_new(impl.ctx);
  impl.in = BIO_new(BIO_s_mem());
  impl.out = BIO_new(BIO_s_mem());
  if (!impl.ssl || !impl.in || !impl.out) {
    BIO_free(impl.in);
    BIO_free(impl.out);
    impl.in = impl.out = nullptr;
    return nullptr;
  }
  BIO_set_mem_eof_return(impl.in, -1);  // an empty input means "no bytes yet", not the end
  SSL_set_bio(impl.ssl, impl.in, impl.out);
  SSL_set_ex_data(impl.ssl, contextIndex(), context.get());
  SSL_set_verify(impl.ssl, side == kSSLClientSide ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  if (side == kSSLClientSide)
    SSL_set_connect_state(impl.ssl);
  else
    SSL_set_accept_state(impl.ssl);
  return context;
}

OSStatus SSLContext::setIOFuncs(SSLReadFunc read, SSLWriteFunc write) {
  if (!read || !write) return paramErr;
  readFn_ = read;
  writeFn_ = write;
  read_ = nullptr;
  write_ = nullptr;
  return noErr;
}

OSStatus SSLContext::setConnection(SSLConnectionRef connection) {
  connection_ = connection;
  return noErr;
}

OSStatus SSLContext::setIOFuncs(std::function<OSStatus(void*, std::size_t*)> read,
                                std::function<OSStatus(const void*, std::size_t*)> write) {
  if (!read || !write) return paramErr;
  read_ = std::move(read);
  write_ = std::move(write);
  readFn_ = nullptr;
  writeFn_ = nullptr;
  return noErr;
}

OSStatus SSLContext::setPeerDomainName(const std::string& name) {
  if (prepared_) return errSSLBadConfiguration;
  // The verifier would take a leading dot as "any name below this one".
  if (name.find('\0') != std::string::npos || (!name.empty() && name.front() == '.')) return paramErr;
  if (name.empty())
    peerName_.reset();
  else
    peerName_ = name;
  return noErr;
}

OSStatus SSLContext::setCertificate(ns::Ref<Identity> identity, std::vector<ns::Ref<Certificate>> extra) {
  if (!identity) return paramErr;
  SSL* ssl = impl_->ssl;
  if (SSL_use_certificate(ssl, identity->certificate()->impl().x509.get()) != 1 ||
      SSL_use_PrivateKey(ssl, identity->impl().key.get()) != 1 || SSL_check_private_key(ssl) != 1) {
    ERR_clear_error();
    return errSSLBadCert;
  }
  SSL_clear_chain_certs(ssl);
  for (const auto& c : identity->chain()) SSL_add1_chain_cert(ssl, c->impl().x509.get());
  for (const auto& c : extra)
    if (c) SSL_add1_chain_cert(ssl, c->impl().x509.get());
  return noErr;
}

OSStatus SSLContext::setPeerID(const std::string& peerID) {
  if (prepared_) return errSSLBadConfiguration;
  if (peerID.empty())
    peerID_.reset();
  else
    peerID_ = peerID;
  return noErr;
}

OSStatus SSLContext::setProtocolVersionMin(SSLProtocol version) {
  if (prepared_) return errSSLBadConfiguration;
  int v = version == kTLSProtocolMaxSupported ? TLS1_3_VERSION : toOpenSSLVersion(version);
  if (v < 0 || SSL_set_min_proto_version(impl_->ssl, v) != 1) return paramErr;
  minVersion_ = version;
  return noErr;
}

OSStatus SSLContext::setProtocolVersionMax(SSLProtocol version) {
  if (prepared_) return errSSLBadConfiguration;
  int v = version == kTLSProtocolMaxSupported ? 0 : toOpenSSLVersion(version);
  if (v < 0 || SSL_set_max_proto_version(impl_->ssl, v) != 1) return paramErr;
  maxVersion_ = version;
  return noErr;
}

OSStatus SSLContext::getProtocolVersionMin(SSLProtocol* version) const {
  if (!version) return paramErr;
  *version = minVersion_ != kSSLProtocolUnknown ? minVersion_
                                                : fromOpenSSLVersion(SSL_get_min_proto_version(impl_->ssl));
  if (*version == kSSLProtocolUnknown) *version = kTLSProtocol1;
  return noErr;
}

OSStatus SSLContext::getProtocolVersionMax(SSLProtocol* version) const {
  if (!version) return paramErr;
  *version = maxVersion_ != kSSLProtocolUnknown ? maxVersion_
                                                : fromOpenSSLVersion(SSL_get_max_proto_version(impl_->ssl));
  if (*version == kSSLProtocolUnknown) *version = kTLSProtocol13;
  return noErr;
}

OSStatus SSLContext::setSessionOption(SSLSessionOption option, bool value) {
  if (option < 0 || option > kSSLSessionOptionEnableSessionTickets) return paramErr;
  if (prepared_) return errSSLBadConfiguration;
  options_[option] = value;
  if (option == kSSLSessionOptionBreakOnServerAuth) breakOnServerAuth_ = value;
  // False start and one-byte records have no counterpart in the library's TLS 1.2/1.3: taking
  // them changes nothing on the wire, which is what the peer would see from an up-to-date stack.
  return noErr;
}

OSStatus SSLContext::getSessionOption(SSLSessionOption option, bool* value) const {
  if (option < 0 || option > kSSLSessionOptionEnableSessionTickets || !value) return paramErr;
  *value = options_[option];
  return noErr;
}

OSStatus SSLContext::setEnableCertVerify(bool enable) {
  if (prepared_) return errSSLBadConfiguration;
  certVerify_ = enable;
  return noErr;
}

OSStatus SSLContext::setEnabledCiphers(const std::vector<SSLCipherSuite>& ciphers) {
  if (prepared_) return errSSLBadConfiguration;
  std::string tls12, tls13;
  for (SSLCipherSuite suite : ciphers) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(suite >> 8),
                                    static_cast<unsigned char>(suite & 0xFF)};
    const SSL_CIPHER* cipher = SSL_CIPHER_find(impl_->ssl, bytes);
    if (!cipher) continue;
    std::string& list = (suite >> 8) == 0x13 ? tls13 : tls12;
    if (!list.empty()) list += ':';
    list += SSL_CIPHER_get_name(cipher);
  }
  if (tls12.empty() && tls13.empty()) return errSSLBadCipherSuite;
  if (!tls12.empty() && SSL_set_cipher_list(impl_->ssl, tls12.c_str()) != 1) {
    ERR_clear_error();
    return errSSLBadCipherSuite;
  }
  if (SSL_set_ciphersuites(impl_->ssl, tls13.c_str()) != 1) {
    ERR_clear_error();
    return errSSLBadCipherSuite;
  }
  // Only TLS 1.3 suites: no TLS 1.2 suite may be chosen either.
  if (tls12.empty() && SSL_set_min_proto_version(impl_->ssl, TLS1_3_VERSION) != 1)
    return errSSLBadCipherSuite;
  if (tls13.empty() && SSL_set_max_proto_version(impl_->ssl, TLS1_2_VERSION) != 1)
    return errSSLBadCipherSuite;
  return noErr;
}

std::vector<SSLCipherSuite> SSLContext::supportedCiphers() const {
  std::vector<SSLCipherSuite> out;
  STACK_OF(SSL_CIPHER)* list = SSL_get1_supported_ciphers(impl_->ssl);
  for (int i = 0; list && i < sk_SSL_CIPHER_num(list); ++i)
    out.push_back(static_cast<SSLCipherSuite>(SSL_CIPHER_get_protocol_id(sk_SSL_CIPHER_value(list, i))));
  sk_SSL_CIPHER_free(list);
  return out;
}

OSStatus SSLContext::setDiffieHellmanParams(const std::string& der) {
  if (prepared_) return errSSLBadConfiguration;
  if (der.empty() || der.size() > 1 << 16) return paramErr;
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  EVP_PKEY* params = d2i_KeyParams(EVP_PKEY_DH, nullptr, &p, static_cast<long>(der.size()));
  if (!params) {
    ERR_clear_error();
    return paramErr;
  }
  if (SSL_set0_tmp_dh_pkey(impl_->ssl, params) != 1) {  // takes the key on success
    EVP_PKEY_free(params);
    ERR_clear_error();
    return paramErr;
  }
  return noErr;
}

OSStatus SSLContext::setClientSideAuthenticate(SSLAuthenticate auth) {
  if (side_ != kSSLServerSide) return paramErr;
  int mode = auth == kAlwaysAuthenticate ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT
             : auth == kTryAuthenticate  ? SSL_VERIFY_PEER
                                         : SSL_VERIFY_NONE;
  SSL_set_verify(impl_->ssl, mode, nullptr);
  return noErr;
}

// A resumed session brings no certificate to check: it may only be offered to a connection
// that would have accepted the one it was made on, so the peer id alone is not the key.
std::string SSLContext::sessionKey() const {
  std::string key = *peerID_;
  key += '\0';
  key += peerName_.value_or("");
  key += '\0';
  key += certVerify_ ? 'v' : '-';
  key += breakOnServerAuth_ ? 'b' : '-';
  return key;
}

// Applies the settings that must be known when the first flight is built.
OSStatus SSLContext::prepare() {
  if (prepared_) return noErr;
  if (!readFn_ && !read_) return paramErr;
  SSL* ssl = impl_->ssl;
  // The authorities as they are now: ones added after the context was made count too.
  if (X509_STORE* store = sharedTrustStore()) {
    SSL_CTX_set1_cert_store(impl_->ctx, store);
    X509_STORE_free(store);
  }
  if (side_ == kSSLClientSide) {
    if (!certVerify_ && !breakOnServerAuth_) SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    if (peerName_) {
      if (certVerify_) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        if (isIPAddress(*peerName_))
          X509_VERIFY_PARAM_set1_ip_asc(param, peerName_->c_str());
        else
          X509_VERIFY_PARAM_set1_host(param, peerName_->c_str(), peerName_->size());
      }
      if (!isIPAddress(*peerName_)) SSL_set_tlsext_host_name(ssl, peerName_->c_str());
    }
    if (peerID_) {
      SessionCache& cache = sessionCache();
      std::lock_guard lock(cache.mutex);
      auto it = cache.sessions.find(sessionKey());
      if (it != cache.sessions.end()) SSL_set_session(ssl, it->second);
    }
  }
  ERR_clear_error();
  prepared_ = true;
  state_ = kSSLHandshake;
  return noErr;
}

// Hands encrypted bytes to the transport until it stops taking them.
OSStatus SSLContext::pumpOut() {
  Impl& impl = *impl_;
  for (;;) {
    if (impl.pendingOffset >= impl.pending.size()) {
      impl.pending.clear();
      impl.pendingOffset = 0;
      std::size_t available = BIO_ctrl_pending(impl.out);
      if (available == 0) return noErr;
      impl.pending.resize(available);
      int n = BIO_read(impl.out, impl.pending.data(), static_cast<int>(available));
      impl.pending.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
      if (impl.pending.empty()) return noErr;
    }
    std::size_t length = impl.pending.size() - impl.pendingOffset;
    const char* data = impl.pending.data() + impl.pendingOffset;
    OSStatus status = writeFn_ ? writeFn_(connection_, data, &length)
                      : write_ ? write_(data, &length)
                               : paramErr;
    if (length > impl.pending.size() - impl.pendingOffset) length = impl.pending.size() - impl.pendingOffset;
    impl.pendingOffset += length;
    if (status == errSSLWouldBlock) {
      if (impl.pendingOffset < impl.pending.size()) return errSSLWouldBlock;
      continue;
    }
    if (status != noErr) return status;
  }
}

// Takes what the transport has into the TLS input. *gotBytes tells whether any came.
OSStatus SSLContext::pullIn(bool* gotBytes) {
  *gotBytes = false;
  if (readEnd_ != noErr) return readEnd_;
  Impl& impl = *impl_;
  std::size_t length = impl.readBuffer.size();
  OSStatus status = readFn_ ? readFn_(connection_, impl.readBuffer.data(), &length)
                    : read_ ? read_(impl.readBuffer.data(), &length)
                            : paramErr;
  if (length > impl.readBuffer.size()) length = impl.readBuffer.size();
  if (length > 0) {
    BIO_write(impl.in, impl.readBuffer.data(), static_cast<int>(length));
    *gotBytes = true;
  }
  if (status != noErr && status != errSSLWouldBlock) {
    readEnd_ = status;  // reported once the bytes that came with it are used up
    return *gotBytes ? noErr : status;
  }
  return *gotBytes ? noErr : errSSLWouldBlock;
}

// The status of a failed library call.
OSStatus SSLContext::failure(int sslResult) {
  SSL* ssl = impl_->ssl;
  int error = SSL_get_error(ssl, sslResult);
  if (error == SSL_ERROR_ZERO_RETURN) {
    peerClosed_ = true;
    return errSSLClosedGraceful;
  }
  OSStatus status = errSSLProtocol;
  long verifyResult = SSL_get_verify_result(ssl);
  unsigned long e = ERR_peek_error();
  int reason = e ? ERR_GET_REASON(e) : 0;
  if (side_ == kSSLClientSide && verifyResult != X509_V_OK && SSL_get_verify_mode(ssl) != SSL_VERIFY_NONE &&
      reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
    status = statusForVerifyError(verifyResult);
  } else if (side_ == kSSLServerSide && reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
    status = errSSLXCertChainInvalid;
  } else if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256) {
    status = statusForAlert(reason - SSL_AD_REASON_OFFSET);
  } else if (reason == SSL_R_NO_SHARED_CIPHER || reason == SSL_R_NO_CIPHERS_AVAILABLE ||
             reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_NO_PROTOCOLS_AVAILABLE ||
             reason == SSL_R_WRONG_VERSION_NUMBER) {
    status = errSSLNegotiation;
  } else if (reason == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE) {
    status = errSSLXCertChainInvalid;
  } else if (error == SSL_ERROR_SYSCALL ||
             (error == SSL_ERROR_SSL && reason == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
    status = errSSLClosedAbort;
  }
  ERR_clear_error();
  pumpOut();  // let the alert reach the peer
  state_ = kSSLAborted;
  return status;
}

OSStatus SSLContext::handshake() {
  if (state_ == kSSLConnected) return noErr;
  if (state_ == kSSLClosed) return errSSLClosedGraceful;
  if (state_ == kSSLAborted) return errSSLClosedAbort;
  if (OSStatus s = prepare(); s != noErr) return s;
  if (authBroken_) {
    authBroken_ = false;
    authResumed_ = true;  // called again after the break: the caller trusts the peer
  }
  SSL* ssl = impl_->ssl;
  for (;;) {
    OSStatus out = pumpOut();
    if (out != noErr) return out;
    ERR_clear_error();
    int r = SSL_do_handshake(ssl);
    if (r == 1) {
      if (peerChain_.empty()) peerChain_ = peerCertificates();
      state_ = kSSLConnected;
      // The last flight may still be on its way; the next read or write sends the rest.
      OSStatus flushed = pumpOut();
      return flushed == errSSLWouldBlock ? noErr : flushed;
    }
    int error = SSL_get_error(ssl, r);
    if (error == SSL_ERROR_WANT_RETRY_VERIFY) {
      OSStatus flushed = pumpOut();
      if (flushed != noErr && flushed != errSSLWouldBlock) return flushed;
      return errSSLPeerAuthCompleted;
    }
    if (error == SSL_ERROR_WANT_WRITE) continue;
    if (error == SSL_ERROR_WANT_READ) {
      OSStatus flushed = pumpOut();
      if (flushed != noErr) return flushed;
      bool got = false;
      OSStatus in = pullIn(&got);
      if (got) continue;
      if (in != errSSLWouldBlock) state_ = kSSLAborted;
      return in;
    }
    return failure(r);
  }
}

OSStatus SSLContext::read(void* data, std::size_t length, std::size_t* processed) {
  if (processed) *processed = 0;
  if (!data && length > 0) return paramErr;
  if (state_ != kSSLConnected) {
    if (state_ == kSSLClosed || peerClosed_) return errSSLClosedGraceful;
    if (authBroken_) return errSSLPeerAuthCompleted;  // only handshake() says the peer is trusted
    OSStatus s = handshake();
    if (s != noErr) return s;
  }
  if (peerClosed_) return errSSLClosedGraceful;
  SSL* ssl = impl_->ssl;
  auto* bytes = static_cast<unsigned char*>(data);
  std::size_t got = 0;
  // Sends whatever the library has queued (post-handshake messages) without waiting for it.
  auto flush = [&] {
    OSStatus s = pumpOut();
    return s == errSSLWouldBlock ? noErr : s;
  };
  while (got < length) {
    std::size_t n = 0;
    ERR_clear_error();
    int r = SSL_read_ex(ssl, bytes + got, length - got, &n);
    if (r == 1) {
      got += n;
      continue;
    }
    int error = SSL_get_error(ssl, r);
    if (error == SSL_ERROR_WANT_READ) {
      if (OSStatus s = flush(); s != noErr) {
        if (processed) *processed = got;
        return got ? noErr : s;
      }
      if (got > 0) break;  // a short count is a success
      bool more = false;
      OSStatus in = pullIn(&more);
      if (more) continue;
      if (in != errSSLWouldBlock) state_ = kSSLAborted;
      return in;
    }
    if (error == SSL_ERROR_WANT_WRITE) continue;
    if (got > 0) {
      // Report the failure on the next call; the bytes before it are delivered now.
      if (error == SSL_ERROR_ZERO_RETURN)
        peerClosed_ = true;
      else
        ERR_clear_error();
      break;
    }
    return failure(r);
  }
  if (processed) *processed = got;
  flush();
  return noErr;
}

OSStatus SSLContext::write(const void* data, std::size_t length, std::size_t* processed) {
  if (processed) *processed = 0;
  if (!data && length > 0) return paramErr;
  if (state_ != kSSLConnected) {
    if (state_ == kSSLClosed) return errSSLClosedGraceful;
    if (authBroken_) return errSSLPeerAuthCompleted;
    OSStatus s = handshake();
    if (s != noErr) return s;
  }
  OSStatus held = pumpOut();
  if (held != noErr) return held;  // earlier bytes still waiting: take nothing new
  if (length == 0) return noErr;
  std::size_t taken = 0;
  while (taken < length) {
    std::size_t n = 0;
    ERR_clear_error();
    int r = SSL_write_ex(impl_->ssl, static_cast<const unsigned char*>(data) + taken, length - taken, &n);
    if (r != 1) {
      int error = SSL_get_error(impl_->ssl, r);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        bool more = false;
        if (error == SSL_ERROR_WANT_READ && (pullIn(&more), more)) continue;
        break;
      }
      return failure(r);
    }
    taken += n;
  }
  OSStatus out = pumpOut();
  if (out == noErr) {
    if (processed) *processed = taken;
    return taken == length ? noErr : errSSLWouldBlock;
  }
  return out;  // would block: the bytes are held and go out with the next call
}

OSStatus SSLContext::close() {
  if (state_ == kSSLClosed) return noErr;
  if (state_ == kSSLConnected) {
    ERR_clear_error();
    SSL_shutdown(impl_->ssl);
    ERR_clear_error();
    pumpOut();
  }
  state_ = kSSLClosed;
  return noErr;
}

OSStatus SSLContext::getBufferedReadSize(std::size_t* size) const {
  if (!size) return paramErr;
  *size = static_cast<std::size_t>(SSL_pending(impl_->ssl)) + BIO_ctrl_pending(impl_->in);
  return noErr;
}

OSStatus SSLContext::getSessionState(SSLSessionState* state) const {
  if (!state) return paramErr;
  *state = state_;
  return noErr;
}

OSStatus SSLContext::getNegotiatedProtocolVersion(SSLProtocol* version) const {
  if (!version) return paramErr;
  *version = state_ == kSSLConnected ? fromOpenSSLVersion(SSL_version(impl_->ssl)) : kSSLProtocolUnknown;
  return noErr;
}

OSStatus SSLContext::getNegotiatedCipher(SSLCipherSuite* cipher) const {
  if (!cipher) return paramErr;
  const SSL_CIPHER* c = state_ == kSSLConnected ? SSL_get_current_cipher(impl_->ssl) : nullptr;
  if (!c) return errSSLBadConfiguration;
  *cipher = static_cast<SSLCipherSuite>(SSL_CIPHER_get_protocol_id(c));
  return noErr;
}

std::vector<ns::Ref<Certificate>> SSLContext::peerCertificates() const {
  if (!peerChain_.empty()) return peerChain_;
  std::vector<ns::Ref<Certificate>> chain;
  X509* leaf = SSL_get0_peer_certificate(impl_->ssl);
  if (leaf) chain.push_back(certificateFromX509(leaf));
  STACK_OF(X509)* sent = SSL_get_peer_cert_chain(impl_->ssl);
  for (int i = 0; sent && i < sk_X509_num(sent); ++i) {
    X509* x = sk_X509_value(sent, i);
    if (!leaf || X509_cmp(x, leaf) != 0) chain.push_back(certificateFromX509(x));
  }
  return chain;
}

OSStatus SSLContext::copyPeerTrust(ns::Ref<Trust>* trust) const {
  if (!trust) return paramErr;
  auto chain = peerCertificates();
  if (chain.empty()) return errSSLBadConfiguration;
  *trust = ns::make<Trust>(std::move(chain), peerName_);
  return noErr;
}

bool SSLContext::sessionWasResumed() const {
  return SSL_session_reused(impl_->ssl) == 1;
}

}  // namespace sec
