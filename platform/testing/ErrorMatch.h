#pragma once
// Checks an error's domain and code in one assertion, naming what came instead:
//
//   ASSERT_TRUE(pltest::isError(outcome.error, NetHTTPStatusErrorDomain, 404));
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/core/Error.h"

namespace pltest {

inline testing::AssertionResult isError(const ns::Error& error, const std::string& domain, long code) {
  if (error.domain() == domain && error.code() == code) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "expected " << domain << " " << code << ", got " << error.domain()
                                     << " " << error.code() << " (" << error.localizedDescription() << ")";
}

inline testing::AssertionResult isError(const std::optional<ns::Error>& error, const std::string& domain,
                                        long code) {
  if (!error) return testing::AssertionFailure() << "expected " << domain << " " << code << ", got no error";
  return isError(*error, domain, code);
}

}  // namespace pltest
