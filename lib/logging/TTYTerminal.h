#pragma once
// What the console logger's terminal understands, decided from the environment: the development
// console's own colour sequences when "ConsoleColors" is "YES"; otherwise ANSI colours when "TERM"
// contains "color" (256 of them when it also contains "256"); otherwise none.
#include <optional>
#include <string>

class TTYColorTable;

struct TTYTerminal {
  enum class Kind { None, Ansi16, Ansi256, DevelopmentConsole };
  Kind kind = Kind::None;

  bool isAnsi() const { return kind == Kind::Ansi16 || kind == Kind::Ansi256; }
  bool isDevelopmentConsole() const { return kind == Kind::DevelopmentConsole; }
  // The ANSI colour table in use; null without ANSI colours.
  const TTYColorTable* colorTable() const;

  static TTYTerminal fromValues(const std::optional<std::string>& consoleColors,
                                const std::optional<std::string>& term);
  // Reads "ConsoleColors" and "TERM".
  static TTYTerminal fromEnvironment();
};
