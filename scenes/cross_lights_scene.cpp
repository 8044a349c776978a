#include "scenes/cross_lights_scene.h"

#include "render/sgl.h"
#include "scenekit/captions.h"
#include "scenekit/noise.h"
#include "scenekit/scene_view.h"
#include "scenekit/track_rows.h"
#include "scenes/runtime_rand.h"
#include "textmode/text_mode.h"

namespace {

struct LightDefinition {
    float x;
    float y;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint32_t flashTimes[8];
};

constexpr uint32_t NO = CROSS_NO_FLASH;

// clang-format off
constexpr LightDefinition LIGHTS[5] = {
    //  x      y     red  green blue  flash times (ms)
    { 0.0f,  0.0f,  255,  255,  255, {  371,  6757, 13165, 19551,    NO,    NO,    NO,    NO}},
    {-0.3f, -0.5f,    0,  255,  255, {  998,  7383,  8614, 11795, 13792, 20201, 21385, 24589}},
    { 0.5f, -0.3f,    0,  255,    0, { 1625, 12353, 14349, 25193,    NO,    NO,    NO,    NO}},
    { 0.3f,  0.5f,  255,    0,    0, { 7987, 20805,    NO,    NO,    NO,    NO,    NO,    NO}},
    {-0.5f,  0.3f,    0,    0,  255, { 9195, 21966,    NO,    NO,    NO,    NO,    NO,    NO}},
};
// clang-format on

constexpr int16_t CAPTION_X[8] = {13, 52, 0, 0, 20, 35, 0, 16};
constexpr int16_t CAPTION_Y[8] = {43, 43, 0, 0, 0, 43, 43, 20};
// Entries 0, 2 and 5 are first written by their fade-in, which starts with the caption.
constexpr uint16_t CAPTION_ALPHA[8] = {0, 255, 0, 255, 255, 0, 255, 255};

enum RowTarget : uint8_t { CAPTION_ON, CAPTION_ALPHA_OF, NOISE_ALPHA, JITTER };

constexpr uint8_t LIN = EASE_LINEAR;

// clang-format off
constexpr TrackRow TRACK_ROWS[29] = {
    // kind            start  length ease from   to  target            caption
    {ROW_FLAG,          3157,    500, 0,      1,    0, CAPTION_ON,       0},
    {ROW_FADE,          3157,    500, LIN,    0,  255, CAPTION_ALPHA_OF, 0},
    {ROW_FADE,          5157,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 0},
    {ROW_FLAG,          5657,    500, 0,      0,    0, CAPTION_ON,       0},
    {ROW_FLAG,          6757,    500, 0,      1,    0, CAPTION_ON,       1},
    {ROW_FADE,          8757,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 1},
    {ROW_FLAG,          9257,    500, 0,      0,    0, CAPTION_ON,       1},
    {ROW_FLAG,         10448,    500, 0,      1,    0, CAPTION_ON,       2},
    {ROW_FADE,         10448,    500, LIN,    0,  255, CAPTION_ALPHA_OF, 2},
    {ROW_FADE,         12448,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 2},
    {ROW_FLAG,         12948,    500, 0,      0,    0, CAPTION_ON,       2},
    {ROW_FLAG,         13165,    500, 0,      1,    0, CAPTION_ON,       3},
    {ROW_FLAG,         13165,    500, 0,      1,    0, CAPTION_ON,       4},
    {ROW_FADE,         15165,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 3},
    {ROW_FADE,         15165,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 4},
    {ROW_FLAG,         15665,    500, 0,      0,    0, CAPTION_ON,       3},
    {ROW_FLAG,         15665,    500, 0,      0,    0, CAPTION_ON,       4},
    {ROW_FLAG,         16161,    500, 0,      1,    0, CAPTION_ON,       5},
    {ROW_FADE,         16161,    500, LIN,    0,  255, CAPTION_ALPHA_OF, 5},
    {ROW_FADE,         18161,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 5},
    {ROW_FLAG,         18661,    500, 0,      0,    0, CAPTION_ON,       5},
    {ROW_FLAG,         19551,    500, 0,      1,    0, CAPTION_ON,       6},
    {ROW_FADE,         21551,    500, LIN,  255,    0, CAPTION_ALPHA_OF, 6},
    {ROW_FLAG,         22151,    500, 0,      0,    0, CAPTION_ON,       6},
    {ROW_FLAG,         24589,    500, 0,      1,    0, CAPTION_ON,       7},
    {ROW_FADE,         31985,   1000, LIN,  255,    0, CAPTION_ALPHA_OF, 7},
    {ROW_FLOAT,        25559,   3000, LIN,    0,   20, JITTER,           0},
    {ROW_FLAG,         32985,   1000, 0,      0,    0, CAPTION_ON,       7},
    {ROW_FADE_TO_END,  31985,  36002, LIN,  255,    0, NOISE_ALPHA,      0},
};
// clang-format on

// Camera phases and the static's window, in ms of scene time.
constexpr uint32_t TILT_START = 6757;
constexpr uint32_t STRETCH_START = 13165;
constexpr uint32_t PAN_START = 19551;
constexpr uint32_t LIGHTS_END = 27910;
constexpr uint32_t STATIC_START = 25559;
constexpr uint32_t STATIC_END = 36002;

// The phases divide by multiplying with reciprocals, rounded as stored: 1/15 in
// double precision, the others in single precision.
constexpr double SPIN_RATE = 0.06666666666666667;
constexpr float TILT_RATE = 0.00015605493f;        // 1/6408
constexpr float STRETCH_RATE = 0.00015659255f;     // 1/6386
constexpr float PAN_RATE = 0.000119631535f;        // 1/8359
constexpr float STATIC_FADE_RATE = 0.0004253509f;  // 1/2351: reaches 1 at LIGHTS_END
constexpr float RAND_SCALE = 3.0518509e-05f;       // 1/32767

// Twice the base position plus a random offset between 0 and jitter, truncated.
int16_t jittered(int16_t halfPixels, float jitter) {
    const float position =
        float(2 * halfPixels) - float(runtimeRand()) * jitter * RAND_SCALE + jitter;
    return int16_t(int(position));
}

void placeCamera(uint32_t s) {
    if (s < TILT_START) {
        sglRotateZf(float(double(s) * SPIN_RATE));
        sglTranslatef(0.0f, 0.0f, 2.2f);
    } else if (s < STRETCH_START) {
        sglTranslatef(0.0f, 0.0f, 2.3f);
        sglRotateXf(float(s - TILT_START) * TILT_RATE * 50.0f - 35.0f);
    } else if (s < PAN_START) {
        sglTranslatef(0.0f, 0.0f, 2.3f);
        const float d = float(s - STRETCH_START) * STRETCH_RATE;
        sglScalef(3.0f - 2.0f * d, 1.0f + d, 1.0f);
    } else if (s < LIGHTS_END) {
        sglTranslatef(float(s - PAN_START) * PAN_RATE * 3.0f - 1.5f, 0.0f, 2.3f);
    }
}

}  // namespace

