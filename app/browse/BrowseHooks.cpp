#include "app/browse/BrowseHooks.h"

#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheServer.h"
#include "app/youtube/SearchEntry.h"

void installBrowseHooks() {
  registerBrowseNibs();
  setNextVideoIdProvider([]() -> std::optional<std::string> {
    auto current = currentPlaylistController();
    return current ? current->getNextVideoId() : std::nullopt;
  });
}
