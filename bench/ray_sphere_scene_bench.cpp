// The sphere with light shafts, render only: every frame of its showing (one
// every 20 ms of demo time) drawn into the Demo's FrameBuffer, with the mean and
// worst frame time in µs. The worst is also given for each frame's best run
// over the iterations, which leaves out one-off stalls of a busy machine.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "demo/demo.h"
#include "platform/virtual_clock.h"
#include "scenes/ray_sphere_scene.h"

namespace {

constexpr uint32_t SHOWING_END = 58880;

void BM_RaySphereFrames(benchmark::State& state) {
    VirtualClock clock;
    vornakDemo.attachPlatform(&clock, nullptr);
    vornakDemo.setSoundEnabled(0);
    if (vornakDemo.init({160, 100}) != 0) {
        state.SkipWithError("Demo::init failed");
        return;
    }
    Scene* scene = vornakDemo.scene(SLOT_SPHERE);
    double total = 0.0;
    double worst = 0.0;
    int64_t frames = 0;
    std::vector<double> best((SHOWING_END - 38400) / 20, 1e30);
    for (auto _ : state) {
        rayPhase = 0;
        for (uint32_t t = 38400; t < SHOWING_END; t += 20) {
            const auto begin = std::chrono::steady_clock::now();
            scene->render(t - RAY_SPHERE_START);
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
                    .count();
            total += us;
            worst = std::max(worst, us);
            double& frameBest = best[(t - 38400) / 20];
            frameBest = std::min(frameBest, us);
            ++frames;
        }
    }
    vornakDemo.shutdown();
    state.counters["frames"] =
        benchmark::Counter(double(frames), benchmark::Counter::kAvgIterations);
    state.counters["mean_us"] = frames ? total / double(frames) : 0.0;
    state.counters["worst_us"] = worst;
    double bestTotal = 0.0;
    for (double us : best) bestTotal += us;
    state.counters["mean_best_us"] = bestTotal / double(best.size());
    state.counters["worst_best_us"] = *std::max_element(best.begin(), best.end());
}
BENCHMARK(BM_RaySphereFrames)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
