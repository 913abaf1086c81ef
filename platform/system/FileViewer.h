#pragma once
// Showing files selected in the desktop's file manager: the session bus's file manager when one
// answers, else the opener on each containing folder. The work runs on a serial background
// queue, so the caller (usually the main thread) is never held by the bus; what it depends on
// (bus address, opener, time-outs) is read when the request is made.
#include <functional>
#include <string>
#include <vector>

namespace sys {

enum class RevealOutcome {
  FileManager,  // the file manager on the bus took the files
  Opener,       // the opener took every folder
  Failed,       // neither worked
};

// `fileURIs` go to the file manager; `folders` (paths) to the opener when it cannot be reached.
// `done`, when given, runs on the main queue with the outcome.
void revealInFileViewer(std::vector<std::string> fileURIs, std::vector<std::string> folders,
                        std::function<void(RevealOutcome)> done = {});

}  // namespace sys
