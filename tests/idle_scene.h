// A scene that draws nothing, for Demos that tests and benchmarks build only for
// their caption sheets and render Surfaces.
#pragma once

#include "scenekit/scene.h"
#include "show/demo.h"

class IdleScene : public Scene {
  public:
    int init() override { return 0; }
    uint32_t startTime(uint8_t) override { return 0; }
    uint8_t render(uint32_t) override { return 0; }
    void reserved() override {}
};

inline Scene* makeIdleScene(const SceneSet&) {
    return new IdleScene;
}
