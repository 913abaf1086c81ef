#pragma once
// Running the desktop's opener (xdg-open by default) on one URL or path. The text is handed to
// the program as one argument, never through a shell, so nothing in it is ever interpreted.
#include <map>
#include <optional>
#include <string>

#include "platform/core/Error.h"

namespace sys {

// Codes of NSOSStatusErrorDomain for opener failures, as the platform answers them.
inline constexpr long kOpenerNotFoundError = -10814;  // no program to open with
inline constexpr long kOpenerFailedError = -10810;    // the program failed

// The executable that `command` names: a text with "/" is used as given, a plain name is looked
// up in the folders of `searchPath` (PATH's form); nothing when no executable file is found.
std::optional<std::string> resolveExecutable(const std::string& command,
                                             const std::optional<std::string>& searchPath);

// The opener to use now: the settings' command looked up on this process's PATH.
std::optional<std::string> resolveOpener();

// Starts `program` with the one argument and waits at most `failureWindow` seconds for it: true
// when it started and did not end with a failure in that time (a program still running has
// started); false with an error (NSOSStatusErrorDomain) when it could not start or failed.
// The child is collected when it ends, whenever that is. It gets `environment` when given, else
// this process's environment.
bool runOpener(const std::string& program, const std::string& argument, double failureWindow,
               ns::Error* error,
               std::optional<std::map<std::string, std::string>> environment = std::nullopt);

// This process's environment now, for a child started later on another thread (which then
// never reads the environment while the main thread may be changing it).
std::map<std::string, std::string> environmentSnapshot();

// The opener error for a missing program.
ns::Error openerNotFoundError(const std::string& what);

}  // namespace sys
