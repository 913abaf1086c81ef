#pragma once
// Pieces of the User-Agent header the Data API service builds.
#include <optional>
#include <string>

#include "platform/core/Object.h"

namespace ns {
class Bundle;
}

// Blanks and commas become "_"; white space, line breaks and the HTTP separator characters are
// removed. Nothing for nothing.
std::optional<std::string> NetCleanUserAgentToken(const std::optional<std::string>& text);
// "Linux/" and the VERSION_ID of /etc/os-release, or "Linux/?" when it is missing; computed once.
std::string NetSystemVersionToken();
// The bundle's "NetUserAgentID" (else its identifier, else "proc_" and the process name), cleaned,
// with "/" and its short version (else its version) when it has one. Null: the main bundle.
std::string NetBundleUserAgentToken(const ns::Ref<ns::Bundle>& bundle);
// Reads an os-release file's VERSION_ID (quotes removed); empty when absent. Exposed for tests.
std::string NetOSReleaseVersionID(const std::string& path);
