#pragma once
// URLs: parsed once, immutable, shared. A URL made relative to a base keeps both and answers
// the resolved parts; absoluteString is the resolved text.
//
//   auto base = ns::URL::URLWithString("https://www.example.test/a/b/c");
//   auto url = ns::URL::URLWithString_relativeToURL("../d?x=1", base);   // https://www.example.test/a/d?x=1
//   auto file = ns::URL::fileURLWithPath_isDirectory("/tmp/x y", true);     // file:///tmp/x%20y/
//
// Text that is not a well-formed URL (blanks, non-ASCII, broken escapes, bad ports) gives nullptr.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Object.h"

namespace ns {

class URL : public Object {
 public:
  static Ref<URL> URLWithString(std::string_view text);
  static Ref<URL> URLWithString_relativeToURL(std::string_view text, const Ref<URL>& base);
  // An absolute file URL for a path (relative paths are taken from the working folder), escaped
  // as a path; a folder (by the flag, or, without it, as found on disk) ends with "/".
  static Ref<URL> fileURLWithPath(std::string_view path);
  static Ref<URL> fileURLWithPath_isDirectory(std::string_view path, bool isDirectory);

  // The resolved text, and the parts of the resolved URL.
  const std::string& absoluteString() const { return absolute_; }
  Ref<URL> absoluteURL() const;
  const Ref<URL>& baseURL() const { return base_; }
  const std::string& relativeString() const { return relative_; }

  std::optional<std::string> scheme() const { return parts_.scheme; }
  // The host without the brackets of an IPv6 literal.
  std::optional<std::string> host() const;
  std::optional<int> port() const { return parts_.port; }
  std::optional<std::string> user() const;      // decoded
  std::optional<std::string> password() const;  // decoded
  // Decoded, without a trailing "/" (except for the root); "" when the URL has no path.
  std::string path() const;
  // The path of the relative part only (decoded).
  std::string relativePath() const;
  std::optional<std::string> query() const { return parts_.query; }        // as written
  std::optional<std::string> fragment() const { return parts_.fragment; }  // as written
  // Everything after "scheme:".
  std::string resourceSpecifier() const;
  // The path as written (escaped, with its trailing "/").
  const std::string& percentEncodedPath() const { return parts_.path; }
  bool hasDirectoryPath() const { return !parts_.path.empty() && parts_.path.back() == '/'; }

  std::vector<std::string> pathComponents() const;
  std::string lastPathComponent() const;
  std::string pathExtension() const;

  bool isFileURL() const;
  // The path of a file URL, else "".
  std::string fileSystemRepresentation() const { return isFileURL() ? path() : std::string(); }

  Ref<URL> URLByAppendingPathComponent(std::string_view component) const;
  Ref<URL> URLByAppendingPathComponent_isDirectory(std::string_view component, bool isDirectory) const;
  Ref<URL> URLByDeletingLastPathComponent() const;
  Ref<URL> URLByAppendingPathExtension(std::string_view extension) const;
  Ref<URL> URLByDeletingPathExtension() const;
  // The resolved URL with "." and ".." segments removed from its path.
  Ref<URL> standardizedURL() const;
  Ref<URL> URLByStandardizingPath() const { return standardizedURL(); }

  // Equal when the relative text and the base are equal.
  bool isEqual(const Object* other) const override;
  std::size_t hash() const override;
  std::string className() const override { return "NSURL"; }
  // The absolute string, or "relative -- base" for a URL with a base.
  std::string description() const override;

  // Parsed form of URL text (public for the components class).
  struct Parts {
    std::optional<std::string> scheme;
    bool hasAuthority = false;
    std::optional<std::string> user;      // escaped, as written
    std::optional<std::string> password;  // escaped, as written
    std::optional<std::string> host;      // as written, brackets kept
    std::optional<int> port;
    std::string path;  // escaped, as written
    std::optional<std::string> query;
    std::optional<std::string> fragment;
    std::string compose() const;
  };
  static std::optional<Parts> parse(std::string_view text);
  static std::string removeDotSegments(std::string_view path);
  const Parts& parts() const { return parts_; }

  URL(std::string relative, Ref<URL> base, Parts resolved);

 private:
  std::string relative_;
  Ref<URL> base_;
  Parts parts_;  // resolved
  std::string absolute_;
};

}  // namespace ns
