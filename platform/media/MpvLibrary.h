#pragma once

namespace av {

// Opens the media engine's library if it is not open yet (any thread; later calls answer at once);
// whether it is there. The player's first call into the engine opens it anyway: calling this
// early, off the main thread, takes the opening out of the way of the first window.
bool loadMediaEngineLibrary();

}  // namespace av
