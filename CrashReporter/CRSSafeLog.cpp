#include "CrashReporter/CRSSafeLog.h"

#include <unistd.h>

#include <cstring>

void CRSSafeLog(const char* text) {
  if (!text) text = "(NULL)";
  ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}
