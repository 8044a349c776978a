// The finale: on a dark blue screen one line of text at a time, its letters a
// window onto moving static, until a black curtain rises in four steps.
#pragma once

#include <cstdint>
#include <memory>

#include "image/surface.h"
#include "render/sub_image.h"
#include "scenekit/scene.h"

constexpr uint32_t NOISE_TEXT_SCENE_START = 161297;

class NoiseTextScene : public Scene {
  public:
    NoiseTextScene() = default;
    ~NoiseTextScene() override;
    NoiseTextScene(const NoiseTextScene&) = delete;
    NoiseTextScene& operator=(const NoiseTextScene&) = delete;

    int init() override;
    uint32_t startTime(uint8_t which) override;
    uint8_t render(uint32_t localTime) override;
    void reserved() override {}

    // The text line shown at local time t and where: index 0..3, or -1 for none.
    struct LineShowing {
        int line;
        int16_t x;
        int16_t y;
    };
    static LineShowing lineAt(uint32_t localTime);
    // Height of the curtain at local time t in frustum units; 0 while there is none.
    static float curtainHeight(uint32_t localTime);

    std::unique_ptr<Surface> textImage;     // 146x90, the four lines of text
    std::unique_ptr<Surface> noiseSurface;  // 160x100, new static every frame
    std::unique_ptr<SubImage> textLines[4];
    std::unique_ptr<SubImage> noiseImage;  // the whole of noiseSurface
};
