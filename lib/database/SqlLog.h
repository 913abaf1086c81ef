#pragma once
// The wrapper's log lines go to the process log (the system log and stderr).
#include <string>

namespace sqldb {

void log(const std::string& line);
// printf-style formatting for the lines that carry codes and SQLite's messages.
std::string cformat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sqldb
