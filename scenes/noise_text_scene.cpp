#include "scenes/noise_text_scene.h"

#include <cstring>

#include "data/images.h"
#include "render/sgl.h"
#include "scenekit/noise.h"
#include "scenekit/scene_view.h"
#include "textmode/text_mode.h"

namespace {

constexpr int16_t NOISE_RECT[4] = {0, 0, 160, 100};

// Which line shows until when (local ms, exclusive), and where. Line 2 comes
// before line 1; from the end of the last entry on no line is drawn.
struct LineSlot {
    uint32_t until;
    int line;
    int16_t x;
    int16_t y;
};
// clang-format off
constexpr LineSlot LINE_SCHEDULE[] = {
//   until    line x   y
    {2549,    0,   10, 32},
    {5152,    2,   22, 32},
    {7674,    1,   8,  32},
    {11906,   3,   18, 32},
};
// clang-format on

// The curtain's steps: from each local time on, its height in frustum units.
struct CurtainStep {
    uint32_t from;
    float height;
};
// clang-format off
constexpr CurtainStep CURTAIN_STEPS[] = {
//   from     height
    {9587,    0.4f},
    {9747,    0.8f},
    {9908,    1.2f},
    {10065,   1.6f},
};
// clang-format on

// Bottom edge of the frustum's near rectangle, where the curtain rises from.
constexpr float CURTAIN_BOTTOM = -0.8f;

}  // namespace

NoiseTextScene::~NoiseTextScene() {
    if (textImage) textImage->release();
    if (noiseSurface) noiseSurface->release();
}

int NoiseTextScene::init() {
    textImage = std::make_unique<Surface>();
    int result = textImage->create({NOISE_TEXT_IMAGE_WIDTH, NOISE_TEXT_IMAGE_HEIGHT}, 4);
    if (result != 0) return result;
    std::memcpy(textImage->pixels(), noiseTextImageData, sizeof(noiseTextImageData));
    for (int i = 0; i < 4; ++i) {
        textLines[i] = std::make_unique<SubImage>();
        textLines[i]->init(NOISE_TEXT_LINE_RECTS[i], textImage.get());
    }
    noiseSurface = std::make_unique<Surface>();
    result = noiseSurface->create({NOISE_RECT[2], NOISE_RECT[3]}, 4);
    if (result != 0) return result;
    noiseImage = std::make_unique<SubImage>();
    noiseImage->init(NOISE_RECT, noiseSurface.get());
    return 0;
}

uint32_t NoiseTextScene::startTime(uint8_t) {
    return NOISE_TEXT_SCENE_START;
}

NoiseTextScene::LineShowing NoiseTextScene::lineAt(uint32_t localTime) {
    for (const LineSlot& slot : LINE_SCHEDULE)
        if (localTime < slot.until) return {slot.line, slot.x, slot.y};
    return {-1, 0, 0};
}

float NoiseTextScene::curtainHeight(uint32_t localTime) {
    float height = 0.0f;
    for (const CurtainStep& step : CURTAIN_STEPS)
        if (localTime >= step.from) height = step.height;
    return height;
}

uint8_t NoiseTextScene::render(uint32_t localTime) {
    beginSceneView();

    // Dark blue with alpha 0, so that the static barely touches the background.
    const uint8_t background[4] = {0, 0, 32, 0};
    sglClearColor4ubv(background);
    sglClear(SGL_COLOR_BUFFER);

    fillNoise(NOISE_RECT, noiseSurface.get());

    // Only the text pixels with alpha above 0 are drawn, keeping their alpha.
    sglEnable(SGL_ALPHA_TEST);
    sglAlphaFunc(7, 0);
    const LineShowing shown = lineAt(localTime);
    if (shown.line >= 0) textLines[shown.line]->draw(shown.x, shown.y);

    // The static through destination alpha: it replaces the alpha-255 letters
    // and leaves alpha 0 and 1 almost as they were.
    sglDisable(SGL_ALPHA_TEST);
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_DST_ALPHA, BLEND_ONE_MINUS_DST_ALPHA);
    noiseImage->draw(0, 0);
    sglDisable(SGL_BLEND);

    const float height = curtainHeight(localTime);
    if (height > 0.0f) {
        // In double from the float height, with 0.8 as a double rather than -0.8f.
        const float top = static_cast<float>(double(height) - 0.8);
        sglBegin(SGL_QUADS);
        sglColor4ub(0, 0, 0, 0);
        sglVertex2f(-1.0f, CURTAIN_BOTTOM);
        sglVertex2f(1.0f, CURTAIN_BOTTOM);
        sglVertex2f(1.0f, top);
        sglVertex2f(-1.0f, top);
        sglEnd();
    }

    setTextMode(1);
    return 0;
}
