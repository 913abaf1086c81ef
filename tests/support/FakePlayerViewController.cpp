#include "tests/support/FakePlayerViewController.h"

namespace testsupport {

void FakePlayerViewController::setVideoId(std::optional<std::string> videoId) {
  std::lock_guard<std::mutex> lock(mutex_);
  videoId_ = std::move(videoId);
}

void FakePlayerViewController::setBookmarksVisible(bool visible) {
  std::lock_guard<std::mutex> lock(mutex_);
  bookmarksVisible_ = visible;
}

ns::Ref<SearchEntry> FakePlayerViewController::lastRow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastRow_;
}

std::optional<std::string> FakePlayerViewController::videoId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return videoId_;
}

void FakePlayerViewController::loadVideo(const ns::Ref<SearchEntry>& row) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastRow_ = row;
  }
  record("loadVideo");
}

void FakePlayerViewController::playVideo(const ns::Ref<SearchEntry>& row) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastRow_ = row;
  }
  record("playVideo");
}

void FakePlayerViewController::play() {
  record("play");
}
void FakePlayerViewController::stopVideo() {
  record("stopVideo");
}
void FakePlayerViewController::updateVideoUrlIfNeeded(const std::string& videoId) {
  record("updateVideoUrlIfNeeded(" + videoId + ")");
}
void FakePlayerViewController::showOSD(const std::string& message) {
  record("showOSD(" + message + ")");
}

bool FakePlayerViewController::bookmarksVisible() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bookmarksVisible_;
}

void FakePlayerViewController::setPlaying(bool playing) {
  std::lock_guard<std::mutex> lock(mutex_);
  playing_ = playing;
}

void FakePlayerViewController::setCurrentTimeSeconds(double seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  currentTime_ = seconds;
}

bool FakePlayerViewController::isPlaying() {
  std::lock_guard<std::mutex> lock(mutex_);
  return playing_;
}

void FakePlayerViewController::pause() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    playing_ = false;
  }
  record("pause");
}

double FakePlayerViewController::currentTimeSeconds() {
  std::lock_guard<std::mutex> lock(mutex_);
  return currentTime_;
}

}  // namespace testsupport
