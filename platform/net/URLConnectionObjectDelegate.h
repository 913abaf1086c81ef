#pragma once
// An object of the runtime as a URL connection's delegate: each callback becomes a message sent
// through the runtime, and only when the object responds to it (its absence means the platform's
// default). The connection's runtime accessors "delegate" and "setDelegate:" (class
// "NSURLConnection") answer and install such objects, so delegate accessors can be exchanged and
// dynamic delegates answer with closures. The protocols "NSURLConnectionDelegate",
// "NSURLConnectionDataDelegate" and "BlockURLConnectionInformalDelegate" are declared with their
// methods' encodings.
#include "platform/core/Object.h"
#include "platform/net/URLConnection.h"

namespace ns {

class URLConnectionObjectDelegate : public URLConnectionDelegate {
 public:
  explicit URLConnectionObjectDelegate(Ref<Object> object) : object_(std::move(object)) {}
  const Ref<Object>& object() const { return object_; }

  Ref<URLRequest> connection_willSendRequest_redirectResponse(
      const Ref<URLConnection>& connection, const Ref<URLRequest>& request,
      const Ref<URLResponse>& redirectResponse) override;
  void connection_willSendRequestForAuthenticationChallenge(
      const Ref<URLConnection>& connection, const Ref<URLAuthenticationChallenge>& challenge) override;
  void connection_didReceiveResponse(const Ref<URLConnection>& connection,
                                     const Ref<URLResponse>& response) override;
  void connection_didReceiveData(const Ref<URLConnection>& connection, const Data& data) override;
  void connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
      const Ref<URLConnection>& connection, long bytesWritten, long totalBytesWritten,
      long totalBytesExpectedToWrite) override;
  void connectionDidFinishLoading(const Ref<URLConnection>& connection) override;
  void connection_didFailWithError(const Ref<URLConnection>& connection, const Error& error) override;

 private:
  Ref<Object> object_;  // kept, like any delegate, until the connection ends
};

// The object behind a connection's delegate (null when there is none or it is a C++ delegate),
// and installing one; both go through the runtime accessors, so exchanged accessors are seen.
Ref<Object> URLConnectionObjectDelegateOf(const Ref<URLConnection>& connection);
void URLConnectionSetObjectDelegate(const Ref<URLConnection>& connection, const Ref<Object>& delegate);

}  // namespace ns
