#pragma once
// A tracing aid: watches the application's and windows' lifecycle notifications and samples once
// a minute on the queue "com.crashreporter.tracing". In the reporter's debug mode each event is
// logged and written as a line to the trace file.
#include <string>

#include "platform/core/Object.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Notification.h"

class CRSTracer : public ns::Object {
 public:
  // Nothing when the trace file cannot be opened.
  static ns::Ref<CRSTracer> initWithPath(const std::string& path);
  CRSTracer(int fileDescriptor, ns::Ref<dispatch::Queue> queue);
  ~CRSTracer() override;

  int fileDescriptor() const { return fileDescriptor_; }
  const ns::Ref<dispatch::Queue>& queue() const { return queue_; }

  void handleInitialNotification(const ns::Ref<ns::Notification>& notification);
  void handleNotification(const ns::Ref<ns::Notification>& notification);
  void sample();

  // The notification names observed, each once.
  static const std::vector<std::string>& observedNotificationNames();

  std::string className() const override { return "CRSTracer"; }

 private:
  void trace(const std::string& line);

  int fileDescriptor_;
  ns::Ref<dispatch::Queue> queue_;
  ns::Ref<dispatch::Source> samplingTimer_;
};
