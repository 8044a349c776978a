#include "scenes/ray_sphere_scene.h"

#include <cstring>

#include "data/images.h"
#include "render/sgl.h"
#include "render/sub_image.h"
#include "scenekit/captions.h"
#include "scenekit/scene_view.h"
#include "scenekit/track_rows.h"
#include "scenes/sphere_mesh.h"
#include "textmode/text_mode.h"

uint16_t rayPhase = 0;

namespace {

// A replayed frame arrives with SCENE_REPLAY_OFFSET added to the local time;
// subtracting this instead of adding the start gives the same demo time.
constexpr uint32_t REPLAY_TRACK_OFFSET = SCENE_REPLAY_OFFSET - RAY_SPHERE_START;

// ---- Captions -------------------------------------------------------------------

enum CaptionTarget : uint8_t { CAPTION_ON, CAPTION_ALPHA };

constexpr uint8_t LIN = EASE_LINEAR;

// Each new line comes in while the one above it fades out and is then switched
// off; the last line stays to the end of the scene.
// clang-format off
constexpr TrackRow CAPTION_TRACKS[] = {
    // kind     start  length ease from to target      line
    {ROW_FLAG, 39163, 1000, 0,   1,   0, CAPTION_ON,    0},
    {ROW_FLAG, 41749, 1000, 0,   1,   0, CAPTION_ON,    1},
    {ROW_FADE, 41749, 1000, LIN, 255, 0, CAPTION_ALPHA, 0},
    {ROW_FLAG, 42749, 1000, 0,   0,   0, CAPTION_ON,    0},
    {ROW_FLAG, 44303, 1000, 0,   1,   0, CAPTION_ON,    2},
    {ROW_FADE, 44303, 1000, LIN, 255, 0, CAPTION_ALPHA, 1},
    {ROW_FLAG, 45303, 1000, 0,   0,   0, CAPTION_ON,    1},
    {ROW_FLAG, 46869, 1000, 0,   1,   0, CAPTION_ON,    3},
    {ROW_FADE, 46869, 1000, LIN, 255, 0, CAPTION_ALPHA, 2},
    {ROW_FLAG, 47869, 1000, 0,   0,   0, CAPTION_ON,    2},
    {ROW_FLAG, 49429, 1000, 0,   1,   0, CAPTION_ON,    4},
    {ROW_FADE, 49429, 1000, LIN, 255, 0, CAPTION_ALPHA, 3},
    {ROW_FLAG, 50429, 1000, 0,   0,   0, CAPTION_ON,    3},
    {ROW_FLAG, 51989, 1000, 0,   1,   0, CAPTION_ON,    5},
    {ROW_FADE, 51989, 1000, LIN, 255, 0, CAPTION_ALPHA, 4},
    {ROW_FLAG, 52989, 1000, 0,   0,   0, CAPTION_ON,    4},
};
// clang-format on

// Caption positions in half pixels.
constexpr int16_t CAPTION_X[RAY_SPHERE_CAPTION_COUNT] = {0, 0, 0, 0, 0, 0};
constexpr int16_t CAPTION_Y[RAY_SPHERE_CAPTION_COUNT] = {3, 10, 17, 24, 31, 38};

// The text line of each caption.
SubImage* captionLine(int k) {
    switch (k) {
        case 0:
            return sheet1Lines[8];
        case 1:
            return sheet1Lines[9];
        case 2:
            return sheet1Lines[10];
        case 3:
            return sheet1Lines[11];
        case 4:
            return sheet2Lines[0];
        default:
            return sheet2Lines[1];
    }
}

// ---- Motion ---------------------------------------------------------------------

struct FloatSegment {
    uint32_t start;
    uint32_t end;
    uint8_t easing;
    float from;
    float to;
};

constexpr uint8_t QUAD = EASE_QUADRATIC;

// Distance pump on sphereOffset.z: consecutive quadratic segments on the beat.
constexpr FloatSegment PUMP_SEGMENTS[] = {
    {38388, 38696, QUAD, 7, 3}, {38696, 38876, QUAD, 3, 7}, {38876, 39183, QUAD, 7, 3},
    {39183, 39665, QUAD, 3, 7}, {39665, 39984, QUAD, 7, 3}, {39984, 40153, QUAD, 3, 7},
    {40153, 40472, QUAD, 5, 7}, {40472, 40629, QUAD, 7, 3}, {40629, 40785, QUAD, 3, 7},
    {40785, 40948, QUAD, 5, 7},

    {40948, 41267, QUAD, 7, 3}, {41267, 41436, QUAD, 3, 7}, {41436, 41749, QUAD, 7, 3},
    {41749, 42231, QUAD, 3, 7}, {42231, 42538, QUAD, 7, 3}, {42538, 42713, QUAD, 3, 7},
    {42713, 43032, QUAD, 5, 7}, {43032, 43189, QUAD, 7, 3}, {43189, 43351, QUAD, 3, 7},
    {43351, 43514, QUAD, 5, 7},

    {43514, 43833, QUAD, 7, 3}, {43833, 43990, QUAD, 3, 7}, {43990, 44303, QUAD, 7, 3},
    {44303, 44785, QUAD, 3, 7}, {44785, 45104, QUAD, 7, 3}, {45104, 45273, QUAD, 3, 7},
    {45273, 45586, QUAD, 5, 7}, {45586, 45749, QUAD, 7, 3}, {45749, 45911, QUAD, 3, 7},
    {45911, 46074, QUAD, 5, 7},

    {46074, 46387, QUAD, 7, 3}, {46387, 46550, QUAD, 3, 7}, {46550, 46869, QUAD, 7, 3},
    {46869, 47345, QUAD, 3, 7}, {47345, 47670, QUAD, 7, 3}, {47670, 47833, QUAD, 3, 7},
    {47833, 48146, QUAD, 5, 7}, {48146, 48634, QUAD, 7, 7},

    {48634, 48947, QUAD, 7, 3}, {48947, 49116, QUAD, 3, 7}, {49116, 49429, QUAD, 7, 3},
    {49429, 49911, QUAD, 3, 7}, {49911, 50230, QUAD, 7, 3}, {50230, 50387, QUAD, 3, 7},
    {50387, 50712, QUAD, 5, 7}, {50712, 50869, QUAD, 7, 3}, {50869, 51031, QUAD, 3, 7},
    {51031, 51181, QUAD, 5, 7},

    {51181, 51519, QUAD, 7, 3}, {51519, 51681, QUAD, 3, 7}, {51681, 51989, QUAD, 7, 3},
    {51989, 52465, QUAD, 3, 7}, {52465, 52790, QUAD, 7, 3}, {52790, 52947, QUAD, 3, 7},
    {52947, 53272, QUAD, 5, 7}, {53272, 53434, QUAD, 7, 3}, {53434, 53585, QUAD, 3, 7},
    {53585, 53748, QUAD, 5, 7},

    {53748, 54073, QUAD, 7, 3}, {54073, 54236, QUAD, 3, 7}, {54236, 54549, QUAD, 7, 3},
    {54549, 55025, QUAD, 3, 7}, {55025, 55350, QUAD, 7, 3}, {55350, 55507, QUAD, 3, 7},
    {55507, 55832, QUAD, 5, 7}, {55832, 55983, QUAD, 7, 3}, {55983, 56151, QUAD, 3, 7},
    {56151, 56314, QUAD, 5, 7},

    {56314, 56633, QUAD, 7, 3}, {56633, 56790, QUAD, 3, 7}, {56790, 57109, QUAD, 7, 3},
    {57109, 57591, QUAD, 3, 7}, {57591, 57910, QUAD, 7, 3}, {57910, 58067, QUAD, 3, 5},
};

// Swing on sphereOffset.x: side to side between -1 and 1.
constexpr FloatSegment SWING_SEGMENTS[] = {
    {38388, 39984, LIN, -1, -1}, {39984, 40472, QUAD, -1, 1},
    {40472, 40629, LIN, 1, 1},   {40629, 40948, QUAD, 1, -1},

    {40948, 42538, LIN, -1, -1}, {42538, 43032, QUAD, -1, 1},
    {43032, 43189, LIN, 1, 1},   {43189, 43514, QUAD, 1, -1},

    {43514, 45104, LIN, -1, -1}, {45104, 45586, QUAD, -1, 1},
    {45586, 45749, LIN, 1, 1},   {45749, 46074, QUAD, 1, -1},

    {46074, 47670, LIN, -1, -1}, {47670, 48146, LIN, -1, 1},

    {48146, 50230, LIN, 1, 1},   {50230, 50712, QUAD, 1, -1},
    {50712, 50869, LIN, -1, -1}, {50869, 51182, QUAD, -1, 1},

    {51182, 52790, LIN, 1, 1},   {52790, 53272, QUAD, 1, -1},
    {53272, 53434, LIN, -1, -1}, {53434, 53748, QUAD, -1, 1},

    {53748, 55350, LIN, 1, 1},   {55350, 55832, QUAD, 1, -1},
    {55832, 55983, LIN, -1, -1}, {55983, 56314, QUAD, -1, 1},

    {56314, 58067, LIN, 1, 0},
};

// One angle's part of a turning row; rows leave some angles alone.
struct AngleSpan {
    bool used;
    float from;
    float to;
};
constexpr AngleSpan turn(float from, float to) {
    return {true, from, to};
}
constexpr AngleSpan HOLD = {false, 0, 0};

struct TurnRow {
    uint32_t start;
    uint32_t end;
    AngleSpan x;
    AngleSpan y;
    AngleSpan z;
};

// Slow turning about all three axes, linear, in degrees. angleY jumps from 90
// to 180 at 46074.
// clang-format off
constexpr TurnRow TURN_ROWS[] = {
    {38388, 40948, turn(0, 90),     turn(0, 90),    HOLD},
    {40948, 43514, turn(90, 0),     turn(90, 180),  HOLD},
    {43514, 46074, turn(0, -90),    turn(180, 90),  HOLD},
    {46074, 48146, turn(-90, 0),    turn(180, 270), HOLD},
    {48146, 48634, HOLD,            HOLD,           turn(0, 180)},
    {48634, 51181, turn(0, 180),    HOLD,           turn(180, 90)},
    {51181, 53748, turn(180, 270),  HOLD,           turn(90, 0)},
    {53748, 56314, turn(270, 360),  HOLD,           turn(0, 90)},
    {56314, 58067, turn(360, 180),  HOLD,           turn(90, 270)},
};
// clang-format on

// The pattern of open triangles sweeps round the sphere for half a second.
struct PhaseSegment {
    uint32_t start;
    uint32_t end;
    uint16_t from;
    uint16_t to;
};
constexpr PhaseSegment RAY_PHASE_SEGMENTS[] = {
    {48146, 48634, 18, 50},
    {48634, 51000, 50, 50},
};

// The closing cover builds up piece by piece until the scene ends.
constexpr uint32_t COVER_END = 58880;
constexpr uint32_t COVER_ON_START = 58218;
constexpr uint32_t COVER_CORNER_START[3] = {58392, 58552, 58717};
constexpr uint32_t COVER_DIAMOND_START = 58787;

// ---- Drawing --------------------------------------------------------------------

const float* drawnPosition(int t, int corner) {
    return sphereMesh.positions[sphereDrawnIndex(t, corner)];
}
const float* drawnTexCoord(int t, int corner) {
    return sphereMesh.texCoords[sphereDrawnIndex(t, corner)];
}

void drawSolidSphere() {
    sglBegin(SGL_TRIANGLES);
    for (int t = 0; t < SPHERE_TRIANGLE_COUNT; ++t) {
        if (isShaftTriangle(uint32_t(t), rayPhase)) continue;
        for (int corner = 0; corner < 3; ++corner) {
            sglTexCoord2fv(drawnTexCoord(t, corner));
            sglVertex3fv(drawnPosition(t, corner));
        }
    }
    sglEnd();
}

// One shaft: a quad from the edge P -> Q out to RAY_SCALE times it, fading from
// half-transparent white at the sphere to clear grey at the far end.
void drawShaftQuad(const float* p, const float* q) {
    sglColor4ub(255, 255, 255, 128);
    sglVertex3fv(p);
    sglColor4ub(255, 255, 255, 128);
    sglVertex3fv(q);
    sglColor4ub(128, 128, 128, 0);
    sglVertex3f(RAY_SCALE * q[0], RAY_SCALE * q[1], RAY_SCALE * q[2]);
    sglColor4ub(128, 128, 128, 0);
    sglVertex3f(RAY_SCALE * p[0], RAY_SCALE * p[1], RAY_SCALE * p[2]);
}

void drawShafts() {
    sglBegin(SGL_QUADS);
    for (int t = 0; t < SPHERE_TRIANGLE_COUNT; ++t) {
        if (!isShaftTriangle(uint32_t(t), rayPhase)) continue;
        const float* a = drawnPosition(t, 0);
        const float* b = drawnPosition(t, 1);
        const float* c = drawnPosition(t, 2);
        drawShaftQuad(a, b);
        drawShaftQuad(b, c);
        drawShaftQuad(c, a);
    }
    sglEnd();

    // The open triangle itself glows too.
    sglBegin(SGL_TRIANGLES);
    for (int t = 0; t < SPHERE_TRIANGLE_COUNT; ++t) {
        if (!isShaftTriangle(uint32_t(t), rayPhase)) continue;
        sglColor4ub(255, 255, 255, 128);
        for (int corner = 0; corner < 3; ++corner) sglVertex3fv(drawnPosition(t, corner));
    }
    sglEnd();
}

}  // namespace

