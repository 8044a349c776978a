// The cube scene's frames over its showing (79354 to 99834 ms) and over the same
// times in replay mode.
#include "scene_frame_times.h"

static void BM_CubeStreamShowing(benchmark::State& state) {
    Scene& scene = *benchmarkDemo().scene(SLOT_CUBES);
    timeSceneFrames(state, 99834 - 79354, 0, [&]() -> Scene& { return scene; });
}
BENCHMARK(BM_CubeStreamShowing)->Unit(benchmark::kMillisecond)->Iterations(5);

static void BM_CubeStreamReplay(benchmark::State& state) {
    Scene& scene = *benchmarkDemo().scene(SLOT_CUBES);
    timeSceneFrames(state, 99834 - 79354, SCENE_REPLAY_OFFSET, [&]() -> Scene& { return scene; });
}
BENCHMARK(BM_CubeStreamReplay)->Unit(benchmark::kMillisecond)->Iterations(5);
