#include "lib/http-server/Core/HTTPLogging.h"

#include "lib/logging/LogHub.h"

void HTTPLogMessage(std::uint64_t level, std::uint64_t flag, const char* file, const char* function, int line,
                    std::string message) {
  LogHub::log_message_level_flag_context_file_function_line_tag(
      flag != LogFlagError, std::move(message), level, flag, HTTP_LOG_CONTEXT, file, function, line, {});
}
