#include "scenes/cube_stream_scene.h"

#include <cmath>
#include <cstring>

#include "data/images.h"
#include "render/sgl.h"
#include "render/sub_image.h"
#include "scenekit/captions.h"
#include "scenekit/scene_view.h"
#include "scenekit/track_rows.h"
#include "textmode/text_mode.h"

namespace {

constexpr uint32_t REPLAY_DEMO_OFFSET = SCENE_REPLAY_OFFSET - CUBE_SCENE_START;  // 920646

// Degrees to radians as the wobble uses it: 3.141592 / 180.
constexpr double WOBBLE_RADIANS = 0.01745328888888889;
// The backdrop turns one degree every 35.43 ms.
constexpr double BACKDROP_DEGREES_PER_MS = 0.028224668360146768;

enum CaptionTarget : uint8_t { GROUP_ON, GROUP_ALPHA };

constexpr uint8_t LIN = EASE_LINEAR;

// Demo times. The short tracks fade a group out; the byte tracks switch groups.
// clang-format off
constexpr TrackRow CAPTION_TRACKS[] = {
    // kind      start  length ease from to target    group
    {ROW_FLAG,  81885, 1000, 0,     1, 0, GROUP_ON,    0},
    {ROW_FADE,  84450, 1000, LIN, 255, 0, GROUP_ALPHA, 0},
    {ROW_FLAG,  85450, 1000, 0,     0, 0, GROUP_ON,    0},
    {ROW_FLAG,  87005,  500, 0,     1, 0, GROUP_ON,    1},
    {ROW_FLAG,  88974, 1000, 0,     0, 0, GROUP_ON,    1},
    {ROW_FLAG,  89574, 1000, 0,     1, 0, GROUP_ON,    2},
    {ROW_FADE,  92136, 1000, LIN, 255, 0, GROUP_ALPHA, 2},
    {ROW_FLAG,  93136, 1000, 0,     0, 0, GROUP_ON,    2},
    {ROW_FLAG,  94667, 1000, 0,     1, 0, GROUP_ON,    3},
    {ROW_FLAG,  96420, 1000, 0,     0, 0, GROUP_ON,    3},
    {ROW_FLAG,  97256, 1000, 0,     1, 0, GROUP_ON,    4},
    {ROW_FLAG,  98963, 1000, 0,     0, 0, GROUP_ON,    4},
};
// clang-format on

struct CaptionLine {
    uint8_t group;
    uint8_t sheet;  // 2 or 3
    uint8_t line;
    int16_t x;
    int16_t y;
};

// In drawing order within each group.
// clang-format off
constexpr CaptionLine CAPTION_LINES[] = {
    {0, 2, 2,  0,  44},
    {0, 2, 3,  0,  58},
    {0, 2, 4,  0,  72},
    {0, 2, 5,  0,  86},
    {1, 2, 6,  0,  86},
    {2, 2, 7,  0,  44},
    {2, 2, 8,  0,  58},
    {2, 2, 5,  0,  72},
    {2, 2, 9,  0,  86},
    {3, 2, 10, 0,  86},
    {4, 3, 0,  22, 0},
};
// clang-format on

struct FaceVertex {
    uint8_t corner;
    float s;
    float t;
};

// Six faces of four vertices; the texture holds the faces in a 2x3 layout.
// clang-format off
constexpr FaceVertex CUBE_FACES[6][4] = {
    {{0, 0.0f, 0.0f},    {1, 0.5f, 0.0f},    {2, 0.5f, 0.3333f}, {3, 0.0f, 0.3333f}},  // z = -h
    {{4, 0.5f, 0.0f},    {7, 1.0f, 0.0f},    {6, 1.0f, 0.3333f}, {5, 0.5f, 0.3333f}},  // z = +h
    {{0, 0.0f, 0.3334f}, {3, 0.5f, 0.3334f}, {7, 0.5f, 0.6666f}, {4, 0.0f, 0.6666f}},  // x = -h
    {{2, 0.5f, 0.3334f}, {1, 1.0f, 0.3334f}, {5, 1.0f, 0.6666f}, {6, 0.5f, 0.6666f}},  // x = +h
    {{4, 0.0f, 0.6667f}, {5, 0.5f, 0.6667f}, {1, 0.5f, 1.0f},    {0, 0.0f, 1.0f}},     // y = -h
    {{3, 0.5f, 0.6667f}, {2, 1.0f, 0.6667f}, {6, 1.0f, 1.0f},    {7, 0.5f, 1.0f}},     // y = +h
};
// clang-format on

int8_t signOf(int8_t v) {
    return v < 0 ? -1 : 1;
}

int8_t magnitude(int8_t v) {
    return v < 0 ? int8_t(-v) : v;
}

// Turns 0 and 2 are about X, 1 and 3 about Y; 2 and 3 turn the negative way.
float turnSign(uint8_t turn) {
    return turn < 2 ? 1.0f : -1.0f;
}

void rotateAboutTurnAxis(uint8_t turn, float degrees) {
    if (turn % 2 == 0)
        sglRotateXf(degrees);
    else
        sglRotateYf(degrees);
}

Surface* makeTexture(int16_t width, int16_t height, const uint8_t* image) {
    Surface* texture = new Surface;
    if (texture->create({width, height}, 4) == 0)
        std::memcpy(texture->pixels(), image, size_t(width) * size_t(height) * 4);
    return texture;
}

double wobble(double t, double period) {
    return std::sin((t / period) * WOBBLE_RADIANS);
}

}  // namespace

