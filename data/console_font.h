// The console's 8x12 raster font for the 256 characters of code page 437, drawn
// in data/console_font.txt and compiled in at build time.
#pragma once

#include <cstdint>

inline constexpr int CONSOLE_FONT_WIDTH = 8;
inline constexpr int CONSOLE_FONT_HEIGHT = 12;

// Glyph g's row r at byte g * 12 + r; bit 7 is the leftmost pixel, a set bit is ink.
extern const uint8_t CONSOLE_FONT[256 * CONSOLE_FONT_HEIGHT];
