// Cost of recording one frame per container at its default scale: the console
// look of changing cells, enlarged, converted and encoded with 20 ms of sound.
// The show plays 50 frames a second; a recording faster than real time on one
// core needs each frame under 20 ms of CPU (items_per_second above 50).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "image/console_look.h"
#include "image/surface.h"
#include "program/video_encoder.h"

namespace {

void BM_RecordFrame(benchmark::State& state) {
    const auto container = static_cast<VideoContainer>(state.range(0));
    const int scale = defaultVideoScale(container);
    VideoSettings settings;
    settings.container = container;
    settings.width = 640 * scale;
    settings.height = 600 * scale;
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
    std::vector<uint8_t> scaled(size_t(settings.width) * size_t(settings.height) * 4);
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
        const uint8_t* picture = look.data();
        size_t pitch = 640 * 4;
        if (scale == 2) {
            for (int y = 0; y < 600; ++y) {
                const uint32_t* from = reinterpret_cast<const uint32_t*>(&look[size_t(y) * pitch]);
                uint32_t* to = reinterpret_cast<uint32_t*>(&scaled[size_t(y) * 2 * pitch * 2]);
                for (int x = 0; x < 640; ++x) to[2 * x] = to[2 * x + 1] = from[x];
                std::copy_n(to, 1280, to + 1280);
            }
            picture = scaled.data();
            pitch *= 2;
        }
        if (!encoder.writeFrame(picture, pitch, error) ||
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

}  // namespace
