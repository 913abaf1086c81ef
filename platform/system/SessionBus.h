#pragma once
// Calls on the desktop session's message bus, through sd-bus. Each call makes its own
// connection and gives up after its time-out, however far it got (connecting, authenticating
// or waiting for the reply), so that a bus that never answers holds nobody for long. Calls
// block their thread: callers run them off the main thread.
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Error.h"

namespace sys {

// The session bus's address as this process sees it now: DBUS_SESSION_BUS_ADDRESS, else the
// socket "bus" in XDG_RUNTIME_DIR when it exists; nothing when there is no session bus.
std::optional<std::string> sessionBusAddress();

// The file manager's interface on the session bus.
inline constexpr char kFileManagerBusName[] = "org.freedesktop.FileManager1";
inline constexpr char kFileManagerObjectPath[] = "/org/freedesktop/FileManager1";
inline constexpr char kFileManagerInterface[] = "org.freedesktop.FileManager1";

// Asks the file manager on the bus at `address` to show the items (file URIs) selected in
// their folders: ShowItems(as uris, s startupId). True when it answered with success within
// `timeout` seconds; false with an error (NSPOSIXErrorDomain; the bus's error name and message
// in the description) otherwise.
bool showItemsInFileManager(const std::string& address, const std::vector<std::string>& uris, double timeout,
                            ns::Error* error);

}  // namespace sys