Vec3 CubeStreamScene::cubeCorners[8];
uint8_t CubeStreamScene::cornerColors[8][4];
int8_t CubeStreamScene::orientation[3] = {1, 2, 3};
float CubeStreamScene::turnAngleX = 0.0f;
float CubeStreamScene::turnAngleY = 0.0f;

// Where each axis goes after the quarter turn; see composeTurn.
// clang-format off
const int8_t CubeStreamScene::turnTables[4][3] = {
    {1,  3, -2},  // +90 about X
    {-3, 2, 1},   // +90 about Y
    {1,  -3, 2},  // -90 about X
    {3,  2, -1},  // -90 about Y
};
// clang-format on

CubeStreamScene::~CubeStreamScene() {
    if (backgroundTexture) backgroundTexture->release();
    if (cubeTexture) cubeTexture->release();
}

void CubeStreamScene::setCubeHalfSize(float h) {
    for (int k = 0; k < 8; ++k) {
        const bool right = k == 1 || k == 2 || k == 5 || k == 6;
        const bool top = k == 2 || k == 3 || k == 6 || k == 7;
        const bool back = k >= 4;
        cubeCorners[k].set(right ? h : -h, top ? h : -h, back ? h : -h);
    }
}

int CubeStreamScene::init() {
    setCubeHalfSize(0.5f);
    backgroundTexture.reset(makeTexture(CLOUD_IMAGE_WIDTH, CLOUD_IMAGE_HEIGHT, cloudImage));
    cubeTexture.reset(makeTexture(CRACKLE_IMAGE_WIDTH, CRACKLE_IMAGE_HEIGHT, crackleImage));

    // Cube i flies in so that it reaches the pivot one quarter-turn time after the
    // previous one; 0.001 and 1.570796 are single-precision constants.
    const double reciprocalSpeed = 1.0 / double(CUBE_SPEED);
    for (int i = 0; i < CUBE_MOVE_COUNT; ++i) {
        const double start =
            1230.0 - double(APPROACH_DISTANCE - PIVOT_DISTANCE) * double(0.001f) * reciprocalSpeed +
            double(PIVOT_DISTANCE) * double(1.570796f) * reciprocalSpeed * i * 1257;
        moves[i] = std::make_unique<CubeMove>();
        moves[i]->turn = uint8_t(i % 4);
        moves[i]->startTime = int32_t(start);
    }

    for (int g = 0; g < CUBE_CAPTION_GROUPS; ++g) {
        captionOn[g] = 0;
        captionAlpha[g] = 255;
    }
    addTrackRows(tracks, CAPTION_TRACKS, [this](uint8_t target, uint8_t group) {
        TrackRowTarget at;
        if (target == GROUP_ON) {
            at.flag = &captionOn[group];
        } else {
            at.value16 = asTrackShort(&captionAlpha[group]);
        }
        return at;
    });
    return 0;
}

