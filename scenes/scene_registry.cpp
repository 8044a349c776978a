#include "scenes/scene_registry.h"

#include "scenes/cross_lights_scene.h"
#include "scenes/cube_stream_scene.h"
#include "scenes/glow_trail_scene.h"
#include "scenes/metaball_field_scene.h"
#include "scenes/noise_text_scene.h"
#include "scenes/placeholder_scene.h"
#include "scenes/ray_sphere_scene.h"
#include "scenes/replay_scene.h"

namespace {

Scene* makeReplay(Demo& demo) {
    return new ReplayScene(demo);
}

template <uint32_t FIRST, uint32_t SECOND, uint8_t MODE, uint8_t R, uint8_t G, uint8_t B>
Scene* makePlaceholder(Demo&) {
    const uint8_t colour[4] = {R, G, B, 255};
    return new PlaceholderScene(FIRST, SECOND, MODE, colour);
}

const std::array<SceneFactory, DEMO_SCENE_COUNT> SHOW_SCENES = {
    [](Demo&) -> Scene* { return new CubeStreamScene; },  // tumbling cubes
    [](Demo&) -> Scene* { return new RaySphereScene; },  // sphere with light shafts
    [](Demo&) -> Scene* { return new NoiseTextScene; },  // noise text finale
    [](Demo&) -> Scene* { return new CrossLightsScene; },  // flashing light crosses
    [](Demo&) -> Scene* { return new MetaballFieldScene; },  // metaball height field
    [](Demo&) -> Scene* { return new GlowTrailScene; },  // glow-trail text
    makeReplay,
};

}  // namespace

const std::array<SceneFactory, DEMO_SCENE_COUNT>& showSceneFactories() {
    return SHOW_SCENES;
}
