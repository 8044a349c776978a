#include "web/web_console.h"

#include <algorithm>
#include <cstring>

#include "data/console_font.h"
#include "image/console_look.h"

namespace {

constexpr uint16_t TEXT_ATTRIBUTE = 0x07;  // light grey on black, the console's default

void blankCells(uint8_t* cells, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        uint8_t* cell = cells + i * CONSOLE_CELL_BYTES;
        cell[0] = ' ';
        cell[1] = 0;
        cell[2] = TEXT_ATTRIBUTE & 0xFF;
        cell[3] = TEXT_ATTRIBUTE >> 8;
    }
}

}  // namespace

WebConsole::WebConsole() {
    cells_.create({COLUMNS, ROWS}, CONSOLE_CELL_BYTES);
    blankCells(cells_.pixels(), size_t(COLUMNS) * ROWS);
    drawnCells_.create({COLUMNS, ROWS}, CONSOLE_CELL_BYTES);
    oneCell_.create({1, 1}, CONSOLE_CELL_BYTES);
}

WebConsole::~WebConsole() {
    cells_.release();
    drawnCells_.release();
    oneCell_.release();
}

void WebConsole::flushInput() {
    inputStart_ = 0;
    inputCount_ = 0;
}

void WebConsole::newLine() {
    cursorColumn_ = 0;
    if (cursorRow_ + 1 < ROWS) {
        ++cursorRow_;
        return;
    }
    const size_t rowBytes = size_t(cells_.pitch());
    std::memmove(cells_.pixels(), cells_.pixels() + rowBytes, rowBytes * (ROWS - 1));
    blankCells(cells_.pixels() + rowBytes * (ROWS - 1), COLUMNS);
    ++cellsVersion_;
}

void WebConsole::writeText(const char* text, uint32_t length) {
    text_.append(text, length);
    for (uint32_t i = 0; i < length; ++i) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c == '\n') {
            newLine();
            continue;
        }
        if (c == '\r') {
            cursorColumn_ = 0;
            continue;
        }
        uint8_t* cell = cells_.pixels() + size_t(cursorRow_) * size_t(cells_.pitch()) +
                        size_t(cursorColumn_) * CONSOLE_CELL_BYTES;
        cell[0] = c;
        cell[1] = 0;
        cell[2] = TEXT_ATTRIBUTE & 0xFF;
        cell[3] = TEXT_ATTRIBUTE >> 8;
        ++cellsVersion_;
        if (++cursorColumn_ == COLUMNS) newLine();
    }
}

void WebConsole::writeCellRow(int16_t row, const uint8_t* cells, int16_t count) {
    if (row < 0 || row >= ROWS || count <= 0) return;
    const size_t bytes = size_t(std::min(count, COLUMNS)) * CONSOLE_CELL_BYTES;
    std::memcpy(cells_.pixels() + size_t(row) * size_t(cells_.pitch()), cells, bytes);
    ++cellsVersion_;
}

uint32_t WebConsole::pendingInputEvents() {
    return static_cast<uint32_t>(inputCount_);
}

bool WebConsole::readInputEvent(ConsoleInputEvent& event) {
    if (inputCount_ == 0) return false;
    event = input_[inputStart_];
    inputStart_ = (inputStart_ + 1) % input_.size();
    --inputCount_;
    return true;
}

void WebConsole::pushKey(uint16_t virtualKeyCode, bool down) {
    if (inputCount_ == input_.size()) return;
    input_[(inputStart_ + inputCount_) % input_.size()] = {CONSOLE_KEY_EVENT, uint8_t(down ? 1 : 0),
                                                           virtualKeyCode};
    ++inputCount_;
}

void WebConsole::drawLook(uint8_t* rgba) const {
    drawConsoleLookInto(cells_, rgba, size_t(PIXEL_WIDTH) * 4);
}

WebConsole::CellRect WebConsole::drawChangedLook(uint8_t* rgba) {
    const size_t pitch = size_t(PIXEL_WIDTH) * 4;
    int32_t left = COLUMNS, top = ROWS, right = -1, bottom = -1;
    for (int32_t row = 0; row < ROWS; ++row) {
        const uint8_t* cell = cells_.pixels() + size_t(row) * size_t(cells_.pitch());
        uint8_t* drawn = drawnCells_.pixels() + size_t(row) * size_t(drawnCells_.pitch());
        for (int32_t column = 0; column < COLUMNS; ++column) {
            const size_t at = size_t(column) * CONSOLE_CELL_BYTES;
            if (drawnAll_ && std::memcmp(cell + at, drawn + at, CONSOLE_CELL_BYTES) == 0) continue;
            std::memcpy(drawn + at, cell + at, CONSOLE_CELL_BYTES);
            std::memcpy(oneCell_.pixels(), cell + at, CONSOLE_CELL_BYTES);
            drawConsoleLookInto(oneCell_,
                                rgba + size_t(row) * CONSOLE_FONT_HEIGHT * pitch +
                                    size_t(column) * CONSOLE_FONT_WIDTH * 4,
                                pitch);
            left = std::min(left, column);
            right = std::max(right, column);
            top = std::min(top, row);
            bottom = std::max(bottom, row);
        }
    }
    drawnAll_ = true;
    if (right < 0) return {};
    return {left, top, right - left + 1, bottom - top + 1};
}
