#include "scene_frame_times.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <vector>

namespace {

double threadMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
}

double wallMicroseconds() {
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Demo& benchmarkDemo() {
    static Demo& demo = []() -> Demo& {
        vornakDemo.setSoundEnabled(0);
        vornakDemo.init({160, 100});
        return vornakDemo;
    }();
    return demo;
}

void timeSceneFrames(benchmark::State& state, uint32_t length, uint32_t offset,
                     const std::function<Scene&()>& sceneForRound) {
    const size_t frames = (length + 19) / 20;
    std::vector<double> best(frames, std::numeric_limits<double>::infinity());
    double wallTotal = 0.0, wallWorst = 0.0, cpuTotal = 0.0, cpuWorst = 0.0;
    int64_t rendered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Scene& scene = sceneForRound();
        state.ResumeTiming();
        for (size_t i = 0; i < frames; ++i) {
            const double wallBegin = wallMicroseconds();
            const double cpuBegin = threadMicroseconds();
            scene.render(offset + uint32_t(i) * 20);
            const double cpu = threadMicroseconds() - cpuBegin;
            const double wall = wallMicroseconds() - wallBegin;
            wallTotal += wall;
            wallWorst = std::max(wallWorst, wall);
            cpuTotal += cpu;
            cpuWorst = std::max(cpuWorst, cpu);
            best[i] = std::min(best[i], cpu);
            ++rendered;
        }
        benchmark::ClobberMemory();
    }
    if (rendered == 0) return;
    double bestTotal = 0.0;
    for (double us : best) bestTotal += us;
    state.counters["frames"] = double(frames);
    state.counters["mean_us"] = wallTotal / double(rendered);
    state.counters["worst_us"] = wallWorst;
    state.counters["cpu_mean_us"] = cpuTotal / double(rendered);
    state.counters["cpu_worst_us"] = cpuWorst;
    state.counters["best_mean_us"] = bestTotal / double(frames);
    state.counters["best_worst_us"] = *std::max_element(best.begin(), best.end());
}
