#pragma once
// The one place every diagnostic message passes through. A log call builds a LogMessage on the
// calling thread, queues it on the serial queue "logging.hub" and hands it to each registered
// logger whose level mask shares a bit with the record's flag, on that logger's own queue.
//
//   static const std::string_view THIS_FILE = *SourceFileBaseName(__FILE__, false);
//   LogHub::log_level_flag_context_file_function_line_tag_format(
//       false, 3, LogFlagError, 80, __FILE__, __func__, __LINE__, {}, "%@[%p]: %@", THIS_FILE, this, text);
//
// Errors are usually logged synchronously, warnings and trace asynchronously.
//
// At most 1000 records are queued or in delivery (a registration, flush or setting queued among
// them counts as one); a further log call waits for a free slot, except one from the logging
// queue or a logger's queue, whose work is what frees the slots. A synchronous call returns once
// every matching logger has processed its record. The level passed at a log call is only carried
// in the record: filtering by level is the caller's.
//
// A record the hub built without a tag, once delivered, is let go by the thread that logged it, at
// its next log call, or by the logging queue soon after that thread stopped logging; loggers keep
// what they keep.
//
// A synchronous log call, flushLog() or allLoggers() must not be made from the logging queue or
// from a logger's queue: it would wait for itself (debug builds assert it).
#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lib/logging/LogMessage.h"
#include "lib/logging/Logger.h"
#include "platform/core/Format.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace dispatch {
class Queue;
}

// A class that publishes a log level: it has both static logHubLevel() and setLogHubLevel(level).
template <class T>
concept LogHubLevelClass = requires(std::uint64_t level) {
  { T::logHubLevel() } -> std::convertible_to<std::uint64_t>;
  T::setLogHubLevel(level);
};

// The record of a registered class, as registeredClasses() lists them.
struct LogHubClass {
  std::string name;
  std::uint64_t (*logHubLevel)() = nullptr;
  void (*setLogHubLevel)(std::uint64_t) = nullptr;
};

class LogHub {
 public:
  LogHub() = delete;

  // Formats with ns::format's conversions ("%@" included) and queues the record. An absent format
  // logs nothing.
  template <class... Args>
  static void log_level_flag_context_file_function_line_tag_format(bool asynchronous, std::uint64_t level,
                                                                   std::uint64_t flag, std::int32_t context,
                                                                   const char* file, const char* function,
                                                                   std::int32_t line, const ns::Value& tag,
                                                                   const char* format, const Args&... args) {
    if (format == nullptr) return;
    log_message_level_flag_context_file_function_line_tag(asynchronous, ns::format(format, args...), level,
                                                          flag, context, file, function, line, tag);
  }

  // The same with the arguments already captured (the twin of a va_list taking variant).
  static void log_level_flag_context_file_function_line_tag_format_args(
      bool asynchronous, std::uint64_t level, std::uint64_t flag, std::int32_t context, const char* file,
      const char* function, std::int32_t line, const ns::Value& tag, const char* format,
      std::span<const ns::detail::FormatArg> args) {
    if (format == nullptr) return;
    log_message_level_flag_context_file_function_line_tag(
        asynchronous, ns::detail::formatArgs(format, args.data(), args.size()), level, flag, context, file,
        function, line, tag);
  }

  static void log_message_level_flag_context_file_function_line_tag(bool asynchronous, std::string message,
                                                                    std::uint64_t level, std::uint64_t flag,
                                                                    std::int32_t context, const char* file,
                                                                    const char* function, std::int32_t line,
                                                                    const ns::Value& tag);
  // Queues a ready record unchanged.
  static void log_message(bool asynchronous, ns::Ref<LogMessage> logMessage);
  static void queueLogMessage_asynchronously(ns::Ref<LogMessage> logMessage, bool asynchronous);

  // Waits until every record queued before the call was delivered and every logger that can
  // flush has flushed.
  static void flushLog();
  // Termination hook: flushes. The hub also flushes from a process-exit handler by itself.
  static void applicationWillTerminate();
  // Runs `step` on the logging queue between two records: after every record and registration
  // queued before the call, before any queued after it (the loggers' settings go this way). With
  // `wait` it returns once the step ran (not from the logging queue or a logger's queue).
  static void runBetweenRecords(std::function<void()> step, bool wait);

  static ns::Ref<dispatch::Queue> loggingQueue();
  // The processor count read at start (at least 1). With one processor the loggers of a record
  // run one after the other; otherwise at the same time. Tests set it to exercise both.
  static unsigned processorCount();
  static void setProcessorCount(unsigned count);
  // True when the calling code runs on the logging queue.
  static bool isOnLoggingQueue();
  // True when the calling code runs on the queue of a registered logger.
  static bool isOnLoggerQueue();

  // Registration takes effect asynchronously, in call order, between two records.
  static void addLogger(ns::Ref<Logger> logger);
  static void addLogger_withLevel(ns::Ref<Logger> logger, std::uint64_t level);
  static void removeLogger(ns::Ref<Logger> logger);
  static void removeAllLoggers();
  // A snapshot in order of addition (a logger added twice appears twice).
  static std::vector<ns::Ref<Logger>> allLoggers();

  // Classes that publish a level register themselves with LOG_HUB_REGISTER_CLASS(T).
  template <class T>
  static constexpr bool isRegisteredClass() {
    return LogHubLevelClass<T>;
  }
  // Every registered class, in registration order; absent when there are none.
  static std::optional<std::vector<LogHubClass>> registeredClasses();
  static std::vector<std::string> registeredClassNames();
  template <class T>
  static std::uint64_t levelForClass() {
    if constexpr (LogHubLevelClass<T>) {
      return static_cast<std::uint64_t>(T::logHubLevel());
    } else {
      return LogLevelAll;
    }
  }
  static std::uint64_t levelForClassWithName(std::string_view name);
  template <class T>
  static void setLevel_forClass(std::uint64_t level) {
    if constexpr (LogHubLevelClass<T>) T::setLogHubLevel(level);
  }
  static void setLevel_forClassWithName(std::uint64_t level, std::string_view name);

  // Used by LOG_HUB_REGISTER_CLASS; answers true so that it can initialise a static.
  static bool registerClass(LogHubClass record);
};

// Registers a class that publishes a level, at static initialisation. Use at namespace scope in
// the class's own source file.
#define LOG_HUB_REGISTER_CLASS(T)                                                                        \
  static_assert(LogHubLevelClass<T>, #T " needs static logHubLevel() and setLogHubLevel()");             \
  [[maybe_unused]] static const bool logHubRegistered_##T =                                              \
      LogHub::registerClass(LogHubClass{#T, [] { return static_cast<std::uint64_t>(T::logHubLevel()); }, \
                                        [](std::uint64_t level) { T::setLogHubLevel(level); }})

// The file's name without folder and extension: "/a/b/HTTPServer.src" gives "HTTPServer",
// "/x/archive.tar.gz" "archive.tar", "/x/.profile" "", "/x.y/file" "file"; a null path nothing.
// With copy false the answer views the caller's bytes (pass a string that outlives it, such as
// __FILE__); with copy true it views a process-lifetime copy of them.
std::optional<std::string_view> SourceFileBaseName(const char* path, bool copy);
