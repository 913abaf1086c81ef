#include "tests/support/FakeMainWindowController.h"

namespace testsupport {

namespace {
const char* yesNo(bool flag) {
  return flag ? "YES" : "NO";
}
}  // namespace

void FakeMainWindowController::setAnswers(Answers answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_ = std::move(answers);
}

FakeMainWindowController::Answers FakeMainWindowController::answers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answers_;
}

ns::Ref<AccountCache> FakeMainWindowController::accountCache() {
  std::lock_guard<std::mutex> lock(mutex_);
  return accountCache_;
}

void FakeMainWindowController::setAccountCache(ns::Ref<AccountCache> cache) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    accountCache_ = std::move(cache);
  }
  record("setAccountCache");
}

ns::Ref<VideoInPlaylistCache> FakeMainWindowController::videoInPlaylistCache() {
  std::lock_guard<std::mutex> lock(mutex_);
  return videoInPlaylistCache_;
}

void FakeMainWindowController::setVideoInPlaylistCache(ns::Ref<VideoInPlaylistCache> cache) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    videoInPlaylistCache_ = std::move(cache);
  }
  record("setVideoInPlaylistCache");
}

ns::Ref<CacheServer> FakeMainWindowController::cacheServer() {
  return answers().cacheServer;
}
ns::Ref<LeftViewController> FakeMainWindowController::leftViewController() {
  return answers().leftViewController;
}
ns::Ref<ApiServiceYouTube> FakeMainWindowController::youTubeService() {
  return answers().youTubeService;
}
ns::Ref<ak::Window> FakeMainWindowController::window() {
  return answers().window;
}
ns::Ref<ak::Button> FakeMainWindowController::userBtn() {
  return answers().userBtn;
}
ns::Ref<ak::View> FakeMainWindowController::bottomView() {
  return answers().bottomView;
}

bool FakeMainWindowController::showingAlert() {
  std::lock_guard<std::mutex> lock(mutex_);
  return showingAlert_;
}

void FakeMainWindowController::setShowingAlert(bool showing) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    showingAlert_ = showing;
  }
  record(std::string("setShowingAlert(") + yesNo(showing) + ")");
}

ns::Ref<ak::Window> FakeMainWindowController::getCurrentWindow() {
  return answers().currentWindow;
}
bool FakeMainWindowController::isFullScreen() {
  return answers().fullScreen;
}
bool FakeMainWindowController::currentFullScreenLion() {
  return answers().fullScreenLion;
}
ns::Ref<ak::Window> FakeMainWindowController::fullScreenWindow() {
  return answers().fullScreenWindow;
}
bool FakeMainWindowController::isSignedIn() {
  return answers().signedIn;
}
int FakeMainWindowController::repeatType() {
  return answers().repeatType;
}
int FakeMainWindowController::shuffleMode() {
  return answers().shuffleMode;
}
bool FakeMainWindowController::treeViewHasFocus() {
  return answers().treeViewHasFocus;
}

void FakeMainWindowController::showLeftView(bool animated) {
  record(std::string("showLeftView(") + yesNo(animated) + ")");
}
void FakeMainWindowController::signInClicked(const ns::Ref<ns::Object>&) {
  record("signInClicked");
}
void FakeMainWindowController::onShowRenameVideo(const ns::Ref<SearchEntry>&) {
  record("onShowRenameVideo");
}
void FakeMainWindowController::checkMouseDownEvent(const ns::Ref<ak::Event>&) {
  record("checkMouseDownEvent");
}
void FakeMainWindowController::onExportBookmarks() {
  record("onExportBookmarks");
}
void FakeMainWindowController::onImportBookmarks() {
  record("onImportBookmarks");
}

}  // namespace testsupport
