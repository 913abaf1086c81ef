#include "lib/google/ApiConstants.h"

void ApiLibraryVersion(long* major, long* minor, long* release) {
  if (major) *major = 2;
  if (minor) *minor = 0;
  if (release) *release = 0;
}

const char* ApiLibraryVersionString() {
  return "2.0";
}
