// Writing one finished frame of console cells to the screen, one row per call.
#pragma once

#include "image/surface.h"
#include "platform/console.h"

constexpr int16_t CONSOLE_COLUMNS = 80;
constexpr int16_t CONSOLE_ROWS = 50;

// Writes the top-left 80x50 cells of `cells` to screen rows 0 to 49 and returns 0;
// `lastRow`, when given, is 80 cells written in place of row 49.
// Returns 1 and writes nothing when `cells` is missing, not 4 bytes per pixel, or
// smaller than 80x50 (the rows would be read past the end of its memory).
int writeConsoleFrame(Console& console, const Surface* cells, const uint8_t* lastRow = nullptr);
