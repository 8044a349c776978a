// Where the show's 80x50 cells go on a terminal of any size: centred on a
// larger one, from the top-left corner on a smaller one.
#pragma once

#include <cstdint>

#include "platform/terminal_encoder.h"

// The show's picture in cells.
constexpr int SHOW_COLUMNS = 80;
constexpr int SHOW_ROWS = 50;

// A terminal larger than the show sees it centred, up to this many cells off
// the top-left corner (bigger terminals see it centred in that much of them).
constexpr int MAX_CENTRE_COLUMNS = 80;
constexpr int MAX_CENTRE_ROWS = 50;

// Where the show goes on a terminal of a given size and colour depth.
struct ViewerLayout {
    TerminalColors colors = TerminalColors::Ansi16;
    int16_t left = 0;  // cells left blank before the picture
    int16_t top = 0;
    int16_t visibleColumns = SHOW_COLUMNS;  // of the picture and its margins
    int16_t visibleRows = SHOW_ROWS;
    bool operator==(const ViewerLayout&) const = default;
};
ViewerLayout layoutFor(TerminalColors colors, int columns, int rows);
