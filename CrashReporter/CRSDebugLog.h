#pragma once
// The reporter's diagnostics: written only in its debug mode, which is off unless switched on.
#include <string_view>

#include "platform/core/Log.h"

bool CRSDebugModeEnabled();
void CRSSetDebugModeEnabled(bool enabled);

template <class... Args>
void CRSDebugLog(std::string_view fmt, const Args&... args) {
  if (CRSDebugModeEnabled()) ns::Log(fmt, args...);
}