bool isShaftTriangle(uint32_t t, uint16_t phase) {
    const uint32_t period = uint16_t(RAY_PERIOD);
    return (t + phase) % period == 0;
}

RaySphereScene::RaySphereScene() {
    baseScale.zero();
    sphereOffset.zero();
    sphereScale.zero();
}

RaySphereScene::~RaySphereScene() {
    if (sphereTexture != nullptr) {
        sphereTexture->release();
        delete sphereTexture;
    }
}

int RaySphereScene::init() {
    if (sphereTexture == nullptr) sphereTexture = new Surface;
    if (sphereTexture->create({PLASMA_IMAGE_WIDTH, PLASMA_IMAGE_HEIGHT}, 4) != 0) return 1;
    std::memcpy(sphereTexture->pixels(), plasmaImage, sizeof plasmaImage);

    addCaptionTracks();

    baseScale.set(1.0f, 1.0f, 1.0f);
    sphereScale.set(30.0f, 30.0f, 30.0f);
    sphereOffset.set(0.0f, 0.0f, 0.0f);
    coverOn = 0;
    std::memset(coverCorner, 0, sizeof coverCorner);
    coverDiamond = 0;

    addMotionTracks();

    angleX = 0.0f;
    angleY = 0.0f;
    angleZ = 0.0f;
    return 0;
}

