#include "program/console_output.h"

#include <gtest/gtest.h>

#include "platform/headless_console.h"

namespace {

void fillRows(Surface& s) {
    for (int16_t y = 0; y < s.height(); ++y) {
        for (int16_t x = 0; x < s.width(); ++x) {
            uint8_t* cell = s.pixelAt({x, y});
            cell[0] = static_cast<uint8_t>(y);
            cell[1] = 0xEE;  // high byte of the character field: not looked at
            cell[2] = static_cast<uint8_t>(x);
            cell[3] = 0;
        }
    }
}

}  // namespace

TEST(WriteConsoleFrame, WritesFiftyRowsTopFirstFollowingThePitch) {
    Surface cells;
    ASSERT_EQ(cells.create({83, 52}, 4), 0);  // wider and higher: only the top-left 80x50 shows
    fillRows(cells);
    HeadlessConsole console;

    EXPECT_EQ(writeConsoleFrame(console, &cells), 0);
    EXPECT_EQ(console.rowWrites(), 50u);
    EXPECT_EQ(console.framesWritten(), 1u);
    for (int16_t row : {0, 1, 49}) {
        for (int16_t column : {0, 79}) {
            const uint8_t* shown = console.cellAt(column, row);
            EXPECT_EQ(shown[0], row);
            EXPECT_EQ(shown[2], column);
        }
    }
    cells.release();
}

TEST(WriteConsoleFrame, RefusesWrongPixelSizeOrTooSmallSurface) {
    struct Case {
        Size16 size;
        uint8_t bytesPerPixel;
    };
    for (const Case& c : {Case{{80, 50}, 1}, Case{{80, 50}, 2}, Case{{79, 50}, 4},
                          Case{{80, 49}, 4}, Case{{40, 25}, 4}}) {
        Surface cells;
        ASSERT_EQ(cells.create(c.size, c.bytesPerPixel), 0);
        HeadlessConsole console;
        EXPECT_EQ(writeConsoleFrame(console, &cells), 1);
        EXPECT_EQ(console.rowWrites(), 0u);
        EXPECT_EQ(console.framesWritten(), 0u);
        cells.release();
    }
    Surface neverCreated;
    HeadlessConsole console;
    EXPECT_EQ(writeConsoleFrame(console, &neverCreated), 1);
    EXPECT_EQ(writeConsoleFrame(console, nullptr), 1);
    EXPECT_EQ(console.rowWrites(), 0u);
}
