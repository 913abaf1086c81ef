#pragma once
// The process's one URL-loading engine: a libcurl multi handle driven by one thread that is
// stopped at exit. Internal to the URL connection; curl stays inside URLLoadingEngine.cpp.
#include <memory>

#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLRequest.h"

namespace ns {

class URLConnection;
struct URLLoad;

namespace URLLoadingEngine {

// Makes the load of a connection; nothing happens until beginLoad. `automatic` follows
// redirects and gives challenges the default handling without asking the delegate (the
// synchronous form).
std::shared_ptr<URLLoad> makeLoad(const Ref<URLConnection>& connection, const Ref<URLRequest>& request,
                                  bool automatic);
// Starts it: the will-send-request callback for the request comes first, then the transfer.
void beginLoad(const std::shared_ptr<URLLoad>& load);
// Stops the transfer; no further event is produced.
void cancelLoad(const std::shared_ptr<URLLoad>& load);
enum class ChallengeAnswer { UseCredential, ContinueWithout, Cancel, DefaultHandling, RejectSpace };
void answerChallenge(const std::shared_ptr<URLLoad>& load, const URLAuthenticationChallenge* challenge,
                     ChallengeAnswer answer, const Ref<URLCredential>& credential);
// The request being loaded.
Ref<URLRequest> currentRequest(const std::shared_ptr<URLLoad>& load);
// Transfers held back while their connection had too much body queued look again.
void resumeHeldTransfers();
// What the process's exit does once every later exit handler and static destructor has run: lets
// the engine thread end the pass it is in, then keeps it from doing more, so that it does not work
// inside the libraries while they are torn down. Loads begun after it fail at once with
// URLErrorCancelled. False when the pass did not end within the time.
bool stopForExit(double timeoutSeconds);

}  // namespace URLLoadingEngine
}  // namespace ns