void RaySphereScene::addCaptionTracks() {
    for (int k = 0; k < RAY_SPHERE_CAPTION_COUNT; ++k) {
        captionOn[k] = 0;
        captionAlpha[k] = 255;
        captionX[k] = CAPTION_X[k];
        captionY[k] = CAPTION_Y[k];
    }
    addTrackRows(tracks, CAPTION_TRACKS, [this](uint8_t target, uint8_t line) {
        TrackRowTarget at;
        if (target == CAPTION_ON) {
            at.flag = &captionOn[line];
        } else {
            at.value16 = asTrackShort(&captionAlpha[line]);
        }
        return at;
    });
}

void RaySphereScene::addMotionTracks() {
    for (const FloatSegment& s : PUMP_SEGMENTS)
        tracks.addFloatRange(s.start, s.end, s.easing, s.from, s.to, &sphereOffset.z);
    for (const FloatSegment& s : SWING_SEGMENTS)
        tracks.addFloatRange(s.start, s.end, s.easing, s.from, s.to, &sphereOffset.x);
    for (const TurnRow& row : TURN_ROWS) {
        const AngleSpan* spans[3] = {&row.x, &row.y, &row.z};
        float* angles[3] = {&angleX, &angleY, &angleZ};
        for (int axis = 0; axis < 3; ++axis) {
            if (!spans[axis]->used) continue;
            tracks.addFloatRange(row.start, row.end, EASE_LINEAR, spans[axis]->from,
                                 spans[axis]->to, angles[axis]);
        }
    }
    for (const PhaseSegment& s : RAY_PHASE_SEGMENTS)
        tracks.addShortRange(s.start, s.end, EASE_LINEAR, s.from, s.to, asTrackShort(&rayPhase));

    tracks.addByteRange(COVER_ON_START, COVER_END, 1, &coverOn);
    for (int k = 0; k < 3; ++k)
        tracks.addByteRange(COVER_CORNER_START[k], COVER_END, 1, &coverCorner[k]);
    tracks.addByteRange(COVER_DIAMOND_START, COVER_END, 1, &coverDiamond);
}

