#pragma once
// What the other subsystems use of the player pane's controller, and the process-wide reference
// to it, set when it is made. The controller itself lives above the shell's library.
#include <optional>
#include <string>

#include "platform/core/Object.h"

class SearchEntry;

class IPlayerViewController {
 public:
  virtual ~IPlayerViewController() = default;

  // The id of the loaded video, nil when none. Read on the main thread and on the media
  // server's queue while the main thread changes it: every implementation answers a copy taken
  // under its own lock.
  virtual std::optional<std::string> videoId() = 0;

  // Loads the row into the player pane.
  virtual void loadVideo(const ns::Ref<SearchEntry>& row) = 0;
  // Remembers the row, takes its id, title and author, loads it and starts playback at once.
  virtual void playVideo(const ns::Ref<SearchEntry>& row) = 0;
  virtual void play() = 0;
  // Stops playback and clears the loaded video.
  virtual void stopVideo() = 0;
  // When that video is the one loaded, reloads it at the current position from the local
  // media server; otherwise nothing.
  virtual void updateVideoUrlIfNeeded(const std::string& videoId) = 0;
  // Shows a message over the video and hides it after 2 seconds.
  virtual void showOSD(const std::string& message) = 0;
  // The bookmarks panel is shown.
  virtual bool bookmarksVisible() = 0;

  // What opening the video's page at the current time asks of the player. An implementation
  // without playback answers not playing and time 0, and its pause does nothing.
  virtual bool isPlaying() { return false; }
  // Pauses and saves the position.
  virtual void pause() {}
  // The position of the loaded video in seconds.
  virtual double currentTimeSeconds() { return 0; }
};

// The process-wide player view controller (nil until one is set); safe from any thread, each
// reader holding its own strong reference.
ns::Ref<IPlayerViewController> playerViewController();
void setPlayerViewController(ns::Ref<IPlayerViewController> controller);
