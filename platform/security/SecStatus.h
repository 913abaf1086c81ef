#pragma once
// Status codes of the security layer. They are the numbers the platform's digest, cipher,
// keychain and TLS calls answer with, so that stored logs, error user info and callers that
// compare against them keep working unchanged.
#include <cstdint>

namespace sec {

using OSStatus = std::int32_t;

inline constexpr OSStatus noErr = 0;
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecParam = -50;  // also paramErr
inline constexpr OSStatus paramErr = -50;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecAllocate = -108;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecDecode = -26275;  // the store's file cannot be read back
inline constexpr OSStatus errSecNotTrusted = -67843;

// TLS (the "kCFStreamErrorDomainSSL" error domain).
inline constexpr OSStatus errSSLProtocol = -9800;
inline constexpr OSStatus errSSLNegotiation = -9801;
inline constexpr OSStatus errSSLFatalAlert = -9802;
inline constexpr OSStatus errSSLWouldBlock = -9803;
inline constexpr OSStatus errSSLSessionNotFound = -9804;
inline constexpr OSStatus errSSLClosedGraceful = -9805;
inline constexpr OSStatus errSSLClosedAbort = -9806;
inline constexpr OSStatus errSSLXCertChainInvalid = -9807;
inline constexpr OSStatus errSSLBadCert = -9808;
inline constexpr OSStatus errSSLCrypto = -9809;
inline constexpr OSStatus errSSLInternal = -9810;
inline constexpr OSStatus errSSLUnknownRootCert = -9812;
inline constexpr OSStatus errSSLNoRootCert = -9813;
inline constexpr OSStatus errSSLCertExpired = -9814;
inline constexpr OSStatus errSSLCertNotYetValid = -9815;
inline constexpr OSStatus errSSLClosedNoNotify = -9816;
inline constexpr OSStatus errSSLBufferOverflow = -9817;
inline constexpr OSStatus errSSLBadCipherSuite = -9818;
inline constexpr OSStatus errSSLPeerUnexpectedMsg = -9819;
inline constexpr OSStatus errSSLPeerBadRecordMac = -9820;
inline constexpr OSStatus errSSLPeerHandshakeFail = -9824;
inline constexpr OSStatus errSSLPeerBadCert = -9825;
inline constexpr OSStatus errSSLPeerUnsupportedCert = -9826;
inline constexpr OSStatus errSSLPeerCertRevoked = -9827;
inline constexpr OSStatus errSSLPeerCertExpired = -9828;
inline constexpr OSStatus errSSLPeerCertUnknown = -9829;
inline constexpr OSStatus errSSLIllegalParam = -9830;
inline constexpr OSStatus errSSLPeerUnknownCA = -9831;
inline constexpr OSStatus errSSLPeerAccessDenied = -9832;
inline constexpr OSStatus errSSLPeerDecodeError = -9833;
inline constexpr OSStatus errSSLPeerDecryptError = -9834;
inline constexpr OSStatus errSSLPeerProtocolVersion = -9836;
inline constexpr OSStatus errSSLPeerInsufficientSecurity = -9837;
inline constexpr OSStatus errSSLPeerInternalError = -9838;
inline constexpr OSStatus errSSLPeerAuthCompleted = -9841;
inline constexpr OSStatus errSSLHostNameMismatch = -9843;
inline constexpr OSStatus errSSLBadConfiguration = -9848;

}  // namespace sec
