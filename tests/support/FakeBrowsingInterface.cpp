#include "tests/support/FakeBrowsingInterface.h"

namespace testsupport {

void FakePlaylistViewController::setTitle(const std::string& title) {
  title_ = title;
  record("setTitle(" + title + ")");
}

void FakePlaylistViewController::setPlayIndex(long index) {
  playIndex_ = index;
  record("setPlayIndex(" + std::to_string(index) + ")");
}

void FakePlaylistViewController::videoRenamed_Title(const std::string& videoId, const std::string& title) {
  record("videoRenamed(" + videoId + "," + title + ")");
}

bool FakePlaylistViewController::nextTrack(const ns::Ref<ns::Object>& sender) {
  record(sender ? "nextTrack(sender)" : "nextTrack");
  return true;
}

bool FakePlaylistViewController::prevTrack(const ns::Ref<ns::Object>& sender) {
  record(sender ? "prevTrack(sender)" : "prevTrack");
  return true;
}

void FakeMenuViewController::updatePlaylist_itemCountPlus(const std::string& playlistId, int delta) {
  record("updatePlaylist(" + playlistId + "," + std::to_string(delta) + ")");
}

ns::Ref<FakePlaylistViewController> FakeBrowsingInterface::controllerFor(
    const std::string& type, const std::string& identifier) const {
  auto found = registry_.find({type, identifier});
  return found == registry_.end() ? nullptr : found->second;
}

ns::Ref<IPlaylistViewController> FakeBrowsingInterface::getPlaylistViewController(
    const std::string& title, const std::string& requestType, const std::string& requestId) {
  auto& slot = registry_[{requestType, requestId}];
  if (!slot) slot = ns::make<FakePlaylistViewController>(title, requestType, requestId);
  return slot;
}

void FakeBrowsingInterface::setCurrentPlaylist(ns::Ref<IPlaylistViewController> controller) {
  record("setCurrentPlaylist(" + (controller ? controller->requestId() : std::string()) + ")");
  current_ = std::move(controller);
}

void FakeBrowsingInterface::pushViewController_animated(const ns::Ref<IPlaylistViewController>& controller,
                                                        bool animated) {
  record("push(" + (controller ? controller->requestId() : std::string()) + (animated ? ",animated)" : ")"));
  visible_ = controller;
}

void FakeBrowsingInterface::setNavigationTitle(const std::string& title) {
  navigationTitle_ = title;
  record("setNavigationTitle(" + title + ")");
}

}  // namespace testsupport
