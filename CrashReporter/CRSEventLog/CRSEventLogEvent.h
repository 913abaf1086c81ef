#pragma once
// The records of the analytics log. An event is an immutable value: a priority (0 high, 1 medium,
// 2 low), a time in milliseconds since 1970, a key and optional payload bytes. Its record is
//
//   <timestamp> TAB <key> [TAB <payload length> TAB <payload>] LF
//
// with the decimal numbers in ASCII; the payload is raw and may hold TAB or LF, so a reader steps
// over it by its length.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"

class CRSEventLogEvent : public ns::Object {
 public:
  CRSEventLogEvent(std::uint64_t priority, std::uint64_t timestamp, std::string key,
                   std::optional<ns::Data> payload = std::nullopt);
  static ns::Ref<CRSEventLogEvent> initWithPriority_timestamp_key(std::uint64_t priority,
                                                                  std::uint64_t timestamp, std::string key) {
    return ns::make<CRSEventLogEvent>(priority, timestamp, std::move(key));
  }
  static ns::Ref<CRSEventLogEvent> initWithPriority_timestamp_key_payload(std::uint64_t priority,
                                                                          std::uint64_t timestamp,
                                                                          std::string key,
                                                                          std::optional<ns::Data> payload) {
    return ns::make<CRSEventLogEvent>(priority, timestamp, std::move(key), std::move(payload));
  }

  std::uint64_t priority() const { return priority_; }
  std::uint64_t timestamp() const { return timestamp_; }
  const std::string& key() const { return key_; }
  const std::optional<ns::Data>& payload() const { return payload_; }
  ns::Data eventData() const;

  // Equal to any event (of whatever subclass) with the same priority, time, key and payload.
  bool isEqual(const ns::Object* other) const override;
  std::size_t hash() const override;
  friend bool operator==(const CRSEventLogEvent& a, const CRSEventLogEvent& b) { return a.isEqual(&b); }

  std::string className() const override { return "CRSEventLogEvent"; }

 private:
  std::uint64_t priority_;
  std::uint64_t timestamp_;
  std::string key_;
  std::optional<ns::Data> payload_;
};

// An application event with its identifier; the payload is a JSON object
// {"eventId":"<id>", "<key>":"<value>", ...} with every text escaped as JSON.
class CRSAnalyticsEvent : public CRSEventLogEvent {
 public:
  CRSAnalyticsEvent(std::uint64_t priority, std::uint64_t timestamp, std::string key,
                    std::string eventIdentifier, std::map<std::string, std::string> values = {});
  static ns::Ref<CRSAnalyticsEvent> initWithPriority_timestamp_key_eventIdentifier_stringPayloadValues(
      std::uint64_t priority, std::uint64_t timestamp, std::string key, std::string eventIdentifier,
      std::map<std::string, std::string> values) {
    return ns::make<CRSAnalyticsEvent>(priority, timestamp, std::move(key), std::move(eventIdentifier),
                                       std::move(values));
  }
  static ns::Ref<CRSAnalyticsEvent> initApplicationInstalledEventWithTimestamp_eventIdentifier(
      std::uint64_t timestamp, std::string eventIdentifier);
  static ns::Ref<CRSAnalyticsEvent> initApplicationLaunchedEventWithTimestamp_eventIdentifier(
      std::uint64_t timestamp, std::string eventIdentifier);
  static ns::Ref<CRSAnalyticsEvent> initApplicationCrashedEventWithTimestamp_eventIdentifier(
      std::uint64_t timestamp, std::string eventIdentifier);

  const std::string& eventIdentifier() const { return eventIdentifier_; }
  const std::map<std::string, std::string>& stringPayloadValueDict() const { return values_; }
  static std::string payloadText(const std::string& eventIdentifier,
                                 const std::map<std::string, std::string>& values);

  std::string className() const override { return "CRSAnalyticsEvent"; }

 private:
  std::string eventIdentifier_;
  std::map<std::string, std::string> values_;
};

// The first record of every log file: the device and application facts as JSON.
class CRSAnalyticsMetadataEvent : public CRSEventLogEvent {
 public:
  CRSAnalyticsMetadataEvent(std::uint64_t priority, std::uint64_t timestamp, const ns::Data& metadataJSONData)
      : CRSEventLogEvent(priority, timestamp, "metadata", metadataJSONData) {}
  static ns::Ref<CRSAnalyticsMetadataEvent> initWithPriority_timestamp_metadataJSONData(
      std::uint64_t priority, std::uint64_t timestamp, const ns::Data& json) {
    return ns::make<CRSAnalyticsMetadataEvent>(priority, timestamp, json);
  }
  const ns::Data& metadataJSONData() const { return *payload(); }

  std::string className() const override { return "CRSAnalyticsMetadataEvent"; }
};
