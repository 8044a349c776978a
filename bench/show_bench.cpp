// The whole show rendered offline: every frame of the 173-second timeline
// rendered, reduced and converted to cells, with no console output. Also the
// mean and worst frame time of each stretch of the timeline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "platform/virtual_clock.h"
#include "show/demo.h"
#include "textmode/text_converter.h"
#include "textmode/text_mode.h"

namespace {

double threadCpuMicroseconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 10.0;  // 100 ns ticks
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
#endif
}

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

// Frame times (render, reduce, convert) by stretch of the timeline, in µs of
// the thread's CPU time. Each frame counts with the least of three runs, so
// that a frame the machine interrupted does not pass for a slow one.
static void BM_FrameTimeByStretch(benchmark::State& state) {
    constexpr int RUNS = 3;
    std::vector<double> least;
    std::vector<int> stretchOfFrame;
    for (auto _ : state) {
        for (int run = 0; run < RUNS; ++run) {
            OfflineShow show;
            uint8_t running = 1;
            for (size_t frame = 0; running == 1; ++frame) {
                const double begin = threadCpuMicroseconds();
                running = show.frame();
                const double us = threadCpuMicroseconds() - begin;
                if (run == 0) {
                    least.push_back(us);
                    stretchOfFrame.push_back(stretchOf(vornakDemo.demoTime()));
                } else if (frame < least.size()) {
                    least[frame] = std::min(least[frame], us);
                }
            }
        }
    }
    double total[STRETCH_COUNT] = {};
    double worst[STRETCH_COUNT] = {};
    int64_t count[STRETCH_COUNT] = {};
    for (size_t frame = 0; frame < least.size(); ++frame) {
        const int stretch = stretchOfFrame[frame];
        total[stretch] += least[frame];
        worst[stretch] = std::max(worst[stretch], least[frame]);
        ++count[stretch];
    }
    double worstOfAll = 0.0;
    for (int i = 0; i < STRETCH_COUNT; ++i) {
        state.counters[std::string(STRETCHES[i].name) + "_mean_us"] =
            count[i] ? total[i] / double(count[i]) : 0.0;
        state.counters[std::string(STRETCHES[i].name) + "_worst_us"] = worst[i];
        worstOfAll = std::max(worstOfAll, worst[i]);
    }
    state.counters["worst_us"] = worstOfAll;
}
BENCHMARK(BM_FrameTimeByStretch)->Unit(benchmark::kMillisecond)->Iterations(1);
