#pragma once
// What the list panes ask of the signed-in account's cache, in one place: saving the list and
// row that play, and the subscriptions. Each call does nothing (or answers NO) while no account
// is signed in. Main thread only.
#include <functional>
#include <string>

#include "platform/core/Object.h"

class SearchEntry;

struct AccountCalls {
  std::function<void()> saveCurrentPlaylist;
  std::function<void(const ns::Ref<SearchEntry>&)> savePlaying;
  // Whether the subscriptions hold the channel's uploads-list id.
  std::function<bool(const std::string&)> isSubscribed;
  std::function<void(const std::string&)> subscribe;
  std::function<void(const std::string&)> unsubscribe;
};

// The installed calls (installBrowseHooks installs the account cache's); answers the previous.
AccountCalls setAccountCalls(AccountCalls calls);
const AccountCalls& accountCalls();
