#include "app/browse/BrowseHooks.h"

#include "app/browse/LeftViewController.h"
#include "app/browse/MenuViewController.h"
#include "app/browse/PelNavigationController.h"
#include "app/browse/VideoPopViewController.h"
#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheServer.h"
#include "common/IBrowsingInterface.h"
#include "common/IMainWindowController.h"
#include "ui/MySearchField.h"

namespace {

ns::Ref<LeftViewController> leftPane() {
  auto main = mainWindowController();
  return main ? main->leftViewController() : nullptr;
}

// What the library calls of the browsing interface.
class BrowsingInterface : public ns::Object, public IBrowsingInterface {
 public:
  ns::Ref<IMenuViewController> menuViewController() override {
    auto left = leftPane();
    return left ? left->menuViewController() : nullptr;
  }
  ns::Ref<IPlaylistViewController> getPlaylistViewController(const std::string& title,
                                                             const std::string& requestType,
                                                             const std::string& requestId) override {
    return ::getPlaylistViewController(title, requestType, requestId);
  }
  ns::Ref<IPlaylistViewController> currentPlaylist() override { return currentPlaylistController(); }
  void setCurrentPlaylist(ns::Ref<IPlaylistViewController> controller) override {
    setCurrentPlaylistController(std::dynamic_pointer_cast<YTPlaylistViewController>(controller));
  }
  void pushViewController_animated(const ns::Ref<IPlaylistViewController>& controller,
                                   bool animated) override {
    auto list = std::dynamic_pointer_cast<YTPlaylistViewController>(controller);
    auto left = leftPane();
    auto navigation = left ? left->navigationController() : nullptr;
    if (list && navigation) navigation->pushViewController_animated(list, animated);
  }
  void setNavigationTitle(const std::string& title) override {
    auto left = leftPane();
    auto navigation = left ? left->navigationController() : nullptr;
    if (!navigation) return;
    navigation->setTitle(title);
    if (auto field = left->searchField()) field->setStringValue(title);
  }
  ns::Ref<IPlaylistViewController> getVisiblePlaylistViewController() override {
    auto left = leftPane();
    return left ? left->getVisiblePlaylistViewController() : nullptr;
  }
};

}  // namespace

void installBrowseHooks() {
  registerBrowseNibs();
  registerMenuNib();
  registerVideoPopNib();
  setBrowsingInterface(ns::make<BrowsingInterface>());
  setNextVideoIdProvider([]() -> std::optional<std::string> {
    auto current = currentPlaylistController();
    return current ? current->getNextVideoId() : std::nullopt;
  });
}
