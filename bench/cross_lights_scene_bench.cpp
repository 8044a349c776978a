// The opening scene's frames over its whole showing (0 to 38388 ms).
#include "scene_frame_times.h"

static void BM_CrossLightsShowing(benchmark::State& state) {
    Scene& scene = *benchmarkDemo().scene(SLOT_CROSSES);
    timeSceneFrames(state, 38388, 0, [&]() -> Scene& { return scene; });
}
BENCHMARK(BM_CrossLightsShowing)->Unit(benchmark::kMillisecond)->Iterations(5);
