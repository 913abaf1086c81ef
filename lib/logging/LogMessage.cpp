#include "lib/logging/LogMessage.h"

#include <cstdio>

#include "lib/logging/LogHub.h"
#include "lib/logging/LogThreadIdentity.h"

namespace {

std::shared_ptr<const std::string> share(std::string s) {
  return std::make_shared<const std::string>(std::move(s));
}

}  // namespace

LogMessage::LogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int32_t context,
                       std::string file, std::string function, std::int32_t line, ns::Value tag,
                       std::int64_t options, std::optional<ns::Date> timestamp)
    : LogMessage(share(std::move(message)), level, flag, context, std::move(file), std::move(function), line,
                 std::move(tag), options, timestamp) {}

LogSource LogSource::sourceWithFile_function(std::string file, std::string function) {
  LogSource source;
  source.file = share(std::move(file));
  source.fileName = share(std::string(SourceFileBaseName(source.file->c_str(), false).value_or("")));
  source.function = share(std::move(function));
  return source;
}

std::shared_ptr<const LogOrigin> LogOrigin::originWithSource(const LogSource& source) {
  return std::make_shared<const LogOrigin>(LogOrigin{source, LogThreadIdentity::current()});
}

bool LogOrigin::isCurrent() const {
  // The identity's strings are replaced whenever they change, so comparing objects is enough; the
  // thread's number never changes.
  const LogThreadIdentity& now = LogThreadIdentity::current();
  return identity.threadName == now.threadName && identity.queueLabel == now.queueLabel;
}

LogMessage::LogMessage(LogText message, std::uint64_t level, std::uint64_t flag, std::int32_t context,
                       std::string file, std::string function, std::int32_t line, ns::Value tag,
                       std::int64_t options, std::optional<ns::Date> timestamp)
    : LogMessage(std::move(message), level, flag, context,
                 LogOrigin::originWithSource(
                     LogSource::sourceWithFile_function(std::move(file), std::move(function))),
                 line, std::move(tag), options, timestamp) {}

LogMessage::LogMessage(LogText message, std::uint64_t level, std::uint64_t flag, std::int32_t context,
                       std::shared_ptr<const LogOrigin> origin, std::int32_t line, ns::Value tag,
                       std::int64_t options, std::optional<ns::Date> timestamp)
    : message_(message ? std::move(message) : share({})),
      level_(level),
      flag_(flag),
      // Sign-extended: context -1 is stored as all bits set, as callers on the other side expect.
      context_(static_cast<std::uint64_t>(static_cast<std::int64_t>(context))),
      origin_(std::move(origin)),
      line_(static_cast<std::uint64_t>(static_cast<std::int64_t>(line))),
      tag_(std::move(tag)),
      options_(options),
      timestamp_(timestamp ? *timestamp : ns::Date::now()) {}

LogMessage::LogMessage(const LogMessage& original, LogText message)
    : message_(message ? std::move(message) : share({})),
      level_(original.level_),
      flag_(original.flag_),
      context_(original.context_),
      origin_(original.origin_),
      line_(original.line_),
      tag_(original.tag_),
      options_(original.options_),
      timestamp_(original.timestamp_) {}

ns::Ref<LogMessage> LogMessage::copy() const {
  return ns::make<LogMessage>(*this, message_);
}

ns::Ref<LogMessage> LogMessage::copyWithMessage(LogText message) const {
  return ns::make<LogMessage>(*this, std::move(message));
}

std::string LogMessage::description() const {
  char head[64];
  std::snprintf(head, sizeof head, "<LogMessage: %p ", static_cast<const void*>(this));
  return head + *origin_->source.fileName + ":" + std::to_string(static_cast<std::int64_t>(line_)) + " " +
         *message_ + ">";
}
