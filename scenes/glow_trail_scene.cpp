#include "scenes/glow_trail_scene.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "data/images.h"
#include "render/avx2.h"
#include "render/sgl.h"
#include "scenekit/captions.h"
#include "scenekit/near_sine.h"
#include "scenekit/scene_view.h"
#include "scenekit/track_rows.h"
#include "textmode/text_mode.h"

namespace {

// Degrees to radians with the show's own value of pi.
constexpr double DEGREE = 3.141592 / 180.0;

// Phase offsets (ms) of the second trail's x and y against the first.
constexpr uint32_t SECOND_TRAIL_X_OFFSET = 45334;
constexpr uint32_t SECOND_TRAIL_Y_OFFSET = 74763;
// Time step (ms) between neighbouring sprites of a trail.
constexpr uint32_t TRAIL_STEP = 10;

constexpr int16_t GLOW_SPRITE_RECT[4] = {0, 0, 32, 32};
// The blend colour of the trails' sprites: they add (17 x alpha) >> 8 to the
// alpha channel only.
constexpr uint8_t TRAIL_COLOR[4] = {0, 0, 0, 16};

// Group 1 (lines 0-7) is lit by the trails; group 2 (lines 8-11) is drawn plainly.
constexpr int FIRST_PLAIN_LINE = 8;

constexpr int16_t INITIAL_LINE_X[GLOW_LINE_COUNT] = {10, 0, 2, 3, 40, 3, 30, 55, 25, 17, 26, 6};
constexpr int16_t INITIAL_LINE_Y[GLOW_LINE_COUNT] = {10, 20, 28, 10, 10, 20,
                                                     20, 20, 10, 20, 30, 40};
constexpr uint8_t INITIAL_LINE_ON[GLOW_LINE_COUNT] = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// The caption lines the scene shows, as slots of the Demo's line tables (filled
// by Demo::init before the scenes are built).
SubImage* const* const LINE_IMAGES[GLOW_LINE_COUNT] = {
    &sheet3Lines[1], &sheet2Lines[7], &sheet3Lines[2],  &sheet3Lines[3],
    &sheet3Lines[4], &sheet3Lines[5], &sheet3Lines[6],  &sheet3Lines[7],
    &sheet3Lines[8], &sheet3Lines[9], &sheet3Lines[10], &sheet3Lines[11],
};

enum GlowTarget : uint8_t { PERIOD_X, PERIOD_Y, AMPLITUDE_X, AMPLITUDE_Y, LINE_X, LINE_ON };

constexpr uint8_t LIN = EASE_LINEAR;

// clang-format off
constexpr TrackRow TRACKS[] = {
//   kind          start    duration ease  from    to      target        line
    {ROW_FLOAT,   99834,   100000,  LIN,  6.53f,  7.64f,  PERIOD_X,     0},
    {ROW_FLOAT,   99834,   100000,  LIN,  5.43f,  8.53f,  PERIOD_Y,     0},
    {ROW_FLOAT,   99834,   100000,  LIN,  85.0f,  83.0f,  AMPLITUDE_X,  0},
    {ROW_FLOAT,   99834,   100000,  LIN,  40.0f,  57.0f,  AMPLITUDE_Y,  0},
    {ROW_FLAG,    99834,   1000,    0,    1,      1,      LINE_ON,      0},
    {ROW_FADE,    99834,   8000,    LIN,  70,     10,     LINE_X,       1},
    {ROW_FLAG,    108834,  1000,    0,    0,      0,      LINE_ON,      0},
    {ROW_FLAG,    108834,  1000,    0,    0,      0,      LINE_ON,      1},
    {ROW_FLAG,    108834,  1000,    0,    0,      0,      LINE_ON,      2},
    {ROW_FLAG,    109834,  1000,    0,    1,      1,      LINE_ON,      3},
    {ROW_FLAG,    109834,  1000,    0,    1,      1,      LINE_ON,      4},
    {ROW_FLAG,    109834,  1000,    0,    1,      1,      LINE_ON,      5},
    {ROW_FLAG,    109834,  1000,    0,    1,      1,      LINE_ON,      6},
    {ROW_FLAG,    109834,  1000,    0,    1,      1,      LINE_ON,      7},
    {ROW_FLAG,    118834,  1000,    0,    0,      0,      LINE_ON,      3},
    {ROW_FLAG,    118834,  1000,    0,    0,      0,      LINE_ON,      4},
    {ROW_FLAG,    118834,  1000,    0,    0,      0,      LINE_ON,      5},
    {ROW_FLAG,    118834,  1000,    0,    0,      0,      LINE_ON,      6},
    {ROW_FLAG,    118834,  1000,    0,    0,      0,      LINE_ON,      7},
    {ROW_FLAG,    119037,  1000,    0,    1,      1,      LINE_ON,      8},
    {ROW_FLAG,    119309,  1000,    0,    1,      1,      LINE_ON,      9},
    {ROW_FLAG,    119617,  1000,    0,    1,      1,      LINE_ON,      10},
    {ROW_FLAG,    119797,  1000,    0,    1,      1,      LINE_ON,      11},
    {ROW_FLAG,    120134,  1000,    0,    0,      0,      LINE_ON,      8},
    {ROW_FLAG,    120134,  1000,    0,    0,      0,      LINE_ON,      9},
    {ROW_FLAG,    120134,  1000,    0,    0,      0,      LINE_ON,      10},
    {ROW_FLAG,    120134,  1000,    0,    0,      0,      LINE_ON,      11},
};
// clang-format on
static_assert(sizeof(TRACKS) / sizeof(TRACKS[0]) == 27);

// Truncation toward zero into 16 bits. The curves stay within a few hundred
// pixels; anything outside the 32-bit range (or NaN) becomes 0 rather than
// undefined behaviour.
int16_t truncateToShort(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return 0;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(value)));
}

