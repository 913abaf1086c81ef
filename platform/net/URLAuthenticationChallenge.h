#pragma once
// Authentication challenges a URL connection hands its delegate: server trust (a certificate the
// loader cannot verify) and HTTP basic/digest credentials. The delegate answers through the
// challenge's sender, once, from any thread.
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/net/URLResponse.h"

namespace ns {

inline constexpr char URLAuthenticationMethodDefault[] = "NSURLAuthenticationMethodDefault";
inline constexpr char URLAuthenticationMethodHTTPBasic[] = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr char URLAuthenticationMethodHTTPDigest[] = "NSURLAuthenticationMethodHTTPDigest";
inline constexpr char URLAuthenticationMethodServerTrust[] = "NSURLAuthenticationMethodServerTrust";

enum URLCredentialPersistence : unsigned {
  URLCredentialPersistenceNone = 0,
  URLCredentialPersistenceForSession = 1,
  URLCredentialPersistencePermanent = 2,
};

class URLCredential : public Object {
 public:
  URLCredential(std::string user, std::string password, URLCredentialPersistence persistence)
      : user_(std::move(user)), password_(std::move(password)), persistence_(persistence) {}
  static Ref<URLCredential> credentialWithUser_password_persistence(std::string user, std::string password,
                                                                    URLCredentialPersistence persistence) {
    return make<URLCredential>(std::move(user), std::move(password), persistence);
  }
  // Accepts the server's certificate for this connection.
  static Ref<URLCredential> credentialForTrust();

  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  bool hasPassword() const { return !password_.empty(); }
  bool isTrust() const { return trust_; }
  URLCredentialPersistence persistence() const { return persistence_; }
  std::string className() const override { return "NSURLCredential"; }

 private:
  std::string user_;
  std::string password_;
  URLCredentialPersistence persistence_;
  bool trust_ = false;
};

class URLProtectionSpace : public Object {
 public:
  URLProtectionSpace(std::string host, int port, std::string protocol, std::optional<std::string> realm,
                     std::string authenticationMethod, bool isProxy = false)
      : host_(std::move(host)),
        port_(port),
        protocol_(std::move(protocol)),
        realm_(std::move(realm)),
        method_(std::move(authenticationMethod)),
        isProxy_(isProxy) {}
  const std::string& host() const { return host_; }
  int port() const { return port_; }
  const std::string& protocol() const { return protocol_; }
  const std::optional<std::string>& realm() const { return realm_; }
  const std::string& authenticationMethod() const { return method_; }
  bool isProxy() const { return isProxy_; }
  bool receivesCredentialSecurely() const {
    return protocol_ == "https" || method_ == URLAuthenticationMethodHTTPDigest;
  }
  std::string className() const override { return "NSURLProtectionSpace"; }

 private:
  std::string host_;
  int port_;
  std::string protocol_;
  std::optional<std::string> realm_;
  std::string method_;
  bool isProxy_;
};

class URLAuthenticationChallenge;

class URLAuthenticationChallengeSender {
 public:
  virtual ~URLAuthenticationChallengeSender() = default;
  virtual void useCredential_forAuthenticationChallenge(const Ref<URLCredential>& credential,
                                                        const Ref<URLAuthenticationChallenge>& challenge) = 0;
  virtual void continueWithoutCredentialForAuthenticationChallenge(
      const Ref<URLAuthenticationChallenge>& challenge) = 0;
  virtual void cancelAuthenticationChallenge(const Ref<URLAuthenticationChallenge>& challenge) = 0;
  virtual void performDefaultHandlingForAuthenticationChallenge(
      const Ref<URLAuthenticationChallenge>& challenge) = 0;
  virtual void rejectProtectionSpaceAndContinueWithChallenge(
      const Ref<URLAuthenticationChallenge>& challenge) = 0;
};

class URLAuthenticationChallenge : public Object {
 public:
  URLAuthenticationChallenge(Ref<URLProtectionSpace> space, Ref<URLCredential> proposedCredential,
                             long previousFailureCount, Ref<URLResponse> failureResponse,
                             std::optional<Error> error,
                             std::weak_ptr<URLAuthenticationChallengeSender> sender)
      : space_(std::move(space)),
        proposed_(std::move(proposedCredential)),
        failures_(previousFailureCount),
        failureResponse_(std::move(failureResponse)),
        error_(std::move(error)),
        sender_(std::move(sender)) {}

  const Ref<URLProtectionSpace>& protectionSpace() const { return space_; }
  const Ref<URLCredential>& proposedCredential() const { return proposed_; }
  long previousFailureCount() const { return failures_; }
  const Ref<URLResponse>& failureResponse() const { return failureResponse_; }
  const std::optional<Error>& error() const { return error_; }
  std::shared_ptr<URLAuthenticationChallengeSender> sender() const { return sender_.lock(); }
  std::string className() const override { return "NSURLAuthenticationChallenge"; }

 private:
  Ref<URLProtectionSpace> space_;
  Ref<URLCredential> proposed_;
  long failures_;
  Ref<URLResponse> failureResponse_;
  std::optional<Error> error_;
  std::weak_ptr<URLAuthenticationChallengeSender> sender_;
};

}  // namespace ns