uint32_t CubeStreamScene::startTime(uint8_t) {
    return CUBE_SCENE_START;
}

uint8_t CubeStreamScene::render(uint32_t time) {
    const bool replay = time >= SCENE_REPLAY_OFFSET;
    // The spin and the wobble run on the full time, replay offset included; the
    // cubes on the scene time.
    const double t = double(time);
    const uint32_t u = time % SCENE_REPLAY_OFFSET;

    tracks.evaluate(replay ? time - REPLAY_DEMO_OFFSET : time + CUBE_SCENE_START);

    beginSceneView();

    sglRotateZf(float(t * BACKDROP_DEGREES_PER_MS));
    sglScalef(2.0f, 2.0f, 1.0f);

    sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER | SGL_STENCIL_BUFFER);

    sglDisable(SGL_BLEND);
    sglEnable(SGL_TEXTURE);
    sglDisable(SGL_DEPTH_TEST);
    sglDisable(SGL_STENCIL_TEST);
    sglDisable(SGL_ALPHA_TEST);
    sglBindTexture(backgroundTexture.get());

    sglBegin(SGL_QUADS);
    sglTexCoord2f(0.0f, 0.0f);
    sglVertex3f(-1.0f, -1.0f, 1.0f);
    sglTexCoord2f(1.0f, 0.0f);
    sglVertex3f(1.0f, -1.0f, 1.0f);
    sglTexCoord2f(1.0f, 1.0f);
    sglVertex3f(1.0f, 1.0f, 1.0f);
    sglTexCoord2f(0.0f, 1.0f);
    sglVertex3f(-1.0f, 1.0f, 1.0f);
    sglEnd();

    sglLoadIdentity();
    sglTranslatef(0.0f, 0.0f, 2.5f);
    sglPushMatrix();
    sglTranslatef(-1.0f, 0.0f, 0.0f);
    sglRotateXf(float(10.0 * wobble(t, 32.65) + 15.0));
    sglRotateYf(float(5.0 * wobble(t, 23.65) + 35.0));
    sglRotateZf(float(35.0 * wobble(t, 54.54)));

    // First pass: the textured cubes, marking their pixels 255 in the stencil.
    sglBindTexture(cubeTexture.get());
    setCubeHalfSize(0.5f);
    for (int k = 0; k < 8; ++k) std::memset(cornerColors[k], 32 * k, 4);
    sglEnable(SGL_DEPTH_TEST);
    sglEnable(SGL_STENCIL_TEST);
    sglEnable(SGL_TEXTURE);
    sglTexEnvMode(SGL_MODULATE);
    sglStencilFunc(1, 255);
    sglStencilValueMask(255);
    sglStencilOp(1, 1, 2);
    sglStencilWriteMask(255);
    sglDepthFunc(2);
    drawCubes(u);

    sglDisable(SGL_TEXTURE);
    sglDisable(SGL_STENCIL_TEST);

    // Second pass: enlarged black cubes only where the stencil is still 0, which
    // leaves a rim round every cube. Zero under mask 240 keeps those bytes at 0.
    setCubeHalfSize(0.7f);
    std::memset(cornerColors, 0, sizeof cornerColors);
    sglEnable(SGL_STENCIL_TEST);
    sglStencilFunc(6, 0);
    sglStencilValueMask(255);
    sglStencilOp(1, 1, 0);
    sglStencilWriteMask(240);
    drawCubes(u);

    sglPopMatrix();

    sglBegin(SGL_QUADS);
    sglColor4ub(0, 0, 0, 255);
    sglVertex2f(-4.0f, -0.4f);
    sglColor4ub(0, 0, 0, 0);
    sglVertex2f(4.0f, -0.4f);
    sglColor4ub(0, 0, 0, 0);
    sglVertex2f(4.0f, 0.4f);
    sglColor4ub(0, 0, 0, 255);
    sglVertex2f(-4.0f, 0.4f);
    sglEnd();
    sglDisable(SGL_STENCIL_TEST);

    if (!replay) drawCaptions();

    setTextMode(1);
    return 1;
}

