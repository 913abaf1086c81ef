#pragma once
// Logging of the embedded server: every line goes through the logging hub in context 80, and
// only when the caller's level mask admits its flag (errors synchronously, the rest queued).
#include <cstdint>
#include <string>

#include "lib/logging/LogMessage.h"
#include "platform/core/Format.h"

inline constexpr std::int32_t HTTP_LOG_CONTEXT = 80;
// The level masks of the server's classes.
inline constexpr std::uint64_t HTTP_LOG_LEVEL_SERVER = LogFlagError | LogFlagWarning | LogFlagInfo;
inline constexpr std::uint64_t HTTP_LOG_LEVEL_CONNECTION = LogFlagError | LogFlagWarning;
inline constexpr std::uint64_t HTTP_LOG_LEVEL_RESPONSE = LogFlagError | LogFlagWarning;

void HTTPLogMessage(std::uint64_t level, std::uint64_t flag, const char* file, const char* function, int line,
                    std::string message);

template <class... Args>
void HTTPLog(std::uint64_t level, std::uint64_t flag, const char* file, const char* function, int line,
             const char* format, const Args&... args) {
  if ((level & flag) == 0) return;
  HTTPLogMessage(level, flag, file, function, line, ns::format(format, args...));
}

#define HTTP_LOG_ERROR(level, ...) HTTPLog(level, LogFlagError, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define HTTP_LOG_WARN(level, ...) HTTPLog(level, LogFlagWarning, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define HTTP_LOG_INFO(level, ...) HTTPLog(level, LogFlagInfo, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define HTTP_LOG_TRACE(level, ...) HTTPLog(level, LogFlagVerbose, __FILE__, __func__, __LINE__, __VA_ARGS__)
