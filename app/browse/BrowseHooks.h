#pragma once
// Sets the browsing interface up for the rest of the application: registers the nib builders
// of its controllers ("LeftViewController", "PelNavigationController", "MainViewController",
// "MenuViewController" with its two forms, "VideoPopViewController",
// "YTPlaylistViewController") and installs what other modules call of it: the cache manager's
// next video of the current playlist, and the library's calls of the browsing interface (its
// registry, current playlist and navigation). Called by the launch and by tests; safe to call
// again. Main thread.
void installBrowseHooks();
// Registers the nib builders only (once per process).
void registerBrowseNibs();
// Registers the source list's nib builder, "MenuViewController" (once per process).
void registerMenuNib();
