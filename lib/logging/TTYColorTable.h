#pragma once
// The colour tables of terminals, for the console logger: three parallel lists of foreground
// codes, background codes and RGB colours (0-255).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct TTYColorTable {
  std::vector<std::string> foregroundCodes;  // "31m", "1;31m", "38;5;160m" ...
  std::vector<std::string> backgroundCodes;
  std::vector<std::array<std::uint8_t, 3>> colors;

  // The 16 ANSI colours, indexes 0-15.
  static const TTYColorTable& colors16();
  // Palette numbers 16-255 as entries 0-239.
  static const TTYColorTable& colors256();

  // Index of the nearest colour (Euclidean distance over components 0 to 1; ties keep the
  // earlier entry); 0 for an empty table.
  std::size_t codeIndexForColor(double red, double green, double blue) const;
};
