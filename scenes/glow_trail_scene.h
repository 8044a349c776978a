// Glow-trail text: two invisible trails of soft glows, drawn only into the alpha
// channel, light up the letters of the caption lines added over them; a last group
// of lines is drawn plainly at three quarters brightness.
#pragma once

#include <cstdint>
#include <memory>

#include "image/surface.h"
#include "render/sub_image.h"
#include "scenekit/scene.h"
#include "scenekit/track_list.h"

constexpr uint32_t GLOW_SCENE_START = 99834;
constexpr int GLOW_LINE_COUNT = 12;
constexpr int GLOW_TRAIL_LENGTH = 200;

class GlowTrailScene : public Scene {
  public:
    GlowTrailScene() = default;
    ~GlowTrailScene() override;
    GlowTrailScene(const GlowTrailScene&) = delete;
    GlowTrailScene& operator=(const GlowTrailScene&) = delete;

    int init() override;
    uint32_t startTime(uint8_t which) override;
    uint8_t render(uint32_t localTime) override;
    void reserved() override {}
    void keepState(StateRecord& record) override;

    // Where sprite 1 (second = false) or sprite 2 of trail step i sits at local
    // time t, from the current periods and amplitudes.
    Size16 spritePosition(uint32_t localTime, int i, bool second) const;
    // Both sprites of every step at once: positions[i][0] is sprite 1 of step i.
    void trailPositions(uint32_t localTime, Size16 positions[GLOW_TRAIL_LENGTH][2]) const;

    // Fits `glow` to the part of the sprite that adds to the light map under
    // the trails' blend; init calls it, and so must whoever changes glowImage.
    void fitGlowSprite();

    std::unique_ptr<Surface> glowImage;  // 64x64 radial glow
    // Its top-left quarter is the sprite; glow is the part of it that adds
    // anything, which starts glowOffsetX, glowOffsetY into the quarter.
    std::unique_ptr<SubImage> glow;
    int16_t glowOffsetX = 0;
    int16_t glowOffsetY = 0;
    TrackList tracks;

    // Curve parameters; the tracks set them from the first frame on. The start
    // values keep a frame rendered before any track acted well defined.
    float periodX = 6.53f;
    float periodY = 5.43f;
    float amplitudeX = 85.0f;
    float amplitudeY = 40.0f;
    int16_t centreX = 0;
    int16_t centreY = 0;
    // Line positions in units of 2 pixels, and the flags that show the lines.
    int16_t lineX[GLOW_LINE_COUNT] = {};
    int16_t lineY[GLOW_LINE_COUNT] = {};
    uint8_t lineOn[GLOW_LINE_COUNT] = {};
};
