// The sphere scene's frames over its showing (38388 to 58880 ms).
#include "scene_frame_times.h"
#include "scenes/ray_sphere_scene.h"

static void BM_RaySphereFrames(benchmark::State& state) {
    Scene& scene = *benchmarkDemo().scene(SLOT_SPHERE);
    timeSceneFrames(state, 58880 - RAY_SPHERE_START, 0, [&]() -> Scene& {
        rayPhase = 0;  // as at the start of the showing
        return scene;
    });
}
BENCHMARK(BM_RaySphereFrames)->Unit(benchmark::kMillisecond)->Iterations(5);
