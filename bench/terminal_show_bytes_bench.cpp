// What the terminal receives over the whole show at 80x50: every cell frame of
// a muted run replayed through the encoder, per colour mode. Counters in bytes
// per changed frame (one whose encoding is not empty): average, 99th percentile
// and maximum; also the number of changed frames and the encoding time per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/terminal_encoder.h"
#include "tests/show_cell_frames.h"

namespace {

constexpr int COLUMNS = 80;
constexpr int ROWS = 50;
constexpr size_t FRAME_BYTES = size_t(COLUMNS) * ROWS * 4;

// Every frame of the show, one after another (about 140 MB, captured once).
const std::vector<uint8_t>& showFrames() {
    static const std::vector<uint8_t> frames = [] {
        std::vector<uint8_t> all;
        const bool ran = forEachShowFrame([&](const uint8_t* cells, uint32_t) {
            all.insert(all.end(), cells, cells + FRAME_BYTES);
        });
        if (!ran) std::fprintf(stderr, "terminal_show_bytes_bench: the show did not start\n");
        return all;
    }();
    return frames;
}

void BM_TerminalShowBytes(benchmark::State& state) {
    const auto colors = static_cast<TerminalColors>(state.range(0));
    const std::vector<uint8_t>& frames = showFrames();
    const size_t frameCount = frames.size() / FRAME_BYTES;
    std::vector<size_t> sizes;
    sizes.reserve(frameCount);
    for (auto _ : state) {
        sizes.clear();
        TerminalEncoder encoder(colors, COLUMNS, ROWS);
        for (size_t i = 0; i < frameCount; ++i) {
            const size_t bytes = encoder.encodeFrame(&frames[i * FRAME_BYTES], COLUMNS * 4).size();
            if (bytes > 0) sizes.push_back(bytes);
        }
    }
    if (sizes.empty()) {
        state.SkipWithError("no frames");
        return;
    }
    double total = 0;
    for (size_t size : sizes) total += double(size);
    std::sort(sizes.begin(), sizes.end());
    state.counters["changed_frames"] = double(sizes.size());
    state.counters["avg_bytes"] = total / double(sizes.size());
    state.counters["p99_bytes"] = double(sizes[(sizes.size() * 99) / 100]);
    state.counters["max_bytes"] = double(sizes.back());
    state.counters["frame_time"] =
        benchmark::Counter(double(frameCount) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_TerminalShowBytes)
    ->Arg(static_cast<int>(TerminalColors::TrueColor))
    ->Arg(static_cast<int>(TerminalColors::Palette256))
    ->Arg(static_cast<int>(TerminalColors::Ansi16))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
