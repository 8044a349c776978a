#include "show/scene_registry.h"

#include "scenes/cross_lights_scene.h"
#include "scenes/cube_stream_scene.h"
#include "scenes/glow_trail_scene.h"
#include "scenes/metaball_field_scene.h"
#include "scenes/noise_text_scene.h"
#include "scenes/ray_sphere_scene.h"
#include "scenes/replay_scene.h"

namespace {

const std::array<SceneFactory, DEMO_SCENE_COUNT> SHOW_SCENES = {
    [](const SceneSet&) -> Scene* { return new CubeStreamScene; },
    [](const SceneSet&) -> Scene* { return new RaySphereScene; },
    [](const SceneSet&) -> Scene* { return new NoiseTextScene; },
    [](const SceneSet&) -> Scene* { return new CrossLightsScene; },
    [](const SceneSet&) -> Scene* { return new MetaballFieldScene; },
    [](const SceneSet&) -> Scene* { return new GlowTrailScene; },
    [](const SceneSet& scenes) -> Scene* { return new ReplayScene(scenes); },
};

}  // namespace

const std::array<SceneFactory, DEMO_SCENE_COUNT>& showSceneFactories() {
    return SHOW_SCENES;
}
