// The console of the page: an 80x50 screen buffer of CHAR_INFO cells that text
// output and frames are written into, as the Windows console keeps it, and the
// page's key presses as input events. The page shows the buffer in the console's
// own look.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/surface.h"
#include "platform/console.h"

class WebConsole : public Console {
  public:
    static constexpr int16_t COLUMNS = 80;
    static constexpr int16_t ROWS = 50;
    // Width and height of the console look in pixels (8x12 per cell).
    static constexpr int PIXEL_WIDTH = COLUMNS * 8;
    static constexpr int PIXEL_HEIGHT = ROWS * 12;

    WebConsole();
    ~WebConsole() override;
    WebConsole(const WebConsole&) = delete;
    WebConsole& operator=(const WebConsole&) = delete;

    void setTitle(const char* title) override { title_ = title; }
    // The page's buffer is always 80x50; a request for another size keeps it.
    void setScreenBufferSize(int16_t, int16_t) override {}
    void flushInput() override;
    // Text at the cursor in light grey on black: a line feed starts the next
    // line, a full line wraps, and text below the last row scrolls the buffer up.
    void writeText(const char* text, uint32_t length) override;
    void writeCellRow(int16_t row, const uint8_t* cells, int16_t count) override;
    // The page shows the status line under the picture.
    bool hasStatusRow() const override { return true; }
    void writeStatusLine(const char* text, uint32_t length) override {
        statusLine_.assign(text, length);
    }
    uint32_t pendingInputEvents() override;
    bool readInputEvent(ConsoleInputEvent& event) override;

    // A key from the page; dropped when the queue is full (the loop reads it every frame).
    void pushKey(uint16_t virtualKeyCode, bool down);

    // Draws the console look of the buffer into PIXEL_WIDTH x PIXEL_HEIGHT RGBA pixels.
    void drawLook(uint8_t* rgba) const;

    // The cells that changed since the last call, as a rectangle of cells
    // (empty when none did), with the console look of each changed cell drawn
    // into `rgba`, which holds what the calls before drew. The first call draws
    // every cell.
    struct CellRect {
        int32_t column = 0, row = 0, columns = 0, rows = 0;
    };
    CellRect drawChangedLook(uint8_t* rgba);

    // Counts the changes to the cells, so that a presenter can tell a new picture.
    uint32_t cellsVersion() const { return cellsVersion_; }

    const std::string& title() const { return title_; }
    // Everything written as text so far.
    const std::string& text() const { return text_; }
    const std::string& statusLine() const { return statusLine_; }
    const Surface& cells() const { return cells_; }

  private:
    void newLine();

    std::string title_;
    std::string text_;
    std::string statusLine_;
    Surface cells_;
    Surface drawnCells_;  // the cells as drawChangedLook last drew them
    Surface oneCell_;     // a changed cell, drawn by itself
    bool drawnAll_ = false;
    uint32_t cellsVersion_ = 0;
    int16_t cursorColumn_ = 0;
    int16_t cursorRow_ = 0;
    std::array<ConsoleInputEvent, 64> input_{};
    size_t inputStart_ = 0;
    size_t inputCount_ = 0;
};
