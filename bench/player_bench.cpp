// The player's key-to-frame time: jumps to 200 random grid positions of the
// whole show, each from wherever the one before left it, with the snapshots kept
// as the live show keeps them before its first frame. Reports the worst and the
// mean jump in thread CPU time (restore, silent frames, the frame shown and its
// cells written to a console), and the snapshots' memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <random>

#include "platform/headless_console.h"
#include "program/player.h"

namespace {

double threadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void BM_PlayerJumps(benchmark::State& state) {
    HeadlessConsole console;
    MutedDemo<Demo> demo(vornakDemo);
    FrameLoop<MutedDemo<Demo>> loop(console, demo);
    if (!loop.start()) {
        state.SkipWithError("the show did not start");
        return;
    }
    double worst = 0;
    double total = 0;
    size_t jumps = 0;
    size_t snapshotBytes = 0;
    {
        Player<MutedDemo<Demo>> player(console, loop, demo);
        struct StoppedClock : Clock {  // never reaches the end of keeping
            uint32_t tickCount() override { return 0; }
            void sleep(uint32_t) override {}
        } clock;
        const double prepareStart = threadCpuMilliseconds();
        player.keepSnapshots(clock, 1);
        state.counters["prepare_ms"] = threadCpuMilliseconds() - prepareStart;
        snapshotBytes = player.snapshotBytes();
        player.begin(0, 0);
        std::mt19937 random(26);
        std::uniform_int_distribution<uint32_t> position(0, SHOW_LENGTH_MS / FRAME_MS);
        for (auto _ : state) {
            for (int i = 0; i < 200; ++i) {
                const uint32_t t = position(random) * FRAME_MS;
                const double start = threadCpuMilliseconds();
                player.seekTo(t, 0);
                const double spent = threadCpuMilliseconds() - start;
                worst = std::max(worst, spent);
                total += spent;
                ++jumps;
            }
        }
    }
    loop.finish();
    state.counters["worst_jump_ms"] = worst;
    state.counters["mean_jump_ms"] = jumps > 0 ? total / double(jumps) : 0;
    state.counters["snapshot_MB"] = double(snapshotBytes) / 1e6;
}
BENCHMARK(BM_PlayerJumps)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
