// The whole show rendered offline: every frame of the 173-second timeline
// rendered, reduced and converted to cells, with no console output. Also the
// mean and worst frame time of each stretch of the timeline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "show/demo.h"
#include "textmode/text_mode.h"
#include "platform/virtual_clock.h"
#include "textmode/text_converter.h"

namespace {

struct Stretch {
    const char* name;
    uint32_t from;
};

// The timeline's stretches, by demo time at which each begins.
constexpr Stretch STRETCHES[] = {
    {"crosses", 0},  {"sphere", 38388},  {"metaballs1", 58880},  {"cubes", 79354},
    {"glow", 99834}, {"replay", 120314}, {"metaballs2", 140747}, {"finale", 161297},
};
constexpr int STRETCH_COUNT = sizeof STRETCHES / sizeof STRETCHES[0];

int stretchOf(uint32_t demoTime) {
    int index = 0;
    while (index + 1 < STRETCH_COUNT && demoTime >= STRETCHES[index + 1].from) ++index;
    return index;
}

struct OfflineShow {
    OfflineShow() {
        vornakDemo.attachPlatform(&clock, nullptr);
        vornakDemo.setSoundEnabled(0);
        vornakDemo.init({160, 100});
        converters[0].build(0);
        converters[1].build(1);
        reduced.create({80, 50}, 4);
        cells.create({80, 50}, 4);
    }
    ~OfflineShow() {
        reduced.release();
        cells.release();
        converters[0].release();
        converters[1].release();
        vornakDemo.shutdown();
    }

    // One frame as the frame loop makes it, without writing it anywhere.
    uint8_t frame() {
        const uint8_t running = vornakDemo.update(clock.tickCount());
        downsampleSurface(vornakDemo.colorSurface(), &reduced);
        const uint8_t mode = textMode();
        if (mode <= 1) converters[mode].convert(&reduced, &cells);
        clock.advance(20);
        return running;
    }

    VirtualClock clock;
    TextConverter converters[2];
    Surface reduced;
    Surface cells;
};

}  // namespace

static void BM_WholeShowOffline(benchmark::State& state) {
    int64_t frames = 0;
    for (auto _ : state) {
        OfflineShow show;
        while (show.frame() == 1) ++frames;
        ++frames;
    }
    state.counters["frames"] =
        benchmark::Counter(double(frames), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WholeShowOffline)->Unit(benchmark::kMillisecond)->Iterations(3);

// Frame times (render, reduce, convert) by stretch of the timeline, in µs.
static void BM_FrameTimeByStretch(benchmark::State& state) {
    double total[STRETCH_COUNT] = {};
    double worst[STRETCH_COUNT] = {};
    int64_t count[STRETCH_COUNT] = {};
    for (auto _ : state) {
        OfflineShow show;
        uint8_t running = 1;
        while (running == 1) {
            const auto begin = std::chrono::steady_clock::now();
            running = show.frame();
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin)
                    .count();
            const int stretch = stretchOf(vornakDemo.demoTime());
            total[stretch] += us;
            worst[stretch] = std::max(worst[stretch], us);
            ++count[stretch];
        }
    }
    for (int i = 0; i < STRETCH_COUNT; ++i) {
        state.counters[std::string(STRETCHES[i].name) + "_mean_us"] =
            count[i] ? total[i] / double(count[i]) : 0.0;
        state.counters[std::string(STRETCHES[i].name) + "_worst_us"] = worst[i];
    }
}
BENCHMARK(BM_FrameTimeByStretch)->Unit(benchmark::kMillisecond)->Iterations(1);
