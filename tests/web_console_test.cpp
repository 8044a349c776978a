#include "web/web_console.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "image/console_look.h"
#include "program/frame_loop.h"

namespace {

std::string rowText(const WebConsole& console, int row) {
    std::string text;
    const uint8_t* cells = console.cells().pixels() + row * console.cells().pitch();
    for (int column = 0; column < WebConsole::COLUMNS; ++column) text += char(cells[column * 4]);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

uint16_t attributeAt(const WebConsole& console, int column, int row) {
    const uint8_t* cell = console.cells().pixels() + row * console.cells().pitch() + column * 4;
    return uint16_t(cell[2] | cell[3] << 8);
}

// ---- Text as the console shows it ----

TEST(WebConsole, StartUpLinesLandAtTheCursorInLightGrey) {
    WebConsole console;
    EXPECT_EQ(rowText(console, 0), "");
    writeConsoleText(console, TEXT_INITIALIZE);
    writeConsoleText(console, TEXT_START);
    EXPECT_EQ(rowText(console, 0), "Initialize VORNAK...");
    EXPECT_EQ(rowText(console, 1), "Start in 3 seconds...");
    EXPECT_EQ(rowText(console, 2), "");
    EXPECT_EQ(attributeAt(console, 0, 0), 0x07);
    EXPECT_EQ(attributeAt(console, 79, 49), 0x07);
    EXPECT_EQ(console.text(), std::string(TEXT_INITIALIZE) + TEXT_START);
}

TEST(WebConsole, LongLinesWrapAndTheBufferScrolls) {
    WebConsole console;
    const std::string line(85, 'x');
    writeConsoleText(console, line.c_str());
    EXPECT_EQ(rowText(console, 0), std::string(80, 'x'));
    EXPECT_EQ(rowText(console, 1), "xxxxx");
    for (int n = 0; n < 49; ++n) writeConsoleText(console, "\nline");
    // 51 lines written: the first has scrolled out, the last is on row 49.
    EXPECT_EQ(rowText(console, 0), "xxxxx");
    EXPECT_EQ(rowText(console, 49), "line");
    writeConsoleText(console, "\r>");
    EXPECT_EQ(rowText(console, 49), ">ine");
}

TEST(WebConsole, FramesReplaceWholeRows) {
    WebConsole console;
    writeConsoleText(console, "text");
    std::vector<uint8_t> row(90 * 4, 0);
    for (size_t i = 0; i < row.size(); i += 4) {
        row[i] = 0xDB;
        row[i + 2] = 0x1E;
    }
    console.writeCellRow(0, row.data(), 90);   // clipped to 80 cells
    console.writeCellRow(50, row.data(), 80);  // below the buffer: ignored
    console.writeCellRow(-1, row.data(), 80);
    EXPECT_EQ(rowText(console, 0), std::string(80, char(0xDB)));
    EXPECT_EQ(attributeAt(console, 79, 0), 0x1E);
    EXPECT_EQ(rowText(console, 1), "");
    EXPECT_EQ(rowText(console, 49), "");
}

TEST(WebConsole, DrawsTheConsoleLookOfItsBuffer) {
    WebConsole console;
    writeConsoleText(console, "Initialize VORNAK... FAILED!");
    std::vector<uint8_t> pixels(size_t(WebConsole::PIXEL_WIDTH) * WebConsole::PIXEL_HEIGHT * 4,
                                0x55);
    console.drawLook(pixels.data());
    RgbaImage expected;
    ASSERT_TRUE(drawConsoleLook(console.cells(), expected));
    EXPECT_EQ(expected.width, WebConsole::PIXEL_WIDTH);
    EXPECT_EQ(expected.height, WebConsole::PIXEL_HEIGHT);
    EXPECT_EQ(pixels, expected.pixels);
}

TEST(WebConsole, DrawsWhatChangedAndSaysWhere) {
    WebConsole console;
    std::vector<uint8_t> pixels(size_t(WebConsole::PIXEL_WIDTH) * WebConsole::PIXEL_HEIGHT * 4);
    std::vector<uint8_t> row(80 * 4, 0);
    row[10 * 4] = 'A';
    row[11 * 4 + 2] = 0x1E;
    using Rect = std::array<int32_t, 4>;
    const auto changes = [&](auto&& change) {
        const uint32_t version = console.cellsVersion();
        change();
        EXPECT_NE(console.cellsVersion(), version);
        const WebConsole::CellRect r = console.drawChangedLook(pixels.data());
        return Rect{r.column, r.row, r.columns, r.rows};
    };
    // The first draw is the whole buffer; then only the cells that differ from the last draw.
    EXPECT_EQ(changes([&] { writeConsoleText(console, "go"); }), (Rect{0, 0, 80, 50}));
    EXPECT_EQ(changes([&] { writeConsoleText(console, "go"); }), (Rect{2, 0, 2, 1}));
    EXPECT_EQ(changes([&] { console.writeCellRow(7, row.data(), 80); }), (Rect{0, 7, 80, 1}));
    row[10 * 4] = 'B';
    console.writeCellRow(7, row.data(), 80);
    EXPECT_EQ(changes([&] { console.writeCellRow(30, row.data(), 80); }), (Rect{0, 7, 80, 24}));
    EXPECT_EQ(changes([&] { console.writeCellRow(30, row.data(), 80); }), (Rect{0, 0, 0, 0}));
    RgbaImage expected;
    ASSERT_TRUE(drawConsoleLook(console.cells(), expected));
    EXPECT_EQ(pixels, expected.pixels);
}

// ---- Keys ----

TEST(WebConsole, KeysQueueInOrderUntilReadOrFlushed) {
    WebConsole console;
    console.pushKey(CONSOLE_VK_ESCAPE, true);
    console.pushKey(CONSOLE_VK_ESCAPE, false);
    ASSERT_EQ(console.pendingInputEvents(), 2u);
    ConsoleInputEvent event;
    ASSERT_TRUE(console.readInputEvent(event));
    EXPECT_EQ(event.eventType, CONSOLE_KEY_EVENT);
    EXPECT_EQ(event.keyDown, 1);
    EXPECT_EQ(event.virtualKeyCode, CONSOLE_VK_ESCAPE);
    ASSERT_TRUE(console.readInputEvent(event));
    EXPECT_EQ(event.keyDown, 0);
    EXPECT_FALSE(console.readInputEvent(event));

    console.pushKey(CONSOLE_VK_ESCAPE, true);
    console.flushInput();
    EXPECT_EQ(console.pendingInputEvents(), 0u);
    EXPECT_FALSE(consumeInputForEscape(console));

    // A full queue drops what comes on top, and still holds the Escape.
    for (int n = 0; n < 100; ++n) console.pushKey(uint16_t(n == 0 ? CONSOLE_VK_ESCAPE : 'A'), true);
    EXPECT_EQ(console.pendingInputEvents(), 64u);
    EXPECT_TRUE(consumeInputForEscape(console));
    EXPECT_EQ(console.pendingInputEvents(), 0u);
}

// ---- The page's pacing: the frame loop's slots without sleeping ----

TEST(WebPacing, SlotsAreTwentyMillisecondsAndLostTimeIsNotMadeUp) {
    EXPECT_EQ(nextFrameSlot(1005, 1000).wait, 15u);
    EXPECT_EQ(nextFrameSlot(1005, 1000).nextTick, 1020u);
    EXPECT_EQ(nextFrameSlot(1000, 1000).wait, 20u);
    EXPECT_EQ(nextFrameSlot(1020, 1000).wait, 0u);
    EXPECT_EQ(nextFrameSlot(1047, 1000).nextTick, 1047u);
    // Across the wrap of the tick count.
    EXPECT_EQ(nextFrameSlot(4, 0xFFFFFFFCu).wait, 12u);
    EXPECT_EQ(nextFrameSlot(4, 0xFFFFFFFCu).nextTick, 16u);
}

}  // namespace