uint32_t RaySphereScene::startTime(uint8_t) {
    return RAY_SPHERE_START;
}

uint8_t RaySphereScene::render(uint32_t time) {
    const bool replay = time >= SCENE_REPLAY_OFFSET;
    uint32_t trackTime = time + RAY_SPHERE_START;
    if (replay) {
        // The replay jumps about in time: the cover shows only where its tracks act.
        coverOn = 0;
        std::memset(coverCorner, 0, sizeof coverCorner);
        coverDiamond = 0;
        trackTime = time - REPLAY_TRACK_OFFSET;
    }
    tracks.evaluate(trackTime);

    beginSceneView();

    static const uint8_t BLACK[4] = {0, 0, 0, 255};
    sglClearColor4ubv(BLACK);
    sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER);

    sglScalef(baseScale.x, baseScale.y, baseScale.z);

    if (!replay) drawCaptions();

    sglTranslatef(sphereOffset.x, sphereOffset.y, sphereOffset.z);
    sglRotateXf(angleX);
    sglRotateYf(angleY);
    sglRotateZf(angleZ);
    sglScalef(sphereScale.x, sphereScale.y, sphereScale.z);

    sglEnable(SGL_TEXTURE);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);  // passes when at least as near as the stored depth
    sglBindTexture(sphereTexture);
    drawSolidSphere();
    sglDisable(SGL_DEPTH_TEST);
    sglDisable(SGL_TEXTURE);

    // Shafts are tested against the sphere but do not hide each other.
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthMask(0);
    sglEnable(SGL_SMOOTH);
    drawShafts();
    sglDisable(SGL_SMOOTH);
    sglDepthMask(1);
    sglDisable(SGL_DEPTH_TEST);
    sglDisable(SGL_BLEND);

    if (coverOn == 1) drawCover();

    setTextMode(0);
    return 0;
}

