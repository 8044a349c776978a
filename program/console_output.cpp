#include "program/console_output.h"

int writeConsoleFrame(Console& console, const Surface* cells, const uint8_t* lastRow) {
    if (cells == nullptr || cells->bytesPerPixel() != CONSOLE_CELL_BYTES) return 1;
    if (cells->width() < CONSOLE_COLUMNS || cells->height() < CONSOLE_ROWS) return 1;

    const uint8_t* row = cells->pixels();
    console.beginFrame();
    for (int16_t i = 0; i < CONSOLE_ROWS; ++i) {
        const bool replaced = lastRow != nullptr && i == CONSOLE_ROWS - 1;
        console.writeCellRow(i, replaced ? lastRow : row, CONSOLE_COLUMNS);
        row += cells->pitch();
    }
    console.endFrame();
    return 0;
}
