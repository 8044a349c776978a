// Tumbling cubes: textured cubes fly in towards a central cube, swing a quarter
// turn round it and fly off, while the central cube tumbles by the same turns.
// Every cube gets a black outline through the stencil buffer; a black band and
// groups of caption lines complete the picture.
#pragma once

#include <cstdint>
#include <memory>

#include "image/surface.h"
#include "render/matrix.h"
#include "scenekit/scene.h"
#include "scenekit/track_list.h"

// One incoming cube.
struct CubeMove {
    int32_t startTime;  // scene ms at which the cube starts to fly in
    uint8_t turn;       // 0 +90 about X, 1 +90 about Y, 2 -90 about X, 3 -90 about Y
};

constexpr float CUBE_SPEED = 3.0f;  // distance units per second
constexpr float APPROACH_DISTANCE = 10.0f;
constexpr float PIVOT_DISTANCE = 1.5f;

constexpr uint32_t CUBE_SCENE_START = 79354;
constexpr int CUBE_MOVE_COUNT = 400;
constexpr int CUBE_MOVES_DRAWN = 100;
constexpr int CUBE_CAPTION_GROUPS = 5;

class CubeStreamScene : public Scene {
  public:
    CubeStreamScene() = default;
    ~CubeStreamScene() override;
    CubeStreamScene(const CubeStreamScene&) = delete;
    CubeStreamScene& operator=(const CubeStreamScene&) = delete;

    int init() override;
    uint32_t startTime(uint8_t which) override;
    // Times of 1000000 and more replay the scene without captions.
    uint8_t render(uint32_t time) override;
    void reserved() override {}
    void keepState(StateRecord& record) override;

    // Draws the central cube and the first 100 moves for scene time u with the
    // current corners, colours and render state.
    void drawCubes(uint32_t u);

    // Drawing state shared by the cube operations; rebuilt on every drawCubes.
    static Vec3 cubeCorners[8];
    static uint8_t cornerColors[8][4];
    static int8_t orientation[3];  // signed permutation of the axes 1, 2, 3
    static float turnAngleX;
    static float turnAngleY;
    static const int8_t turnTables[4][3];

    static void setCubeHalfSize(float h);
    // Folds one completed quarter turn into `orientation`.
    static void composeTurn(const int8_t table[3]);
    static void drawMove(const CubeMove& move, uint32_t u);
    static void drawCube();

    std::unique_ptr<CubeMove> moves[CUBE_MOVE_COUNT];
    std::unique_ptr<Surface> backgroundTexture;  // 64x64 cloud image
    std::unique_ptr<Surface> cubeTexture;        // 128x128 crackle image
    TrackList tracks;
    uint8_t captionOn[CUBE_CAPTION_GROUPS] = {};
    uint16_t captionAlpha[CUBE_CAPTION_GROUPS] = {255, 255, 255, 255, 255};

  private:
    void drawCaptions() const;
};
