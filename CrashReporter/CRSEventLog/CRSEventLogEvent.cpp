#include "CrashReporter/CRSEventLog/CRSEventLogEvent.h"

#include <functional>

#include "platform/core/Format.h"
#include "platform/serialization/JSONSerialization.h"

namespace {

// A JSON string literal of the text; "/" stays as it is, as the payload has always carried it.
std::string quoted(const std::string& text) {
  std::string out;
  ns::detail::appendJSONStringLiteral(out, text, false);
  return out;
}

}  // namespace

CRSEventLogEvent::CRSEventLogEvent(std::uint64_t priority, std::uint64_t timestamp, std::string key,
                                   std::optional<ns::Data> payload)
    : priority_(priority), timestamp_(timestamp), key_(std::move(key)), payload_(std::move(payload)) {}

ns::Data CRSEventLogEvent::eventData() const {
  std::string record = ns::format("%lld", static_cast<long long>(timestamp_));
  record += '\t';
  record += key_;
  if (payload_) {
    record += ns::format("\t%lu\t", static_cast<unsigned long>(payload_->length()));
    record.append(reinterpret_cast<const char*>(payload_->bytes()), payload_->length());
  }
  record += '\n';
  return ns::Data(record);
}

bool CRSEventLogEvent::isEqual(const ns::Object* other) const {
  const auto* event = dynamic_cast<const CRSEventLogEvent*>(other);
  if (!event) return false;
  if (event == this) return true;
  return priority_ == event->priority_ && timestamp_ == event->timestamp_ && key_ == event->key_ &&
         payload_.has_value() == event->payload_.has_value() && (!payload_ || *payload_ == *event->payload_);
}

std::size_t CRSEventLogEvent::hash() const {
  std::size_t payloadHash = payload_ ? payload_->hash() : 0;
  return static_cast<std::size_t>(priority_) + 2 * static_cast<std::size_t>(timestamp_) +
         4 * std::hash<std::string>()(key_) + 8 * payloadHash;
}

// ---- analytics events ----

std::string CRSAnalyticsEvent::payloadText(const std::string& eventIdentifier,
                                           const std::map<std::string, std::string>& values) {
  std::string text = "{" + quoted("eventId") + ":" + quoted(eventIdentifier);
  for (const auto& [key, value] : values) text += ", " + quoted(key) + ":" + quoted(value);
  return text + "}";
}

CRSAnalyticsEvent::CRSAnalyticsEvent(std::uint64_t priority, std::uint64_t timestamp, std::string key,
                                     std::string eventIdentifier, std::map<std::string, std::string> values)
    : CRSEventLogEvent(priority, timestamp, std::move(key), ns::Data(payloadText(eventIdentifier, values))),
      eventIdentifier_(std::move(eventIdentifier)),
      values_(std::move(values)) {}

ns::Ref<CRSAnalyticsEvent> CRSAnalyticsEvent::initApplicationInstalledEventWithTimestamp_eventIdentifier(
    std::uint64_t timestamp, std::string eventIdentifier) {
  return ns::make<CRSAnalyticsEvent>(0, timestamp, "app_installed", std::move(eventIdentifier));
}

ns::Ref<CRSAnalyticsEvent> CRSAnalyticsEvent::initApplicationLaunchedEventWithTimestamp_eventIdentifier(
    std::uint64_t timestamp, std::string eventIdentifier) {
  return ns::make<CRSAnalyticsEvent>(1, timestamp, "app_launched", std::move(eventIdentifier));
}

ns::Ref<CRSAnalyticsEvent> CRSAnalyticsEvent::initApplicationCrashedEventWithTimestamp_eventIdentifier(
    std::uint64_t timestamp, std::string eventIdentifier) {
  return ns::make<CRSAnalyticsEvent>(1, timestamp, "app_crashed", std::move(eventIdentifier));
}
