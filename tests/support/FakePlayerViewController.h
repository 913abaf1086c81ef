#pragma once
// A player view controller whose answers a test sets and whose calls it reads back. The loaded
// video's id is kept under a lock, as the real controller keeps it, so that other threads may
// read it while the test changes it.
#include <mutex>
#include <optional>
#include <string>

#include "common/IPlayerViewController.h"
#include "tests/support/CallRecorder.h"

namespace testsupport {

class FakePlayerViewController : public ns::Object, public IPlayerViewController, public CallRecorder {
 public:
  void setVideoId(std::optional<std::string> videoId);
  void setBookmarksVisible(bool visible);
  // What isPlaying and currentTimeSeconds answer; pause records "pause" and stops the playing.
  void setPlaying(bool playing);
  void setCurrentTimeSeconds(double seconds);
  // The row of the last loadVideo or playVideo.
  ns::Ref<SearchEntry> lastRow() const;

  std::optional<std::string> videoId() override;
  void loadVideo(const ns::Ref<SearchEntry>& row) override;
  void playVideo(const ns::Ref<SearchEntry>& row) override;
  void play() override;
  void stopVideo() override;
  void updateVideoUrlIfNeeded(const std::string& videoId) override;
  void showOSD(const std::string& message) override;
  bool bookmarksVisible() override;
  bool isPlaying() override;
  void pause() override;
  double currentTimeSeconds() override;

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> videoId_;
  bool bookmarksVisible_ = false;
  bool playing_ = false;
  double currentTime_ = 0;
  ns::Ref<SearchEntry> lastRow_;
};

}  // namespace testsupport
