#include "lib/http-server/Core/HTTPConfig.h"

#include "lib/http-server/Core/StandardizedPath.h"
#include "platform/dispatch/Queue.h"

HTTPConfig::HTTPConfig(ns::Weak<HTTPServer> server, std::optional<std::string> documentRoot)
    : server_(std::move(server)), documentRoot_(std::move(documentRoot)) {}

HTTPConfig::HTTPConfig(ns::Weak<HTTPServer> server, const std::optional<std::string>& documentRoot,
                       ns::Ref<dispatch::Queue> queue)
    : server_(std::move(server)), queue_(std::move(queue)) {
  if (documentRoot) documentRoot_ = standardizedDocumentRoot(*documentRoot);
}

std::string HTTPConfig::standardizedDocumentRoot(const std::string& root) {
  std::string path = standardizedPath(root);
  // Only the file-system root still ends in "/"; connections cut the root's length plus one
  // character off full paths, so it gets a second one.
  if (!path.empty() && path.back() == '/') path += '/';
  return path;
}
