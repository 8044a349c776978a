// Cost and size of the terminal output: a full repaint and a typical frame in
// which part of the picture changed. The counter bytes_per_frame is what one
// frame sends to the terminal.
#include "platform/terminal_encoder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// Shade-block cells of a busy picture: every cell's colours and shade depend on
// its place and on `phase`.
void fillCells(std::vector<uint8_t>& cells, int phase) {
    static constexpr uint8_t SHADES[] = {32, 176, 177, 178, 219};
    for (int row = 0; row < 50; ++row) {
        for (int column = 0; column < 80; ++column) {
            uint8_t* cell = &cells[static_cast<size_t>(row * 80 + column) * 4];
            const int v = (column + row * 3 + phase) / 4;
            cell[0] = SHADES[v % 5];
            cell[2] = static_cast<uint8_t>((v % 16) | ((v / 5 % 8) << 4));
        }
    }
}

void BM_TerminalFullRepaint(benchmark::State& state) {
    const auto colors = static_cast<TerminalColors>(state.range(0));
    TerminalEncoder encoder(colors, 80, 50);
    std::vector<uint8_t> cells(80 * 50 * 4);
    fillCells(cells, 0);
    size_t bytes = 0;
    for (auto _ : state) {
        encoder.invalidate();
        bytes = encoder.encodeFrame(cells.data(), 80 * 4).size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes_per_frame"] = static_cast<double>(bytes);
}

// A moving object over a still background: a block of 24x16 cells (about a
// tenth of the screen) changes from frame to frame.
void BM_TerminalTypicalFrame(benchmark::State& state) {
    const auto colors = static_cast<TerminalColors>(state.range(0));
    TerminalEncoder encoder(colors, 80, 50);
    std::vector<uint8_t> frames[2] = {std::vector<uint8_t>(80 * 50 * 4),
                                      std::vector<uint8_t>(80 * 50 * 4)};
    fillCells(frames[0], 0);
    frames[1] = frames[0];
    std::vector<uint8_t> moving(80 * 50 * 4);
    fillCells(moving, 37);
    for (int row = 17; row < 33; ++row) {
        for (int column = 28; column < 52; ++column) {
            const size_t at = static_cast<size_t>(row * 80 + column) * 4;
            for (int b = 0; b < 4; ++b) frames[1][at + b] = moving[at + b];
        }
    }
    encoder.encodeFrame(frames[0].data(), 80 * 4);
    size_t bytes = 0;
    int which = 1;
    for (auto _ : state) {
        bytes = encoder.encodeFrame(frames[which].data(), 80 * 4).size();
        benchmark::DoNotOptimize(bytes);
        which ^= 1;
    }
    state.counters["bytes_per_frame"] = static_cast<double>(bytes);
}

constexpr int TRUE_COLOR = static_cast<int>(TerminalColors::TrueColor);
constexpr int PALETTE_256 = static_cast<int>(TerminalColors::Palette256);
constexpr int ANSI_16 = static_cast<int>(TerminalColors::Ansi16);

}  // namespace

BENCHMARK(BM_TerminalFullRepaint)->Arg(TRUE_COLOR)->Arg(PALETTE_256)->Arg(ANSI_16);
BENCHMARK(BM_TerminalTypicalFrame)->Arg(TRUE_COLOR)->Arg(PALETTE_256)->Arg(ANSI_16);
