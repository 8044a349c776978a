#include "scenes/scene_registry.h"

#include "scenes/cross_lights_scene.h"
#include "scenes/cube_stream_scene.h"
#include "scenes/glow_trail_scene.h"
#include "scenes/metaball_field_scene.h"
#include "scenes/noise_text_scene.h"
#include "scenes/ray_sphere_scene.h"
#include "scenes/replay_scene.h"

namespace {

const std::array<SceneFactory, DEMO_SCENE_COUNT> SHOW_SCENES = {
    [](Demo&) -> Scene* { return new CubeStreamScene; },
    [](Demo&) -> Scene* { return new RaySphereScene; },
    [](Demo&) -> Scene* { return new NoiseTextScene; },
    [](Demo&) -> Scene* { return new CrossLightsScene; },
    [](Demo&) -> Scene* { return new MetaballFieldScene; },
    [](Demo&) -> Scene* { return new GlowTrailScene; },
    [](Demo& demo) -> Scene* { return new ReplayScene(demo); },
};

}  // namespace

const std::array<SceneFactory, DEMO_SCENE_COUNT>& showSceneFactories() {
    return SHOW_SCENES;
}
