#pragma once
// Shared inside the presenter; no GTK types here.
#include <string>
#include <string_view>

namespace ak::gtk {

// Text from other programs: at most 1 MiB, invalid UTF-8 replaced.
std::string sanitize(std::string_view text);

}  // namespace ak::gtk
