#include "app/browse/AccountCalls.h"

#include "platform/core/NoDestructor.h"

namespace {

AccountCalls& installed() {
  static ns::NoDestructor<AccountCalls> calls;
  return *calls;
}

}  // namespace

AccountCalls setAccountCalls(AccountCalls calls) {
  std::swap(installed(), calls);
  return calls;
}

const AccountCalls& accountCalls() {
  return installed();
}