// A curve's argument (u / period) x r and its value nearSine(x) x amplitude +
// centre, in double.
struct CurvePoint {
    double x;
    double value;
};

[[gnu::always_inline]] inline CurvePoint curvePoint(uint32_t u, float period, float amplitude,
                                                    int16_t centre) {
    // u through a signed conversion, which the vector units have: exact.
    const double ud = double(int32_t(u ^ 0x80000000u)) + 2147483648.0;
    const double x = ud / double(period) * DEGREE;
    return {x, nearSine(x) * double(amplitude) + double(centre)};
}

// The coordinate of a curve point: sin(x) x amplitude + centre truncated.
// nearSine's value stands in for the library's sine while it lies far enough
// from an integer that both truncate alike: with amplitudes below 2^16 the
// two values differ by less than 2^-28 (the sines' distance times the
// amplitude, and a rounding of each value).
int16_t curveCoordinate(const CurvePoint& p, float amplitude, int16_t centre) {
    if (std::fabs(p.x) < NEAR_SINE_LIMIT && std::fabs(amplitude) < 0x1p16f) {
        // |value| < 2^17: adding and subtracting 1.5 x 2^52 rounds it to an integer.
        const double nearest = (p.value + 0x1.8p52) - 0x1.8p52;
        if (std::fabs(p.value - nearest) > 0x1p-20) return truncateToShort(p.value);
    }
    return truncateToShort(std::sin(p.x) * double(amplitude) + double(centre));
}

// The points of one coordinate of a whole trail, u = first + TRAIL_STEP x i:
// a loop the compiler runs in vector lanes.
[[gnu::always_inline]] inline void trailPointsIn(uint32_t first, float period, float amplitude,
                                                 int16_t centre,
                                                 CurvePoint points[GLOW_TRAIL_LENGTH]) {
    for (int i = 0; i < GLOW_TRAIL_LENGTH; ++i) {
        points[i] = curvePoint(first + TRAIL_STEP * uint32_t(i), period, amplitude, centre);
    }
}

// The same loop in four lanes where the processor has AVX2 (x86-64 builds
// that have the renderer's AVX2 code).
#if defined(__x86_64__) && defined(__SSE2__) && !defined(__AVX2__) && !defined(_WIN32) && \
    !defined(__APPLE__) && (defined(__GNUC__) || defined(__clang__))
