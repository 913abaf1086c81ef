#pragma once
// User data that goes into a crash record: the user's identity, custom key/value pairs and a
// session log. The crash-time writer reads it with plain memory reads: strings are NUL-terminated
// and swapped atomically, and the session log already is a file (a byte ring of bounded size), so
// at crash time only its offset is written and the file renamed.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Format.h"

struct CRSRecordWriter;
struct CRSFrameRecord;

struct CRSCustomAttribute {
  std::atomic<char*> key;
  std::atomic<char*> value;
};

struct CRSUserData {
  char* runningLogPath;
  char* sessionLogPath;
  std::atomic<std::uint64_t> writeOffset;
  std::uint64_t logSizeLimit;
  bool defaultLimitFlag;
  bool wrapped;
  int logFd;
  std::uint64_t startTime;  // monotonic nanoseconds
  std::uint32_t timebaseNumerator;
  std::uint32_t timebaseDenominator;
  std::atomic<char*> userIdentifier;
  std::atomic<char*> userName;
  std::atomic<char*> userEmail;
  std::uint32_t nextReplacementIndex;
  std::atomic<std::uint32_t> attributeCount;
  std::uint32_t attributeCapacity;
  std::atomic<CRSCustomAttribute*> attributes;
  std::uint32_t defaultCustomKeyLimit;
  // What the service's settings say, once they are loaded.
  std::atomic<bool> settingsLoaded;
  std::atomic<std::uint32_t> settingsAttributesCount;
  std::atomic<std::uint64_t> settingsLogBufferSize;
};

inline constexpr std::size_t CRSCustomValueLimit = 1024;
inline constexpr std::uint64_t CRSDefaultLogSizeLimit = 64000;

// Set-up: the running log is created when missing and emptied.
void CRSUserLoggingInit(CRSUserData* data, const char* runningLogPath, const char* sessionLogPath);

// The service's settings took effect: the custom-key limit ("max_custom_key_value_pairs") and the
// log size ("log_buffer_size"). Until then the defaults (64 keys, 64000 bytes) apply.
void CRSUserLoggingApplySettings(std::uint32_t attributesCount, std::uint64_t logBufferSize);

// Stores "(null)" for no value, else the text (percent-escaped first when `escape`), swapping it
// into the slot atomically and retiring the previous text.
void CRSContextStringSet(std::atomic<char*>* slot, const std::optional<std::string>& value, bool escape);
// Frees a malloc'd block swapped out of the context (a string, a recorded exception, a process
// list), with those retired before, once no crash-time reader is counted in the context's
// crashReaders; until then they are kept aside. It takes a lock and frees, so it is never called
// from a signal handler; the terminate handler does call it (an uncaught exception is stored
// before the abort that raises the signal).
void CRSContextRetire(void* replaced);
// How many retired blocks wait for the crash-time readers to finish.
std::size_t CRSContextRetiredCountForTesting();
// The percent escaping used for stored texts.
std::string CRSPercentEscape(std::string_view text);

void CRSCustomAttributeSet(const char* value, const char* key);
// A value cut to at most `limit` bytes without splitting a "%XX" escape or a UTF-8 sequence.
std::size_t CRSCustomValueCutLength(std::string_view value, std::size_t limit);

// Appends one line, synchronously on the context queue.
void CRSSessionLogAppend(const std::string& message);

template <class... Args>
void CRSSessionLog(std::string_view format, const Args&... args) {
  CRSSessionLogAppend(ns::format(format, args...));
}
void CRSSessionLogAndNSLogMessage(const std::string& message);
template <class... Args>
void CRSSessionLogAndNSLog(std::string_view format, const Args&... args) {
  CRSSessionLogAndNSLogMessage(ns::format(format, args...));
}

bool CRSUserIdentityIsSet();

// Crash-time writers.
void CRSFrameRecordWrite(const CRSFrameRecord* frame, CRSRecordWriter* writer);
void CRSUserRecordsWrite(CRSUserData* data, CRSRecordWriter* writer);

// The session log's text in order, from the file contents and the offset a record gives.
std::string CRSSessionLogReorder(std::string_view contents, std::uint64_t lastOffset);
