#include "platform/terminal_layout.h"

#include <algorithm>

ViewerLayout layoutFor(TerminalColors colors, int columns, int rows) {
    ViewerLayout layout;
    layout.colors = colors;
    layout.left = int16_t(std::clamp((columns - SHOW_COLUMNS) / 2, 0, MAX_CENTRE_COLUMNS));
    layout.top = int16_t(std::clamp((rows - SHOW_ROWS) / 2, 0, MAX_CENTRE_ROWS));
    layout.visibleColumns = int16_t(std::clamp(columns, 1, SHOW_COLUMNS + layout.left));
    layout.visibleRows = int16_t(std::clamp(rows, 1, SHOW_ROWS + layout.top));
    return layout;
}
