#pragma once
// Building and taking apart URLs part by part. The plain accessors answer and take decoded text;
// the percentEncoded ones the text as it stands in the URL.
//
//   ns::URLComponents c;
//   c.setScheme("https"); c.setHost("www.example.test"); c.setPath("/a b");
//   c.setQueryItems({{"q", "x&y"}, {"flag", std::nullopt}});
//   c.string();   // "https://www.example.test/a%20b?q=x%26y&flag"
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/URL.h"

namespace ns {

struct URLQueryItem {
  std::string name;
  std::optional<std::string> value;
  static URLQueryItem queryItemWithName_value(std::string name, std::optional<std::string> value) {
    return URLQueryItem{std::move(name), std::move(value)};
  }
  friend bool operator==(const URLQueryItem&, const URLQueryItem&) = default;
};

class URLComponents {
 public:
  URLComponents() = default;
  // Nothing for text that is not a well-formed URL.
  static std::optional<URLComponents> componentsWithString(std::string_view text);
  static std::optional<URLComponents> componentsWithURL_resolvingAgainstBaseURL(const Ref<ns::URL>& url,
                                                                                bool resolve);

  // The URL of these parts; nullptr when they cannot form one (a path that does not start with
  // "/" after a host, or one that starts with "//" without a host).
  Ref<ns::URL> URL() const;
  Ref<ns::URL> URLRelativeToURL(const Ref<ns::URL>& base) const;
  std::optional<std::string> string() const;

  std::optional<std::string> scheme() const { return parts_.scheme; }
  void setScheme(std::optional<std::string> scheme) { parts_.scheme = std::move(scheme); }
  std::optional<std::string> user() const;
  void setUser(std::optional<std::string> user);
  std::optional<std::string> password() const;
  void setPassword(std::optional<std::string> password);
  std::optional<std::string> host() const;
  void setHost(std::optional<std::string> host);
  std::optional<int> port() const { return parts_.port; }
  void setPort(std::optional<int> port);
  std::string path() const;
  void setPath(std::string_view path);
  std::optional<std::string> query() const;
  void setQuery(std::optional<std::string> query);
  std::optional<std::string> fragment() const;
  void setFragment(std::optional<std::string> fragment);

  std::optional<std::string> percentEncodedUser() const { return parts_.user; }
  std::optional<std::string> percentEncodedPassword() const { return parts_.password; }
  std::optional<std::string> percentEncodedHost() const { return parts_.host; }
  const std::string& percentEncodedPath() const { return parts_.path; }
  void setPercentEncodedPath(std::string path) { parts_.path = std::move(path); }
  std::optional<std::string> percentEncodedQuery() const { return parts_.query; }
  void setPercentEncodedQuery(std::optional<std::string> query) { parts_.query = std::move(query); }
  std::optional<std::string> percentEncodedFragment() const { return parts_.fragment; }

  // The query split at "&" and "=", decoded; nothing when there is no query. Setting escapes
  // names and values (also "&", "=", "+" and "#", so that they survive a round trip); an empty
  // list leaves an empty query, nothing removes it.
  std::optional<std::vector<URLQueryItem>> queryItems() const;
  void setQueryItems(const std::optional<std::vector<URLQueryItem>>& items);

 private:
  ns::URL::Parts parts_;
};

}  // namespace ns
