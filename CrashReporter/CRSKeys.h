#pragma once
// Names the crash reporter shares with the service, the user defaults and its callers.

// Error domains of the service clients.
inline constexpr char CRSClientErrorDomain[] = "CRSClientErrorDomain";
inline constexpr char CRSBetaErrorDomain[] = "CRSBetaErrorDomain";

// User defaults.
inline constexpr char CRSAlwaysSendCrashReportsKey[] = "CrashReporterAlwaysSendCrashReports";
inline constexpr char CRSShouldCollectCrashReportsKey[] = "CrashReporterShouldCollectCrashReports";

// The strings table of the prompt texts.
inline constexpr char CRSLocalizationTable[] = "CrashReporter";

// Request headers.
inline constexpr char CRSHeaderAPIKey[] = "X-CRASHREPORTER-API-KEY";
inline constexpr char CRSHeaderIdentification[] = "X-CRASHREPORTER-D";
inline constexpr char CRSHeaderEvents[] = "X-CRASHREPORTER-E";
inline constexpr char CRSHeaderDeviceState[] = "X-CRASHREPORTER-DEVICE-STATE";
inline constexpr char CRSHeaderInvalidSession[] = "X-CRASHREPORTER-INVALID-SESSION";

// Session analytics.
inline constexpr char CRSAnalyticsControllerErrorDomain[] = "CRSAnalyticsControllerErrorDomain";
inline constexpr char CRSAnalyticsEventMIMEType[] = "application/vnd.crashreporter.ios.events";
inline constexpr char CRSLastSessionIdentifierKey[] = "com.crashreporter.insights.lastsessionidentifier";
inline constexpr char CRSLastSessionTimestampKey[] = "com.crashreporter.insights.lastsessiontimestamp";
inline constexpr char CRSLastSessionMetadataKey[] = "com.crashreporter.insights.lastsessionmetadata";
inline constexpr char CRSLastMaintenanceDateKey[] = "com.crashreporter.insights.lastmaintenancedate";