#define VORNAK_GLOW_AVX2 1
__attribute__((target("avx2"))) void trailPointsAvx2(uint32_t first, float period, float amplitude,
                                                     int16_t centre,
                                                     CurvePoint points[GLOW_TRAIL_LENGTH]) {
    trailPointsIn(first, period, amplitude, centre, points);
}
#endif

void trailPoints(uint32_t first, float period, float amplitude, int16_t centre,
                 CurvePoint points[GLOW_TRAIL_LENGTH]) {
#ifdef VORNAK_GLOW_AVX2
    if (avx2Usable()) return trailPointsAvx2(first, period, amplitude, centre, points);
#endif
    trailPointsIn(first, period, amplitude, centre, points);
}

void drawLine(int i, const int16_t* lineX, const int16_t* lineY) {
    const SubImage* line = *LINE_IMAGES[i];
    if (line == nullptr) return;
    line->draw(doubled(lineX[i]), doubled(lineY[i]));
}

}  // namespace

GlowTrailScene::~GlowTrailScene() {
    if (glowImage) glowImage->release();
}

int GlowTrailScene::init() {
    glowImage = std::make_unique<Surface>();
    const int created = glowImage->create({GLOW_IMAGE_WIDTH, GLOW_IMAGE_HEIGHT}, 4);
    if (created != 0) return created;
    std::memcpy(glowImage->pixels(), glowImageData, sizeof(glowImageData));
    glow = std::make_unique<SubImage>();
    fitGlowSprite();

    centreX = 80;
    centreY = 50;
    for (int i = 0; i < GLOW_LINE_COUNT; ++i) {
        lineX[i] = INITIAL_LINE_X[i];
        lineY[i] = INITIAL_LINE_Y[i];
        lineOn[i] = INITIAL_LINE_ON[i];
    }

    addTrackRows(tracks, TRACKS, [this](uint8_t target, uint8_t line) {
        TrackRowTarget at;
        switch (target) {
            case PERIOD_X:
                at.value = &periodX;
                break;
            case PERIOD_Y:
                at.value = &periodY;
                break;
            case AMPLITUDE_X:
                at.value = &amplitudeX;
                break;
            case AMPLITUDE_Y:
                at.value = &amplitudeY;
                break;
            case LINE_X:
                at.value16 = &lineX[line];
                break;
            default:
                at.flag = &lineOn[line];
                break;
        }
        return at;
    });
    return 0;
}

