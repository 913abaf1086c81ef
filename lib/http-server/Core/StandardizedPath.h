#pragma once
// Path standardisation as the platform does it for strings: a leading "~" becomes the home
// folder, empty and "." components go, ".." removes the component before it (and cannot climb
// above the root of an absolute path), and a trailing "/" is dropped. Symbolic links are not
// looked at.
#include <string>
#include <string_view>

std::string standardizedPath(std::string_view path);
