// Render time of the glow-trail scene and the finale, frame by frame over their
// showings (20 ms apart), with the show's Demo built around them: mean and worst
// frame in µs, by the wall clock and by processor time (which a busy machine's
// other work does not inflate).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "demo/demo.h"

namespace {

void frameTimesOfShowing(benchmark::State& state, DemoSceneSlot slot, uint32_t length) {
    static Demo demo;
    if (!demo.initialised()) {
        demo.setSoundEnabled(0);
        demo.init({160, 100});
    }
    Scene* scene = demo.scene(slot);
    double total = 0.0;
    double worst = 0.0;
    double cpuTotal = 0.0;
    double cpuWorst = 0.0;
    int64_t frames = 0;
    for (auto _ : state) {
        for (uint32_t t = 0; t < length; t += 20) {
            const std::clock_t cpuBegin = std::clock();
            const auto begin = std::chrono::steady_clock::now();
            scene->render(t);
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
                    .count();
            const double cpuUs = double(std::clock() - cpuBegin) * 1e6 / CLOCKS_PER_SEC;
            total += us;
            worst = std::max(worst, us);
            cpuTotal += cpuUs;
            cpuWorst = std::max(cpuWorst, cpuUs);
            ++frames;
        }
    }
    state.counters["mean_us"] = total / double(frames);
    state.counters["worst_us"] = worst;
    state.counters["cpu_mean_us"] = cpuTotal / double(frames);
    state.counters["cpu_worst_us"] = cpuWorst;
    state.counters["frames"] = double(frames);
}

}  // namespace

// 99834 to 120314 ms of demo time.
static void BM_GlowTrailSceneFrames(benchmark::State& state) {
    frameTimesOfShowing(state, SLOT_GLOW, 20480);
}
BENCHMARK(BM_GlowTrailSceneFrames)->Unit(benchmark::kMillisecond)->Iterations(5);

// 161297 ms to the last frame after 173000.
static void BM_NoiseTextSceneFrames(benchmark::State& state) {
    frameTimesOfShowing(state, SLOT_NOISE_TEXT, 11724);
}
BENCHMARK(BM_NoiseTextSceneFrames)->Unit(benchmark::kMillisecond)->Iterations(5);
