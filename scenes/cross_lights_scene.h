// The opening of the show: five plus-shaped light beams flash to the music in
// front of a spinning, tilting, stretching and panning camera, captions fade in
// and out, and television static fades over everything towards the end.
#pragma once

#include <cstdint>
#include <memory>

#include "image/surface.h"
#include "render/matrix.h"
#include "render/sub_image.h"
#include "scenekit/scene.h"
#include "scenekit/track_list.h"

// Intensity lost per second after a flash.
constexpr float FLASH_DECAY = 0.3f;
// Half the width and half the length of an arm of the plus-shaped cross-section.
constexpr float CROSS_ARM_WIDTH = 0.1f;
constexpr float CROSS_ARM_LENGTH = 0.3f;
// Depth over which a beam fades from its colour to black.
constexpr float BEAM_LENGTH = 1.5f;

// Marks an unused slot of CrossLight::flashTimes.
constexpr uint32_t CROSS_NO_FLASH = 100000;

struct CrossLight {
    uint32_t flashTimes[8];  // ascending, CROSS_NO_FLASH in unused slots
    Vec3 position;           // z is 0
    uint8_t color[4];        // red, green, blue; the fourth byte is unused
};

// 1 at a flash of the light, falling to 0 about 3333 ms later; 0 before its first flash.
float flashIntensity(const CrossLight& light, uint32_t s);

// One beam at the origin: a plus-shaped cap at z = 0 in the colour and twelve
// sides that fade to black at z = BEAM_LENGTH.
void drawCross(const uint8_t color[4]);

class CrossLightsScene : public Scene {
  public:
    CrossLightsScene() = default;
    ~CrossLightsScene() override;
    CrossLightsScene(const CrossLightsScene&) = delete;
    CrossLightsScene& operator=(const CrossLightsScene&) = delete;

    int init() override;
    uint32_t startTime(uint8_t) override { return 0; }
    uint8_t render(uint32_t time) override;
    void reserved() override {}
    void keepState(StateRecord& record) override;

    // The scene's state, public so that its choreography can be inspected; the
    // track-driven members keep their last written values from frame to frame.
    std::unique_ptr<Surface> noiseSurface;  // 160x100, refilled with static
    std::unique_ptr<SubImage> noiseImage;   // the whole of noiseSurface
    std::unique_ptr<CrossLight> lights[5];
    TrackList tracks;
    uint8_t captionOn[8] = {};
    int16_t captionX[8] = {};       // in half pixels
    int16_t captionY[8] = {};       // in half pixels
    uint16_t captionAlpha[8] = {};  // low byte used
    uint16_t noiseAlpha = 255;      // low byte used in the static's fade-out
    float jitter = 0.0f;            // largest random offset of caption 7, in pixels

  private:
    void drawLights(uint32_t s, uint8_t frameColor[4]) const;
    void drawStatic(uint32_t s, uint8_t frameColor[4]) const;
    void drawCaptions(uint8_t frameColor[4]) const;
};
