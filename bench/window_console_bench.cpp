// CPU time of the window console per frame: the 50 row writes, the console look
// drawn into the streaming texture, the scaled copy and the present. On the X
// server of DISPLAY when there is one (the server's own work is not counted),
// otherwise on SDL's display-less driver with the software renderer. Process
// CPU time, so that a renderer's worker threads count too.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sdl_window_console.h"

namespace {

// Busy cells of a moving picture: shade blocks whose colours depend on the
// place and on `phase`, so that consecutive frames differ everywhere.
void fillCells(std::vector<uint8_t>& cells, int phase) {
    static constexpr uint8_t SHADES[] = {32, 176, 177, 178, 219};
    for (int row = 0; row < WINDOW_CONSOLE_ROWS; ++row) {
        for (int column = 0; column < WINDOW_CONSOLE_COLUMNS; ++column) {
            uint8_t* cell = &cells[size_t(row * WINDOW_CONSOLE_COLUMNS + column) * 4];
            const int v = (column + row * 3 + phase) / 4;
            cell[0] = SHADES[v % 5];
            cell[2] = uint8_t((v % 16) | ((v / 5 % 8) << 4));
        }
    }
}

void writeFrame(SdlWindowConsole& console, const std::vector<uint8_t>& cells) {
    console.beginFrame();
    for (int row = 0; row < WINDOW_CONSOLE_ROWS; ++row) {
        console.writeCellRow(int16_t(row), &cells[size_t(row * WINDOW_CONSOLE_COLUMNS) * 4],
                             int16_t(WINDOW_CONSOLE_COLUMNS));
    }
    console.endFrame();
}

// range(0): window scale; range(1): 1 when every frame changes, 0 when all are the same.
void BM_WindowConsoleFrame(benchmark::State& state) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || display[0] == 0) setenv("SDL_VIDEODRIVER", "dummy", 1);
    SdlWindowConsole console;
    std::string reason;
    const int scale = int(state.range(0));
    if (!console.open(reason, 640 * scale, 600 * scale)) {
        state.SkipWithError(reason.c_str());
        return;
    }
    std::vector<uint8_t> frames[2] = {std::vector<uint8_t>(80 * 50 * 4),
                                      std::vector<uint8_t>(80 * 50 * 4)};
    fillCells(frames[0], 0);
    fillCells(frames[1], state.range(1) != 0 ? 7 : 0);
    size_t n = 0;
    for (auto _ : state) {
        writeFrame(console, frames[n++ & 1]);
        console.handleWindowEvents();
    }
    console.close();
}
BENCHMARK(BM_WindowConsoleFrame)
    ->ArgNames({"scale", "changing"})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({2, 1})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
