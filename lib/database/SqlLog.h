#pragma once
// The wrapper's log lines go to the process log: every one to the system log, and the failures
// to open a database and the misuse that stops the process (logError) to stderr as well.
#include <optional>
#include <string>

namespace sqldb {

void log(const std::string& line);
void logError(const std::string& line);
// A connection's path as the log lines give it: "(null)" for an in-memory database.
inline std::string describePath(const std::optional<std::string>& path) {
  return path ? *path : "(null)";
}
// printf-style formatting for the lines that carry codes and SQLite's messages.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sqldb
