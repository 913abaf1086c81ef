#pragma once
// One log record. Records are built once on the logging thread, then shared read-only by every
// logger that receives them; their strings are shared, never copied per logger.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "lib/logging/LogThreadIdentity.h"
#include "platform/core/Date.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

// Shared, immutable text of a record. Loggers compare a formatter's answer with the record's own
// text by identity: the same object means "not custom-formatted".
using LogText = std::shared_ptr<const std::string>;

// Flags: one bit of an unsigned 64-bit value; a level is a mask of them.
// The hub gives the bits no meaning; these names follow how the loggers treat them.
inline constexpr std::uint64_t LogFlagError = 1;
inline constexpr std::uint64_t LogFlagWarning = 2;
inline constexpr std::uint64_t LogFlagInfo = 4;
inline constexpr std::uint64_t LogFlagDebug = 8;
inline constexpr std::uint64_t LogFlagVerbose = 16;
inline constexpr std::uint64_t LogLevelAll = ~std::uint64_t{0};

// Where records are made: the file, its base name and the function, shared by the records of one
// call site.
struct LogSource {
  std::shared_ptr<const std::string> file;
  std::shared_ptr<const std::string> fileName;
  std::shared_ptr<const std::string> function;

  static LogSource sourceWithFile_function(std::string file, std::string function);
};

// Where and by whom a record was made: its call site's strings and its thread's identity. The
// records one thread makes at one call site share one origin while that identity stays the same,
// so that a record takes and drops one reference for all six strings.
struct LogOrigin {
  LogSource source;
  LogThreadIdentity identity;

  // The call site's strings with the calling thread's identity as it is now.
  static std::shared_ptr<const LogOrigin> originWithSource(const LogSource& source);
  // Whether the calling thread's identity is still the one this origin carries.
  bool isCurrent() const;
};

class LogMessage : public ns::Object {
 public:
  // Captures the calling thread's identity (thread number, name, queue label) and, when no
  // timestamp is given, the current time. The context and line are sign-extended as given.
  LogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int32_t context,
             std::string file, std::string function, std::int32_t line, ns::Value tag = {},
             std::int64_t options = 0, std::optional<ns::Date> timestamp = std::nullopt);
  // The same fields with a shared text, so that a chain of formatters can hand text along.
  LogMessage(LogText message, std::uint64_t level, std::uint64_t flag, std::int32_t context, std::string file,
             std::string function, std::int32_t line, ns::Value tag = {}, std::int64_t options = 0,
             std::optional<ns::Date> timestamp = std::nullopt);

  const std::string& message() const { return *message_; }
  // The shared text object itself (see LogText).
  const LogText& messageText() const { return message_; }
  std::uint64_t level() const { return level_; }
  std::uint64_t flag() const { return flag_; }
  std::uint64_t context() const { return context_; }
  const std::string& file() const { return *origin_->source.file; }
  const std::string& fileName() const { return *origin_->source.fileName; }
  const std::string& function() const { return *origin_->source.function; }
  std::uint64_t line() const { return line_; }
  const ns::Value& tag() const { return tag_; }
  std::int64_t options() const { return options_; }
  const ns::Date& timestamp() const { return timestamp_; }
  const std::string& threadID() const { return *origin_->identity.threadID; }
  // Absent when the creating thread has no name.
  const std::optional<std::string>& threadName() const { return *origin_->identity.threadName; }
  const std::string& queueLabel() const { return *origin_->identity.queueLabel; }

  // A new record with every field taken over unchanged (strings and date shared).
  ns::Ref<LogMessage> copy() const;
  // A copy whose text is replaced; everything else is shared with this record.
  ns::Ref<LogMessage> copyWithMessage(LogText message) const;

  // The same with the call site's strings and the thread's identity already shared.
  LogMessage(LogText message, std::uint64_t level, std::uint64_t flag, std::int32_t context,
             std::shared_ptr<const LogOrigin> origin, std::int32_t line, ns::Value tag = {},
             std::int64_t options = 0, std::optional<ns::Date> timestamp = std::nullopt);

  // Copy construction for copy() and copyWithMessage(): all fields shared, the text replaced.
  LogMessage(const LogMessage& original, LogText message);

  std::string description() const override;

 private:
  LogText message_;
  std::uint64_t level_ = 0;
  std::uint64_t flag_ = 0;
  std::uint64_t context_ = 0;
  std::shared_ptr<const LogOrigin> origin_;
  std::uint64_t line_ = 0;
  ns::Value tag_;
  std::int64_t options_ = 0;
  ns::Date timestamp_;
};
