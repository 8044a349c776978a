// Cost of recording one frame per container at its default size: the console
// look of changing cells, converted and encoded with 20 ms of sound.
// The show plays 50 frames a second; a recording faster than real time on one
// core needs each frame under 20 ms of CPU (items_per_second above 50).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "image/console_look.h"
#include "image/surface.h"
#include "program/pixel_scaling.h"
#include "program/video_encoder.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

void BM_RecordFrame(benchmark::State& state) {
    const auto container = static_cast<VideoContainer>(state.range(0));
    VideoSettings settings;
    settings.container = container;
    settings.width = 640;
    settings.height = 600;
    const std::string path = "/tmp/vornak-record-bench.part";
    VideoEncoder encoder;
    std::string error;
    if (!encoder.open(path, settings, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Surface cells;
    cells.create({80, 50}, 4);
    std::vector<uint8_t> look(640 * 600 * 4);
    std::vector<int16_t> sound(882 * 2, 0);
    uint32_t seed = 1;
    for (auto _ : state) {
        // Changing glyphs and colours in a third of the cells, like the busier scenes.
        for (int i = 0; i < 80 * 50; ++i) {
            seed = seed * 1664525u + 1013904223u;
            if ((seed >> 30) != 0) continue;
            uint8_t* cell = cells.pixels() + i * 4;
            cell[0] = uint8_t(seed >> 8);
            cell[2] = uint8_t(seed >> 16);
        }
        drawConsoleLookInto(cells, look.data(), 640 * 4);
        if (!encoder.writeFrame(look.data(), 640 * 4, error) ||
            !encoder.writeSound(sound.data(), 882, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    encoder.finish(error);
    cells.release();
    std::remove(path.c_str());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordFrame)
    ->Arg(int(VideoContainer::Mp4))
    ->Arg(int(VideoContainer::WebM))
    ->Arg(int(VideoContainer::Matroska))
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->Iterations(200);

// A console look, enlarged range(1) times, made 4:2:0 for the lossy encoders:
// in one pass (range(0) 1), or enlarged as RGBA and converted by swscale (0).
void BM_LookToYuv420(benchmark::State& state) {
    const bool onePass = state.range(0) == 1;
    const int scale = int(state.range(1));
    const int width = 640 * scale, height = 600 * scale;
    // Random glyphs and colours in every cell.
    Surface cells;
    cells.create({80, 50}, 4);
    uint32_t seed = 1;
    for (int i = 0; i < 80 * 50 * 4; ++i)
        cells.pixels()[i] = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    std::vector<uint8_t> look(640 * 600 * 4);
    drawConsoleLookInto(cells, look.data(), 640 * 4);
    cells.release();
    std::vector<uint8_t> enlarged(size_t(width) * size_t(height) * 4);
    std::vector<uint8_t> yuv(size_t(width) * size_t(height) * 3 / 2);
    uint8_t* const planes[3] = {yuv.data(), yuv.data() + width * height,
                                yuv.data() + width * height * 5 / 4};
    const int pitches[3] = {width, width / 2, width / 2};
    SwsContext* convert = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height,
                                         AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
    sws_setColorspaceDetails(convert, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                             sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    for (auto _ : state) {
        if (onePass) {
            scalePictureToYuv420(
                look.data(), 640 * 4, 640, 600, scale,
                {{planes[0], planes[1], planes[2]}, {pitches[0], pitches[1], pitches[2]}});
        } else {
            scalePicture(look.data(), 640 * 4, 640, 600, scale, enlarged.data(), size_t(width) * 4);
            const uint8_t* const from[1] = {enlarged.data()};
            const int fromPitch[1] = {width * 4};
            sws_scale(convert, from, fromPitch, 0, height, planes, pitches);
        }
        benchmark::DoNotOptimize(yuv.data());
    }
    sws_freeContext(convert);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookToYuv420)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace
