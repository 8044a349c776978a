// The cube scene's render over its whole showing (every 20 ms frame from 0 to
// 20480 ms of scene time, captions included), inside a Demo with the show's
// 160x100 buffers: mean and worst frame time in microseconds, wall clock and
// processor time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "demo/demo.h"
#include "scenes/cube_stream_scene.h"
#include "tests/idle_scene.h"

namespace {

constexpr uint32_t SHOWING_MS = 99834 - 79354;

Scene* makeCubes(Demo&) {
    return new CubeStreamScene;
}

void runShowing(benchmark::State& state, uint32_t offset) {
    Demo demo;
    demo.setSceneFactories({makeCubes, makeIdleScene, makeIdleScene, makeIdleScene, makeIdleScene,
                            makeIdleScene, makeIdleScene});
    demo.setSoundEnabled(0);
    if (demo.init({160, 100}) != 0) {
        state.SkipWithError("Demo::init failed");
        return;
    }
    Scene* scene = demo.scene(SLOT_CUBES);
    double totalSeconds = 0.0;
    double worstSeconds = 0.0;
    double totalCpuSeconds = 0.0;
    double worstCpuSeconds = 0.0;
    uint64_t frames = 0;
    for (auto _ : state) {
        for (uint32_t t = 0; t < SHOWING_MS; t += 20) {
            const auto start = std::chrono::steady_clock::now();
            const std::clock_t cpuStart = std::clock();
            scene->render(t + offset);
            const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            totalSeconds += spent.count();
            worstSeconds = std::max(worstSeconds, spent.count());
            totalCpuSeconds += cpu;
            worstCpuSeconds = std::max(worstCpuSeconds, cpu);
            ++frames;
        }
        benchmark::ClobberMemory();
    }
    state.counters["mean_us"] = totalSeconds / double(frames) * 1e6;
    state.counters["worst_us"] = worstSeconds * 1e6;
    // Processor time is what the frame costs when other processes share the machine.
    state.counters["cpu_mean_us"] = totalCpuSeconds / double(frames) * 1e6;
    state.counters["cpu_worst_us"] = worstCpuSeconds * 1e6;
}

void BM_CubeStreamShowing(benchmark::State& state) {
    runShowing(state, 0);
}

void BM_CubeStreamReplay(benchmark::State& state) {
    runShowing(state, SCENE_REPLAY_OFFSET);
}

}  // namespace

BENCHMARK(BM_CubeStreamShowing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CubeStreamReplay)->Unit(benchmark::kMillisecond);
