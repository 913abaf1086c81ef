#pragma once
// Process-wide settings of the system services, in one place so that tests (and only tests)
// change them: the program that opens URLs and folders, how soon it must fail to count as
// failed, the time-out of calls on the session bus, and the hosts of the sharing services' web
// share pages. Safe to use from any thread.
#include <optional>
#include <string>

namespace sys {

// The opener used when none is set: looked up on PATH when a URL is opened.
inline constexpr char kDefaultOpenerCommand[] = "xdg-open";

// A program name (looked up on PATH at each use) or a path; nothing restores the default.
void setOpenerCommand(std::optional<std::string> command);
std::string openerCommand();

// An opener that ends with a failure within this many seconds failed; one that is still running
// then, or ended well, has started. Default 1 s.
void setOpenerFailureWindow(double seconds);
double openerFailureWindow();

// Every call on the session bus gives up after this many seconds. Default 2 s.
void setSessionBusCallTimeout(double seconds);
double sessionBusCallTimeout();

// The scheme and host ("https://share.example.test") of a sharing service's web share page;
// "" takes the page away; nothing restores the service's public host. Unknown services have
// none.
void setSharePageHost(const std::string& serviceName, std::optional<std::string> baseURL);
std::optional<std::string> sharePageHost(const std::string& serviceName);

// Every setting back to its default.
void resetSystemServiceSettings();

}  // namespace sys