float flashIntensity(const CrossLight& light, uint32_t s) {
    int i = 7;
    for (int k = 0; k < 7; ++k) {
        if (light.flashTimes[k] <= s && s < light.flashTimes[k + 1]) {
            i = k;
            break;
        }
    }
    // Before the first flash the difference wraps to a huge age, so the light is dark.
    const double age = double(s - light.flashTimes[i]);
    const double intensity = 1.0 - double(FLASH_DECAY) * age * 0.001;
    return intensity < 0.0 ? 0.0f : float(intensity);
}

void drawCross(const uint8_t color[4]) {
    constexpr float a = CROSS_ARM_WIDTH;
    constexpr float b = CROSS_ARM_LENGTH;
    constexpr float L = BEAM_LENGTH;
    // The twelve corners of the plus outline, going round.
    constexpr float OUTLINE[12][2] = {
        {-a, -b}, {a, -b}, {a, -a}, {b, -a}, {b, a},   {a, a},
        {a, b},   {-a, b}, {-a, a}, {-b, a}, {-b, -a}, {-a, -a},
    };

    sglBegin(SGL_QUADS);
    sglColor4ubv(color);
    sglVertex3f(-a, -b, 0.0f);
    sglVertex3f(a, -b, 0.0f);
    sglVertex3f(a, b, 0.0f);
    sglVertex3f(-a, b, 0.0f);
    sglVertex3f(-b, -a, 0.0f);
    sglVertex3f(b, -a, 0.0f);
    sglVertex3f(b, a, 0.0f);
    sglVertex3f(-b, a, 0.0f);
    for (int k = 0; k < 12; ++k) {
        const float* p = OUTLINE[k];
        const float* q = OUTLINE[(k + 1) % 12];
        if (k > 0) sglColor4ubv(color);
        sglVertex3f(p[0], p[1], 0.0f);
        sglVertex3f(q[0], q[1], 0.0f);
        sglColor4ub(0, 0, 0, 255);
        sglVertex3f(q[0], q[1], L);
        sglVertex3f(p[0], p[1], L);
    }
    sglEnd();
}

CrossLightsScene::~CrossLightsScene() {
    if (noiseSurface) noiseSurface->release();
}

