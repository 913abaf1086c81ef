#pragma once
// The account's Data API service is the process's, and the identity provider's and the Data
// API's host names lead to whichever test's fakes serve them at the moment. A call a test leaves
// running (a token refresh that a sign-out does not stop, a list's load) retries once that test's
// fakes are gone, and lands on the next test's. A test that signs in lets them end first.
#include "app/library/AccountSession.h"
#include "lib/google/ApiServiceYouTube.h"
#include "platform/testing/Pump.h"

namespace testsupport {

// Runs the run loop until the account service runs no call; answers whether it came to that.
inline bool finishAccountServiceCalls(double timeoutSeconds = 60) {
  auto service = AccountSession::youTubeService();
  return pltest::pumpUntil([&] { return service->fetcherService()->numberOfFetchers() == 0; },
                           timeoutSeconds);
}

}  // namespace testsupport
