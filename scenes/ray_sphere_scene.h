// The sphere with light shafts: a plasma-textured sphere pumps to the beat, swings
// and turns, with every 18th triangle left open and translucent shafts of light
// streaming from its edges; captions build up at the left, and a white cover
// closes the scene.
#pragma once

#include <cstdint>

#include "image/surface.h"
#include "render/matrix.h"
#include "scenekit/scene.h"
#include "scenekit/track_list.h"

// Length of the shafts, as a multiple of the distance from the sphere's centre.
constexpr float RAY_SCALE = 3.0f;
// Every RAY_PERIOD-th triangle (offset by rayPhase) is a shaft triangle.
constexpr uint32_t RAY_PERIOD = 18;
constexpr uint32_t RAY_SPHERE_START = 38388;
constexpr int RAY_SPHERE_CAPTION_COUNT = 6;

// Offset of the shaft pattern; written by the scene's tracks and kept between
// showings (the replay sees the value the first showing left behind).
extern uint16_t rayPhase;

// True when triangle t is left open for shafts at the given phase.
bool isShaftTriangle(uint32_t t, uint16_t phase);

class RaySphereScene : public Scene {
  public:
    RaySphereScene();
    ~RaySphereScene() override;
    RaySphereScene(const RaySphereScene&) = delete;
    RaySphereScene& operator=(const RaySphereScene&) = delete;

    int init() override;
    uint32_t startTime(uint8_t which) override;
    uint8_t render(uint32_t time) override;
    void reserved() override {}
    void keepState(StateRecord& record) override;

    // Public so that tests can read the animated state after a frame.
    Surface* sphereTexture = nullptr;  // owned
    TrackList tracks;
    Vec3 baseScale;
    Vec3 sphereOffset;
    Vec3 sphereScale;
    float angleX = 0.0f;
    float angleY = 0.0f;
    float angleZ = 0.0f;
    uint8_t coverOn = 0;
    uint8_t coverCorner[3] = {};
    uint8_t coverDiamond = 0;
    uint8_t captionOn[RAY_SPHERE_CAPTION_COUNT] = {};
    int16_t captionX[RAY_SPHERE_CAPTION_COUNT] = {};
    int16_t captionY[RAY_SPHERE_CAPTION_COUNT] = {3, 10, 17, 24, 31, 38};
    uint16_t captionAlpha[RAY_SPHERE_CAPTION_COUNT] = {255, 255, 255, 255, 255, 255};

  private:
    void addCaptionTracks();
    void addMotionTracks();
    void drawCaptions() const;
    void drawCover() const;
};
