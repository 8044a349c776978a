#include "platform/headless_console.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

HeadlessConsole::HeadlessConsole() {
    setScreenBufferSize(80, 50);
}

void HeadlessConsole::setScreenBufferSize(int16_t columns, int16_t rows) {
    columns_ = std::max<int16_t>(columns, 1);
    rows_ = std::max<int16_t>(rows, 1);
    cells_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_) * CONSOLE_CELL_BYTES,
                  0);
}

void HeadlessConsole::flushInput() {
    while (nextInput_ < input_.size() && input_[nextInput_].frames <= frames_) ++nextInput_;
}

void HeadlessConsole::writeCellRow(int16_t row, const uint8_t* cells, int16_t count) {
    ++rowWrites_;
    // Like the console, clip to the screen buffer.
    if (row < 0 || row >= rows_ || count <= 0) return;
    const int16_t written = std::min(count, columns_);
    std::memcpy(
        &cells_[static_cast<size_t>(row) * static_cast<size_t>(columns_) * CONSOLE_CELL_BYTES],
        cells, static_cast<size_t>(written) * CONSOLE_CELL_BYTES);
}

void HeadlessConsole::endFrame() {
    ++frames_;
    if (frameHook_) frameHook_(*this, frames_);
}

uint32_t HeadlessConsole::pendingInputEvents() {
    uint32_t pending = 0;
    for (size_t i = nextInput_; i < input_.size() && input_[i].frames <= frames_; ++i) ++pending;
    return pending;
}

bool HeadlessConsole::readInputEvent(ConsoleInputEvent& event) {
    if (nextInput_ >= input_.size() || input_[nextInput_].frames > frames_) return false;
    event = input_[nextInput_++].event;
    return true;
}

void HeadlessConsole::scheduleInput(uint32_t frames, const ConsoleInputEvent& event) {
    // Keep the script ordered by frame; events for the same frame stay in order.
    auto at =
        std::upper_bound(input_.begin() + static_cast<std::ptrdiff_t>(nextInput_), input_.end(),
                         frames, [](uint32_t f, const ScheduledInput& s) { return f < s.frames; });
    input_.insert(at, {frames, event});
}

const uint8_t* HeadlessConsole::cellAt(int16_t column, int16_t row) const {
    if (column < 0 || column >= columns_ || row < 0 || row >= rows_) return nullptr;
    return &cells_[(static_cast<size_t>(row) * static_cast<size_t>(columns_) +
                    static_cast<size_t>(column)) *
                   CONSOLE_CELL_BYTES];
}