void CubeStreamScene::drawCaptions() const {
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    for (uint8_t g = 0; g < CUBE_CAPTION_GROUPS; ++g) {
        if (captionOn[g] != 1) continue;
        const uint8_t color[4] = {255, 255, 255, uint8_t(captionAlpha[g] & 0xFF)};
        sglBlendColor4ubv(color);
        for (const CaptionLine& c : CAPTION_LINES) {
            if (c.group != g) continue;
            const SubImage* line = c.sheet == 2 ? sheet2Lines[c.line] : sheet3Lines[c.line];
            // The lines exist once a Demo has been initialised.
            if (line != nullptr) line->draw(c.x, c.y);
        }
    }
    sglDisable(SGL_BLEND);
}

void CubeStreamScene::drawCubes(uint32_t u) {
    orientation[0] = 1;
    orientation[1] = 2;
    orientation[2] = 3;
    turnAngleX = 0.0f;
    turnAngleY = 0.0f;
    for (int i = 0; i < CUBE_MOVES_DRAWN; ++i) drawMove(*moves[i], u);

    // The central cube: every completed quarter turn, then the one in progress.
    sglPushMatrix();
    float m[16] = {};
    m[15] = 1.0f;
    for (int k = 0; k < 3; ++k)
        m[(magnitude(orientation[k]) - 1) * 4 + k] = float(signOf(orientation[k]));
    if (turnAngleX != 0.0f) sglRotateXf(turnAngleX);
    if (turnAngleY != 0.0f) sglRotateYf(turnAngleY);
    sglMultMatrixf(m);
    drawCube();
    sglPopMatrix();
}

void CubeStreamScene::drawMove(const CubeMove& move, uint32_t u) {
    const double elapsed = double(u) - double(move.startTime);
    if (elapsed < 0.0) return;

    const float d = float(elapsed * 0.001 * CUBE_SPEED);
    const float a = APPROACH_DISTANCE - PIVOT_DISTANCE;
    // A quarter circle of radius PIVOT_DISTANCE.
    const double q = double(PIVOT_DISTANCE) * 6.283184 * 0.25;

    float z;
    if (d < a) {  // flying in along the z axis
        sglPushMatrix();
        z = APPROACH_DISTANCE - d;
    } else if (d - a < q) {  // swinging round the central cube, which turns along
        const float phi = float(double(d - a) * 90.0 / q);
        const float angle = turnSign(move.turn) * phi;
        sglPushMatrix();
        rotateAboutTurnAxis(move.turn, angle);
        (move.turn % 2 == 0 ? turnAngleX : turnAngleY) = angle;
        z = PIVOT_DISTANCE;
    } else {  // flying off in the new direction; the central cube keeps the turn
        const double r = double(d - a) - q;
        sglPushMatrix();
        rotateAboutTurnAxis(move.turn, turnSign(move.turn) * 90.0f);
        composeTurn(turnTables[move.turn]);
        z = float(double(PIVOT_DISTANCE) + r);
    }
    sglTranslatef(0.0f, 0.0f, z);
    drawCube();
    sglPopMatrix();
}

void CubeStreamScene::composeTurn(const int8_t table[3]) {
    for (int k = 0; k < 3; ++k) {
        const int8_t o = orientation[k];
        int j = 0;
        while (j < 2 && magnitude(table[j]) != magnitude(o)) ++j;
        orientation[k] = int8_t(signOf(table[j]) * signOf(o) * (j + 1));
    }
}

void CubeStreamScene::drawCube() {
    sglBegin(SGL_QUADS);
    for (const auto& face : CUBE_FACES) {
        for (const FaceVertex& v : face) {
            const Vec3& c = cubeCorners[v.corner];
            const float position[3] = {c.x, c.y, c.z};
            sglColor3ubv(cornerColors[v.corner]);
            sglTexCoord2f(v.s, v.t);
            sglVertex3fv(position);
        }
    }
    sglEnd();
}

void CubeStreamScene::keepState(StateRecord& record) {
    record.keep(captionOn);
    record.keep(captionAlpha);
    record.keep(cubeCorners);
    record.keep(cornerColors);
    record.keep(orientation);
    record.keep(turnAngleX);
    record.keep(turnAngleY);
}
