#pragma once
// What the reporter tells the service about the application: its identity from the main bundle,
// the executable's slices and versions from the crash context, how it was delivered, and the
// install and activation events of conversion tracking.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/core/Value.h"

// The identity is read from the main bundle, so it is the same whether or not crash capture was
// installed ("/" in the identifier becomes "_").
std::string CRSApplicationBundleIdentifier();
std::string CRSApplicationBundleVersion();       // "0" when empty
std::string CRSApplicationShortBundleVersion();  // "0.0" when empty
std::string CRSApplicationName();

// Neutral answers until the crash context is initialised.
std::optional<std::map<std::string, std::string>> CRSExecutableSlices();
std::string CRSExecutableMinimumSDKVersion();
std::string CRSExecutableBuiltSDKVersion();
std::uint32_t CRSApplicationDeliveryMechanism();

bool CRSApplicationSignedForDistribution();
bool CRSApplicationIsExtension();
bool CRSBetaEnabled();

std::optional<std::string> CRSHostOSVersionString();
std::optional<std::string> CRSHostModelString();

// "CrashReporterAPIEndpoint" of the Info.plist, else of the environment.
std::optional<std::string> CRSAPIEndpointOverride(const ns::Dictionary& infoDictionary);

// Conversion tracking: whether the Info.plist switches it on ("CrashReporterConversionTracking"),
// the application id ("CrashReporterConversionId" of the Info.plist, 0 when none) and whether
// install events are to be reported.
bool CRSConversionTrackingEnabled();
std::uint64_t CRSConversionTrackingIdentifier();
bool CRSInstallEventPending();
// The SHA-1 key of an "Install" or "Activation" event; nothing without an advertising identifier
// or application id.
std::optional<std::string> CRSInstallEventKeyForType(const std::string& type);
// The pending events, or nothing (see CRSSettingsClientDelegate::eventArray).
std::optional<ns::Array> CRSInstallEventArray();
void CRSRemoveInstallEventKey();

inline constexpr char CRSInstallEventKey[] = "CrashReporterInstallEventKey";
