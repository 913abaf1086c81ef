#pragma once
// A main window controller whose answers a test sets and whose calls it reads back. The
// properties (account cache, video-in-playlist cache, showing alert) keep what is set.
#include <mutex>

#include "common/IMainWindowController.h"
#include "tests/support/CallRecorder.h"

namespace testsupport {

class FakeMainWindowController : public ns::Object, public IMainWindowController, public CallRecorder {
 public:
  // Every member has a default, so that a designated initialiser names only what it sets.
  struct Answers {
    ns::Ref<CacheServer> cacheServer{};
    ns::Ref<LeftViewController> leftViewController{};
    ns::Ref<ApiServiceYouTube> youTubeService{};
    ns::Ref<ak::Window> window{};
    ns::Ref<ak::Window> currentWindow{};
    ns::Ref<ak::Window> fullScreenWindow{};
    ns::Ref<ak::Button> userBtn{};
    ns::Ref<ak::View> bottomView{};
    bool fullScreen = false;
    bool fullScreenLion = false;
    bool signedIn = false;
    bool treeViewHasFocus = false;
    int repeatType = 0;
    int shuffleMode = 0;
  };
  void setAnswers(Answers answers);
  Answers answers() const;

  ns::Ref<AccountCache> accountCache() override;
  void setAccountCache(ns::Ref<AccountCache> cache) override;
  ns::Ref<VideoInPlaylistCache> videoInPlaylistCache() override;
  void setVideoInPlaylistCache(ns::Ref<VideoInPlaylistCache> cache) override;
  ns::Ref<CacheServer> cacheServer() override;
  ns::Ref<LeftViewController> leftViewController() override;
  ns::Ref<ApiServiceYouTube> youTubeService() override;
  ns::Ref<ak::Window> window() override;
  ns::Ref<ak::Button> userBtn() override;
  ns::Ref<ak::View> bottomView() override;
  bool showingAlert() override;
  void setShowingAlert(bool showing) override;
  ns::Ref<ak::Window> getCurrentWindow() override;
  bool isFullScreen() override;
  bool currentFullScreenLion() override;
  ns::Ref<ak::Window> fullScreenWindow() override;
  bool isSignedIn() override;
  int repeatType() override;
  int shuffleMode() override;
  bool treeViewHasFocus() override;
  void showLeftView(bool animated) override;
  void signInClicked(const ns::Ref<ns::Object>& sender) override;
  void onShowRenameVideo(const ns::Ref<SearchEntry>& row) override;
  void checkMouseDownEvent(const ns::Ref<ak::Event>& event) override;
  void onExportBookmarks() override;
  void onImportBookmarks() override;

 private:
  mutable std::mutex mutex_;
  Answers answers_;
  ns::Ref<AccountCache> accountCache_;
  ns::Ref<VideoInPlaylistCache> videoInPlaylistCache_;
  bool showingAlert_ = false;
};

}  // namespace testsupport
