// The player pane's interface, built in code as its nib would be: the black video view and the
// control bar the main window puts in its bottom bar.
#include <mutex>

#include "app/player/PlayerControlBar.h"
#include "app/player/PlayerNib.h"
#include "app/player/PlayerViewController.h"
#include "app/player/VideoView.h"
#include "platform/appkit/Nib.h"

namespace {

constexpr double kVideoWidth = 640;
constexpr double kVideoHeight = 360;

void buildPlayerPane(ak::NibLoader& nib) {
  auto owner = nib.owner<PlayerViewController>();
  auto video = nib.view<VideoView>({.frame = ak::MakeRect(0, 0, kVideoWidth, kVideoHeight),
                                    .autoresizingMask = ak::ViewWidthSizable | ak::ViewHeightSizable});
  auto bar = nib.view<PlayerControlBar>({.frame = ak::MakeRect(0, 0, kVideoWidth, PlayerControlBar::kHeight),
                                         .autoresizingMask = ak::ViewWidthSizable});
  nib.outlet([owner, video, bar] {
    if (!owner) return;
    owner->setView(video);
    owner->setControlBar(bar);
  });
}

}  // namespace

void registerPlayerNib() {
  static std::once_flag once;
  std::call_once(once, [] { ak::Nib::registerBuilder("PlayerViewController", buildPlayerPane); });
}