int CrossLightsScene::init() {
    for (int k = 0; k < 5; ++k) {
        const LightDefinition& definition = LIGHTS[k];
        lights[k] = std::make_unique<CrossLight>();
        for (int i = 0; i < 8; ++i) lights[k]->flashTimes[i] = definition.flashTimes[i];
        lights[k]->position.set(definition.x, definition.y, 0.0f);
        lights[k]->color[0] = definition.red;
        lights[k]->color[1] = definition.green;
        lights[k]->color[2] = definition.blue;
        lights[k]->color[3] = 255;
    }

    for (int k = 0; k < 8; ++k) {
        captionOn[k] = 0;
        captionX[k] = CAPTION_X[k];
        captionY[k] = CAPTION_Y[k];
        captionAlpha[k] = CAPTION_ALPHA[k];
    }
    noiseAlpha = 255;
    jitter = 0.0f;

    addTrackRows(tracks, TRACK_ROWS, [this](uint8_t target, uint8_t caption) {
        TrackRowTarget at;
        switch (target) {
            case CAPTION_ON:
                at.flag = &captionOn[caption];
                break;
            case CAPTION_ALPHA_OF:
                at.value16 = asTrackShort(&captionAlpha[caption]);
                break;
            case NOISE_ALPHA:
                at.value16 = asTrackShort(&noiseAlpha);
                break;
            default:
                at.value = &jitter;
                break;
        }
        return at;
    });

    noiseSurface = std::make_unique<Surface>();
    noiseSurface->create({160, 100}, 4);
    noiseImage = std::make_unique<SubImage>();
    const int16_t rect[4] = {0, 0, 160, 100};
    noiseImage->init(rect, noiseSurface.get());
    return 0;
}

uint8_t CrossLightsScene::render(uint32_t time) {
    const bool replay = time >= SCENE_REPLAY_OFFSET;
    const uint32_t s = replay ? time - SCENE_REPLAY_OFFSET : time;
    tracks.evaluate(s);

    beginSceneView();
    placeCamera(s);

    sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER);
    // Working colour of the frame: the beams' colour, then the blend colour's carrier.
    uint8_t frameColor[4] = {128, 255, 255, 255};
    if (s < LIGHTS_END) drawLights(s, frameColor);
    if (s >= STATIC_START && s < STATIC_END) drawStatic(s, frameColor);
    if (!replay) drawCaptions(frameColor);
    setTextMode(0);
    return 0;
}

void CrossLightsScene::drawLights(uint32_t s, uint8_t frameColor[4]) const {
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    sglEnable(SGL_SMOOTH);
    for (const auto& light : lights) {
        sglPushMatrix();
        const float intensity = flashIntensity(*light, s);
        sglTranslatef(light->position.x, light->position.y, -intensity);
        sglRotateZf(intensity * 70.0f - 35.0f);
        for (int c = 0; c < 3; ++c) frameColor[c] = uint8_t(float(light->color[c]) * intensity);
        drawCross(frameColor);
        sglPopMatrix();
    }
    sglDisable(SGL_DEPTH_TEST);
    sglDisable(SGL_SMOOTH);
}

void CrossLightsScene::drawStatic(uint32_t s, uint8_t frameColor[4]) const {
    const int16_t rect[4] = {0, 0, 160, 100};
    fillNoise(rect, noiseSurface.get());
    if (s < LIGHTS_END) {
        sglEnable(SGL_BLEND);
        sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_CONSTANT_ALPHA);
        // e stays below 1 here, so the alpha stays within 0..254.
        const float e = float(s - STATIC_START) * STATIC_FADE_RATE;
        frameColor[3] = uint8_t(e * e * 255.0f);
        sglBlendColor4ubv(frameColor);
    } else {
        frameColor[3] = uint8_t(noiseAlpha & 0xFF);
        sglBlendColor4ubv(frameColor);
        sglEnable(SGL_BLEND);
        sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_CONSTANT_ALPHA);
    }
    noiseImage->draw(0, 0);
    sglDisable(SGL_BLEND);
}

void CrossLightsScene::drawCaptions(uint8_t frameColor[4]) const {
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    for (int k = 0; k < 7; ++k) {
        if (captionOn[k] != 1 || sheet1Lines[k] == nullptr) continue;
        frameColor[3] = uint8_t(captionAlpha[k] & 0xFF);
        sglBlendColor4ubv(frameColor);
        sheet1Lines[k]->draw(doubled(captionX[k]), doubled(captionY[k]));
    }
    if (captionOn[7] == 1 && sheet1Lines[7] != nullptr) {
        // The last caption is added on top of the static and shakes.
        sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE);
        frameColor[3] = uint8_t(captionAlpha[7] & 0xFF);
        sglBlendColor4ubv(frameColor);
        const int16_t y = jittered(captionY[7], jitter);
        const int16_t x = jittered(captionX[7], jitter);
        sheet1Lines[7]->draw(x, y);
    }
    sglDisable(SGL_BLEND);
}

void CrossLightsScene::keepState(StateRecord& record) {
    record.keep(captionOn);
    record.keep(captionX);
    record.keep(captionY);
    record.keep(captionAlpha);
    record.keep(noiseAlpha);
    record.keep(jitter);
}
