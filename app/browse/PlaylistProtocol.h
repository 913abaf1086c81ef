#pragma once
// A list that can serve as the player's play queue: its rows in order, or shuffled while the
// main window controller's shuffle mode is 1. Main thread only.
#include <optional>
#include <string>

#include "platform/core/Object.h"

class PlaylistProtocol {
 public:
  virtual ~PlaylistProtocol() = default;
  // Plays the row and makes this list the current playlist; a negative row changes nothing.
  virtual void playAtIndex(long row) = 0;
  // Plays the next row; NO when nothing was played (an empty list, or the end of the list with
  // no sender while repeat is off).
  virtual bool nextTrack(const ns::Ref<ns::Object>& sender) = 0;
  // Plays the previous row, the last one from row 0; NO for an empty list.
  virtual bool prevTrack(const ns::Ref<ns::Object>& sender) = 0;
  // The video nextTrack would play (row 0 past the end), nil for an empty list.
  virtual std::optional<std::string> getNextVideoId() = 0;
  virtual bool isCurrentPlaylist() = 0;
  virtual long getPlayIndex() = 0;
  virtual void scrollToNowPlaying() = 0;
  virtual void scrollToIndex(long row) = 0;
  virtual void processEnterKey() = 0;
  virtual void generateRandomArray() = 0;
  virtual long getRandomIndex(bool forward) = 0;
  virtual long peekRandomIndex(bool forward) = 0;
};
