// The metaball scene's frames over each of its two showings. Each round starts
// from a fresh scene, so that the cover and the tracks run as in the show.
#include <memory>

#include "scene_frame_times.h"
#include "scenes/metaball_field_scene.h"

static void BM_MetaballShowing(benchmark::State& state) {
    const bool second = state.range(0) == 2;
    constexpr uint32_t FIRST_LENGTH = 79354 - METABALL_FIRST_START;
    constexpr uint32_t SECOND_LENGTH = 161297 - METABALL_SECOND_START;
    benchmarkDemo();  // binds the show's FrameBuffer
    std::unique_ptr<MetaballFieldScene> scene;
    timeSceneFrames(state, second ? SECOND_LENGTH : FIRST_LENGTH, 0, [&]() -> Scene& {
        scene = std::make_unique<MetaballFieldScene>();
        scene->init();
        if (second) {
            for (uint32_t t = 0; t < FIRST_LENGTH; t += 20)
                scene->tracks.evaluate(t + METABALL_FIRST_START);
            scene->startTime(2);
        }
        return *scene;
    });
}
BENCHMARK(BM_MetaballShowing)->ArgName("showing")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
