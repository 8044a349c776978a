// The replay: for twenty seconds the show cuts back and forth between the
// opening, the sphere and the cube scene, redrawn without their captions.
#pragma once

#include <cstdint>

#include "scenekit/scene.h"
#include "scenekit/track_list.h"

constexpr uint32_t REPLAY_SCENE_START = 120314;

class ReplayScene : public Scene {
  public:
    // The replayed scenes are read from `demo` at every frame.
    explicit ReplayScene(const SceneSet& scenes);

    int init() override;
    uint32_t startTime(uint8_t which) override;
    uint8_t render(uint32_t localTime) override;
    void reserved() override {}
    void keepState(StateRecord& record) override;

    int16_t phase = 0;  // the current segment, 0..7; written only by the tracks

  private:
    TrackList tracks;
    const SceneSet& scenes_;
};
