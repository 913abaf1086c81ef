#pragma once
// The browsing interface as the library sees it, recording what it is asked: a source list, a
// registry of list controllers made on first use, the current playlist and a navigation whose
// current controller is the last one pushed. Main thread only, as the real one.
//
//   auto browsing = ns::make<testsupport::FakeBrowsingInterface>();
//   testsupport::ScopedBrowsingInterface installed(browsing);
//   ... EXPECT_EQ(browsing->menu()->calls(), (std::vector<std::string>{"refresh"}));
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/IBrowsingInterface.h"
#include "tests/support/CallRecorder.h"

namespace testsupport {

class FakePlaylistViewController : public ns::Object, public IPlaylistViewController, public CallRecorder {
 public:
  FakePlaylistViewController(std::string title, std::string type, std::string identifier)
      : title_(std::move(title)), type_(std::move(type)), identifier_(std::move(identifier)) {}
  std::string title() override { return title_; }
  void setTitle(const std::string& title) override;
  std::string requestType() override { return type_; }
  std::string requestId() override { return identifier_; }
  long playIndex() override { return playIndex_; }
  void setPlayIndex(long index) override;
  void videoRenamed_Title(const std::string& videoId, const std::string& title) override;
  // Recorded as "nextTrack" and "prevTrack", with "(sender)" when there is one; both answer true.
  bool nextTrack(const ns::Ref<ns::Object>& sender) override;
  bool prevTrack(const ns::Ref<ns::Object>& sender) override;

 private:
  std::string title_;
  std::string type_;
  std::string identifier_;
  long playIndex_ = 0;
};

class FakeMenuViewController : public ns::Object, public IMenuViewController, public CallRecorder {
 public:
  void refresh() override { record("refresh"); }
  // Recorded as "updatePlaylist(<id>,<delta>)".
  void updatePlaylist_itemCountPlus(const std::string& playlistId, int delta) override;
  void refreshAccountInfoFromNetwork() override { record("refreshAccountInfoFromNetwork"); }
};

class FakeBrowsingInterface : public ns::Object, public IBrowsingInterface, public CallRecorder {
 public:
  const ns::Ref<FakeMenuViewController>& menu() const { return menu_; }
  // The registry's controller for (type, id), nil when none was made.
  ns::Ref<FakePlaylistViewController> controllerFor(const std::string& type,
                                                    const std::string& identifier) const;
  // Makes the controller the navigation's current one without recording a push.
  void showController(ns::Ref<IPlaylistViewController> controller) { visible_ = std::move(controller); }
  const std::string& navigationTitle() const { return navigationTitle_; }

  ns::Ref<IMenuViewController> menuViewController() override { return menu_; }
  ns::Ref<IPlaylistViewController> getPlaylistViewController(const std::string& title,
                                                             const std::string& requestType,
                                                             const std::string& requestId) override;
  ns::Ref<IPlaylistViewController> currentPlaylist() override { return current_; }
  void setCurrentPlaylist(ns::Ref<IPlaylistViewController> controller) override;
  void pushViewController_animated(const ns::Ref<IPlaylistViewController>& controller,
                                   bool animated) override;
  void setNavigationTitle(const std::string& title) override;
  ns::Ref<IPlaylistViewController> getVisiblePlaylistViewController() override { return visible_; }

 private:
  ns::Ref<FakeMenuViewController> menu_ = ns::make<FakeMenuViewController>();
  std::map<std::pair<std::string, std::string>, ns::Ref<FakePlaylistViewController>> registry_;
  ns::Ref<IPlaylistViewController> current_;
  ns::Ref<IPlaylistViewController> visible_;
  std::string navigationTitle_;
};

// Installs the browsing interface for a scope and puts the previous one back at its end.
class ScopedBrowsingInterface {
 public:
  explicit ScopedBrowsingInterface(ns::Ref<IBrowsingInterface> interface) : previous_(browsingInterface()) {
    setBrowsingInterface(std::move(interface));
  }
  ~ScopedBrowsingInterface() { setBrowsingInterface(std::move(previous_)); }
  ScopedBrowsingInterface(const ScopedBrowsingInterface&) = delete;
  ScopedBrowsingInterface& operator=(const ScopedBrowsingInterface&) = delete;

 private:
  ns::Ref<IBrowsingInterface> previous_;
};

}  // namespace testsupport