void RaySphereScene::drawCaptions() const {
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ZERO);
    for (int k = 0; k < RAY_SPHERE_CAPTION_COUNT; ++k) {
        if (captionOn[k] != 1) continue;
        const uint8_t fade[4] = {0, 0, 0, uint8_t(captionAlpha[k] & 0xFF)};
        sglBlendColor4ubv(fade);
        // The lines exist only once the Demo has built the caption sheets.
        if (const SubImage* line = captionLine(k))
            line->draw(doubled(captionX[k]), doubled(captionY[k]));
    }
    sglDisable(SGL_BLEND);
}

// The same shapes as the opening cover of the scene that follows, in screen
// coordinates on the near plane.
void RaySphereScene::drawCover() const {
    sglLoadIdentity();
    sglBegin(SGL_TRIANGLES);
    sglColor3ub(255, 255, 255);
    sglVertex2f(-1.0f, -0.8f);
    sglVertex2f(0.0f, -0.8f);
    sglVertex2f(-1.0f, 0.0f);
    if (coverCorner[0] == 1) {
        sglVertex2f(0.0f, -0.8f);
        sglVertex2f(1.0f, -0.8f);
        sglVertex2f(1.0f, 0.0f);
    }
    if (coverCorner[1] == 1) {
        sglVertex2f(1.0f, 0.0f);
        sglVertex2f(1.0f, 0.8f);
        sglVertex2f(0.0f, 0.8f);
    }
    if (coverCorner[2] == 1) {
        sglVertex2f(0.0f, 0.8f);
        sglVertex2f(-1.0f, 0.8f);
        sglVertex2f(-1.0f, 0.0f);
    }
    sglEnd();
    if (coverDiamond == 1) {
        sglBegin(SGL_QUADS);
        sglVertex2f(0.0f, -0.8f);
        sglVertex2f(1.0f, 0.0f);
        sglVertex2f(0.0f, 0.8f);
        sglVertex2f(-1.0f, 0.0f);
        sglEnd();
    }
}

void RaySphereScene::keepState(StateRecord& record) {
    record.keep(baseScale);
    record.keep(sphereOffset);
    record.keep(sphereScale);
    record.keep(angleX);
    record.keep(angleY);
    record.keep(angleZ);
    record.keep(coverOn);
    record.keep(coverCorner);
    record.keep(coverDiamond);
    record.keep(captionOn);
    record.keep(captionX);
    record.keep(captionY);
    record.keep(captionAlpha);
    record.keep(rayPhase);
}