void GlowTrailScene::fitGlowSprite() {
    // Under the trails' blend (the constant colour k against ONE) a sprite
    // pixel adds ((k_j + 1) x S_j) >> 8 to channel j: where that is 0 in every
    // channel it changes nothing, and the rows and columns of such pixels at
    // the sprite's edges are left out.
    const int16_t* rect = GLOW_SPRITE_RECT;
    int left = rect[2], right = -1, top = rect[3], bottom = -1;
    for (int y = 0; y < rect[3]; ++y) {
        const uint8_t* row =
            glowImage->pixels() + std::ptrdiff_t{rect[1] + y} * glowImage->pitch() + rect[0] * 4;
        for (int x = 0; x < rect[2]; ++x) {
            bool adds = false;
            for (int j = 0; j < 4; ++j) adds |= ((TRAIL_COLOR[j] + 1) * row[x * 4 + j]) >> 8 != 0;
            if (!adds) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (right < 0) {  // nothing adds: the whole sprite, as drawn before
        left = top = 0;
        right = rect[2] - 1;
        bottom = rect[3] - 1;
    }
    // The blend runs fastest over whole rounds of four pixels: the left edge
    // moves left to make the width one.
    left = std::max(0, right + 1 - ((right + 1 - left + 3) & ~3));
    glowOffsetX = int16_t(left);
    glowOffsetY = int16_t(top);
    const int16_t fitted[4] = {int16_t(rect[0] + left), int16_t(rect[1] + top),
                               int16_t(right + 1 - left), int16_t(bottom + 1 - top)};
    glow->init(fitted, glowImage.get());
}

uint32_t GlowTrailScene::startTime(uint8_t) {
    return GLOW_SCENE_START;
}

Size16 GlowTrailScene::spritePosition(uint32_t localTime, int i, bool second) const {
    const uint32_t u = localTime + TRAIL_STEP * uint32_t(i);
    const uint32_t uy = second ? u + SECOND_TRAIL_Y_OFFSET : u;
    const uint32_t ux = second ? u + SECOND_TRAIL_X_OFFSET : u;
    const int16_t y =
        curveCoordinate(curvePoint(uy, periodY, amplitudeY, centreY), amplitudeY, centreY);
    const int16_t x =
        curveCoordinate(curvePoint(ux, periodX, amplitudeX, centreX), amplitudeX, centreX);
    return {x, y};
}

void GlowTrailScene::trailPositions(uint32_t localTime,
                                    Size16 positions[GLOW_TRAIL_LENGTH][2]) const {
    CurvePoint points[GLOW_TRAIL_LENGTH];
    for (int second = 0; second < 2; ++second) {
        const uint32_t y0 = second ? localTime + SECOND_TRAIL_Y_OFFSET : localTime;
        const uint32_t x0 = second ? localTime + SECOND_TRAIL_X_OFFSET : localTime;
        trailPoints(y0, periodY, amplitudeY, centreY, points);
        for (int i = 0; i < GLOW_TRAIL_LENGTH; ++i) {
            positions[i][second].height = curveCoordinate(points[i], amplitudeY, centreY);
        }
        trailPoints(x0, periodX, amplitudeX, centreX, points);
        for (int i = 0; i < GLOW_TRAIL_LENGTH; ++i) {
            positions[i][second].width = curveCoordinate(points[i], amplitudeX, centreX);
        }
    }
}

uint8_t GlowTrailScene::render(uint32_t localTime) {
    tracks.evaluate(localTime + GLOW_SCENE_START);

    beginSceneView();

    // Black with alpha 0: the empty light map.
    const uint8_t clearColor[4] = {0, 0, 0, 0};
    sglClearColor4ubv(clearColor);
    sglClear(SGL_COLOR_BUFFER);

    sglBlendColor4ubv(TRAIL_COLOR);
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_CONSTANT_COLOR, BLEND_ONE);
    Size16 positions[GLOW_TRAIL_LENGTH][2];
    trailPositions(localTime, positions);
    for (const auto& pair : positions) {
        for (const Size16& p : pair) {
            glow->draw(int16_t(p.width + glowOffsetX), int16_t(p.height + glowOffsetY));
        }
    }

    // Lit lines: each pixel adds itself weighted by the light map under it.
    sglBlendFunc(BLEND_DST_ALPHA, BLEND_ONE);
    for (int i = 0; i < FIRST_PLAIN_LINE; ++i)
        if (lineOn[i] == 1) drawLine(i, lineX, lineY);

    // Plain lines replace what is under them at (193 x S) >> 8.
    sglEnable(SGL_BLEND);
    const uint8_t plainColor[4] = {0, 0, 0, 192};
    sglBlendColor4ubv(plainColor);
    sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ZERO);
    for (int i = FIRST_PLAIN_LINE; i < GLOW_LINE_COUNT; ++i)
        if (lineOn[i] == 1) drawLine(i, lineX, lineY);

    sglDisable(SGL_BLEND);
    // The usual clear colour for the scene after this one; the blend colour stays.
    const uint8_t usualClear[4] = {0, 0, 0, 255};
    sglClearColor4ubv(usualClear);
    setTextMode(1);
    return 0;
}

void GlowTrailScene::keepState(StateRecord& record) {
    record.keep(periodX);
    record.keep(periodY);
    record.keep(amplitudeX);
    record.keep(amplitudeY);
    record.keep(centreX);
    record.keep(centreY);
    record.keep(lineX);
    record.keep(lineY);
    record.keep(lineOn);
}
