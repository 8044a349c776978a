// The glow-trail scene's frames (99834 to 120314 ms) and the finale's (161297 ms
// to the last frame after 173000).
#include "scene_frame_times.h"

static void BM_GlowTrailSceneFrames(benchmark::State& state) {
    Scene& scene = *benchmarkDemo().scene(SLOT_GLOW);
    timeSceneFrames(state, 120314 - 99834, 0, [&]() -> Scene& { return scene; });
}
BENCHMARK(BM_GlowTrailSceneFrames)->Unit(benchmark::kMillisecond)->Iterations(5);

static void BM_NoiseTextSceneFrames(benchmark::State& state) {
    Scene& scene = *benchmarkDemo().scene(SLOT_NOISE_TEXT);
    timeSceneFrames(state, 173020 - 161297 + 1, 0, [&]() -> Scene& { return scene; });
}
BENCHMARK(BM_NoiseTextSceneFrames)->Unit(benchmark::kMillisecond)->Iterations(5);
