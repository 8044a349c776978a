// Frame times of the metaball scene (its render alone) over each of its two
// showings, frame by frame at the show's 20 ms pace: mean and worst in microseconds
// of the thread's CPU time, so that other processes on the machine do not show up
// as slow frames.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>

#include "render/render_context.h"
#include "render/sgl.h"
#include "scenes/metaball_field_scene.h"

namespace {

double threadMicroseconds() {
#ifdef CLOCK_THREAD_CPUTIME_ID
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1e3;
#else
    return std::chrono::duration<double, std::micro>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}

constexpr uint32_t FIRST_LENGTH = 79354 - METABALL_FIRST_START;
constexpr uint32_t SECOND_LENGTH = 161297 - METABALL_SECOND_START;

void BM_MetaballShowing(benchmark::State& state) {
    const bool second = state.range(0) == 2;
    Surface colour, depth, stencil;
    colour.create({160, 100}, 4);
    depth.create({160, 100}, 4);
    stencil.create({160, 100}, 1);
    std::memset(stencil.pixels(), 0, 160 * 100);
    FrameBuffer fb;
    fb.init();
    fb.attach(&colour, SGL_COLOR_BUFFER);
    fb.attach(&depth, SGL_DEPTH_BUFFER);
    fb.attach(&stencil, SGL_STENCIL_BUFFER);
    sglInit();
    sglBindFrameBuffer(&fb);

    double totalUs = 0.0, worstUs = 0.0;
    uint64_t frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh scene each round, so the cover and the tracks run as in the show.
        auto scene = std::make_unique<MetaballFieldScene>();
        scene->init();
        if (second) {
            for (uint32_t t = 0; t < FIRST_LENGTH; t += 20)
                scene->tracks.evaluate(t + METABALL_FIRST_START);
            scene->startTime(2);
        }
        state.ResumeTiming();
        const uint32_t length = second ? SECOND_LENGTH : FIRST_LENGTH;
        for (uint32_t t = 0; t < length; t += 20) {
            const double begin = threadMicroseconds();
            scene->render(t);
            const double us = threadMicroseconds() - begin;
            totalUs += us;
            worstUs = std::max(worstUs, us);
            ++frames;
        }
        benchmark::ClobberMemory();
    }
    state.counters["mean_us"] = frames != 0 ? totalUs / double(frames) : 0.0;
    state.counters["worst_us"] = worstUs;
    state.counters["frames"] = double(frames);

    sglInit();
    renderContext.frameBuffer = nullptr;
    colour.release();
    depth.release();
    stencil.release();
}
BENCHMARK(BM_MetaballShowing)->ArgName("showing")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
