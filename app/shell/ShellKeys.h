#pragma once
// Every key the shell binds, in one place (the README's keyboard section lists them): the main
// menu's key equivalents, the keys the application routes to the list on show, and the media
// keys. Command is Control on screen.
#include <string>

#include "platform/appkit/Event.h"

namespace shellkeys {

// ---- main menu key equivalents (Command) ----
inline constexpr char kQuit[] = "q";
inline constexpr char kBack[] = "[";
inline constexpr char kForward[] = "]";
inline constexpr char kCurrentPlaylist[] = "l";
inline std::string shortSeekForward() {
  return ak::functionKeyString(ak::RightArrowFunctionKey);
}
inline std::string shortSeekBack() {
  return ak::functionKeyString(ak::LeftArrowFunctionKey);
}

// ---- keys for the list on show, while its table is the key window's first responder ----
// Return (and the keypad's Enter) plays the selected row.
inline constexpr unsigned short kKeypadEnterKeyCode = 76;
// F2 edits the selected video's title.
inline constexpr unsigned short kF2KeyCode = 120;
inline constexpr char32_t kF2Character = ak::F1FunctionKey + 1;
// Command-D adds the selected video to the favourites or removes it from them.
inline constexpr char kFavoritesKey[] = "d";
// Command-Shift-A opens the add-to menu.
inline constexpr char kAddToKey[] = "a";

// ---- media keys: system-defined events of this subtype, data1 = key << 16 | state << 8 ----
inline constexpr short kMediaKeySubtype = 8;
inline constexpr long kMediaKeyPlay = 16, kMediaKeyNext = 17, kMediaKeyPrevious = 18, kMediaKeyFast = 19,
                      kMediaKeyRewind = 20;
inline constexpr long kMediaKeyDown = 0xA, kMediaKeyUp = 0xB;
inline constexpr long mediaKeyData1(long key, long state) {
  return (key << 16) | (state << 8);
}

}  // namespace shellkeys
