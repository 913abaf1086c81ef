#include "lib/database/SqlLog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/core/Log.h"

namespace sqldb {

void log(const std::string& line) {
  ns::LogMessage(line);
}

void logError(const std::string& line) {
  ns::LogMessage(line, ns::LogLevel::Error);
}

std::string cformat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), format, args);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace sqldb
