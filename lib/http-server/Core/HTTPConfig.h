#pragma once
// What a connection receives from its server: the server (not owned: the server owns its
// connections, which own their configuration), the document root and the queue to run on.
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace dispatch {
class Queue;
}
class HTTPServer;

class HTTPConfig : public ns::Object {
 public:
  // Keeps both unchanged; no queue.
  HTTPConfig(ns::Weak<HTTPServer> server, std::optional<std::string> documentRoot);
  // Stores the document root standardised (no trailing "/"; the file-system root as "//").
  HTTPConfig(ns::Weak<HTTPServer> server, const std::optional<std::string>& documentRoot,
             ns::Ref<dispatch::Queue> queue);

  static ns::Ref<HTTPConfig> initWithServer_documentRoot(ns::Weak<HTTPServer> server,
                                                         std::optional<std::string> documentRoot) {
    return ns::make<HTTPConfig>(std::move(server), std::move(documentRoot));
  }
  static ns::Ref<HTTPConfig> initWithServer_documentRoot_queue(ns::Weak<HTTPServer> server,
                                                               const std::optional<std::string>& documentRoot,
                                                               ns::Ref<dispatch::Queue> queue) {
    return ns::make<HTTPConfig>(std::move(server), documentRoot, std::move(queue));
  }

  // The server, or null once it is gone.
  ns::Ref<HTTPServer> server() const { return server_.lock(); }
  const std::optional<std::string>& documentRoot() const { return documentRoot_; }
  const ns::Ref<dispatch::Queue>& queue() const { return queue_; }

  // The standardisation the three-argument form applies.
  static std::string standardizedDocumentRoot(const std::string& root);

 private:
  ns::Weak<HTTPServer> server_;
  std::optional<std::string> documentRoot_;
  ns::Ref<dispatch::Queue> queue_;
};
