#include "scenes/replay_scene.h"

namespace {

constexpr uint32_t REPLAY_START = REPLAY_SCENE_START;

// Demo times of the cuts; segment i runs from CUTS[i] to CUTS[i + 1].
constexpr uint32_t CUTS[9] = {120314, 122839, 125370, 127941, 130472,
                              133085, 135610, 138216, 140747};

// The scene replayed in each segment: crosses, sphere, cubes, three times over.
constexpr DemoSceneSlot SEGMENT_SCENES[8] = {
    SLOT_CROSSES, SLOT_SPHERE, SLOT_CUBES,   SLOT_CROSSES,
    SLOT_SPHERE,  SLOT_CUBES,  SLOT_CROSSES, SLOT_SPHERE,
};

}  // namespace

ReplayScene::ReplayScene(const SceneSet& scenes) : scenes_(scenes) {}

int ReplayScene::init() {
    for (uint16_t i = 0; i < 8; ++i)
        tracks.addShortRange(CUTS[i], CUTS[i + 1], EASE_LINEAR, i, i, &phase);
    return 0;
}

uint32_t ReplayScene::startTime(uint8_t) {
    return REPLAY_START;
}

uint8_t ReplayScene::render(uint32_t localTime) {
    tracks.evaluate(localTime + REPLAY_START);
    const uint16_t segment = uint16_t(phase);
    if (segment >= 8) return 0;
    Scene* replayed = scenes_.scene(SEGMENT_SCENES[segment]);
    if (replayed != nullptr) replayed->render(localTime + SCENE_REPLAY_OFFSET);
    return 0;
}

void ReplayScene::keepState(StateRecord& record) {
    record.keep(phase);
}
