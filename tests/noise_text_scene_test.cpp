#include "scenes/noise_text_scene.h"
#include "tests/reference_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "data/images.h"
#include "render/render_context.h"
#include "render_fixture.h"
#include "scenekit/noise.h"
#include "textmode/text_mode.h"

namespace {

TEST(NoiseTextScene, LineRectanglesCutTheTextImage) {
    const int16_t expected[4][4] = {
        {0, 0, 140, 18}, {0, 18, 146, 18}, {0, 36, 116, 18}, {0, 54, 124, 36}};
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) EXPECT_EQ(NOISE_TEXT_LINE_RECTS[i][k], expected[i][k]);

    NoiseTextScene scene;
    ASSERT_EQ(scene.init(), 0);
    EXPECT_EQ(scene.textImage->width(), 146);
    EXPECT_EQ(scene.textImage->height(), 90);
    EXPECT_EQ(std::memcmp(scene.textImage->pixels(), noiseTextImageData, sizeof noiseTextImageData),
              0);
    for (const auto& line : scene.textLines) EXPECT_TRUE(line->valid());
    EXPECT_TRUE(scene.noiseImage->valid());
    EXPECT_EQ(scene.noiseSurface->width(), 160);
    EXPECT_EQ(scene.noiseSurface->height(), 100);
    EXPECT_EQ(scene.startTime(1), 161297u);
    EXPECT_EQ(scene.startTime(2), 161297u);
}

TEST(NoiseTextScene, TextImageHasOnlyTheThreeAlphaClasses) {
    int counts[3] = {};
    for (int i = 0; i < 146 * 90; ++i) {
        const uint8_t* p = noiseTextImageData + i * 4;
        ASSERT_TRUE(p[3] == 0 || p[3] == 1 || p[3] == 255) << i;
        counts[p[3] == 0 ? 0 : p[3] == 1 ? 1 : 2]++;
    }
    // Every class is there: the letters need a background, a frame and the static.
    EXPECT_GT(counts[0], 0);
    EXPECT_GT(counts[1], 0);
    EXPECT_GT(counts[2], 0);
}

TEST(NoiseTextScene, LineScheduleShowsLineTwoBeforeLineOne) {
    struct Case {
        uint32_t t;
        int line;
        int16_t x;
    };
    const Case cases[] = {
        {0, 0, 10},    {2548, 0, 10},  {2549, 2, 22},  {5151, 2, 22},  {5152, 1, 8},   {7673, 1, 8},
        {7674, 3, 18}, {11905, 3, 18}, {11906, -1, 0}, {11703, 3, 18}, {20000, -1, 0},
    };
    for (const Case& c : cases) {
        const NoiseTextScene::LineShowing shown = NoiseTextScene::lineAt(c.t);
        EXPECT_EQ(shown.line, c.line) << c.t;
        if (c.line >= 0) {
            EXPECT_EQ(shown.x, c.x) << c.t;
            EXPECT_EQ(shown.y, 32) << c.t;
        }
    }
}

TEST(NoiseTextScene, CurtainRisesInFourSteps) {
    const std::pair<uint32_t, float> cases[] = {
        {0, 0.0f},    {9586, 0.0f}, {9587, 0.4f},  {9746, 0.4f},  {9747, 0.8f},
        {9907, 0.8f}, {9908, 1.2f}, {10064, 1.2f}, {10065, 1.6f}, {11703, 1.6f},
    };
    for (const auto& [t, height] : cases) EXPECT_EQ(NoiseTextScene::curtainHeight(t), height) << t;
}

class NoiseTextRenderTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        ASSERT_EQ(scene.init(), 0);
        ASSERT_EQ(noise.create({160, 100}, 4), 0);
    }
    void TearDown() override {
        noise.release();
        noiseState = NOISE_INITIAL_STATE;
        RenderTest::TearDown();
    }

    // Renders local time t from a known generator state and keeps the static the
    // frame was given in `noise`.
    void renderFrom(int32_t state, uint32_t t) {
        noiseState = state;
        const int16_t rect[4] = {0, 0, 160, 100};
        fillNoise(rect, &noise);
        const int32_t after = noiseState;
        noiseState = state;
        scene.render(t);
        EXPECT_EQ(noiseState, after);
    }

    // The line over the dark blue background, then the static weighted by that
    // picture's alpha; the bottom `curtainRows` rows plain black with alpha 0.
    void expectFrame(uint32_t t, int curtainRows) {
        const NoiseTextScene::LineShowing shown = NoiseTextScene::lineAt(t);
        int letters = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 160; ++x) {
                uint8_t d[4] = {0, 0, 32, 0};
                if (shown.line >= 0) {
                    const int16_t* rect = NOISE_TEXT_LINE_RECTS[shown.line];
                    const int u = x - shown.x;
                    const int v = y - shown.y;
                    if (u >= 0 && u < rect[2] && v >= 0 && v < rect[3]) {
                        const uint8_t* s =
                            noiseTextImageData + ((rect[1] + v) * 146 + rect[0] + u) * 4;
                        if (s[3] != 0) std::memcpy(d, s, 4);
                        letters += s[3] == 255;
                    }
                }
                const uint8_t* n = noise.pixels() + y * noise.pitch() + x * 4;
                const uint8_t* p = colorAt(x, y);
                if (y >= 100 - curtainRows) {
                    ASSERT_EQ(p[0] | p[1] | p[2] | p[3], 0) << x << "," << y;
                    continue;
                }
                for (int j = 0; j < 4; ++j) {
                    const int expected =
                        std::min(255, (((d[3] + 1) * n[j]) >> 8) + (((256 - d[3]) * d[j]) >> 8));
                    ASSERT_EQ(p[j], expected) << x << "," << y << " channel " << j;
                }
            }
        if (shown.line >= 0 && curtainRows == 0) {
            EXPECT_GT(letters, 100);
        }
    }

    NoiseTextScene scene;
    Surface noise;
};

TEST_F(NoiseTextRenderTest, LettersShowTheStaticAndTheRestKeepsItsColor) {
    for (uint32_t t : {2548u, 2549u, 5152u, 7674u, 9586u}) {
        renderFrom(NOISE_INITIAL_STATE + int32_t(t), t);
        expectFrame(t, 0);
        EXPECT_EQ(textMode(), 1);
    }
}

TEST_F(NoiseTextRenderTest, CurtainCoversAQuarterOfTheHeightPerStep) {
    // The third step's top edge, 1.2f - 0.8 = 0.40000004, lies a hair above a
    // quarter of the height and takes one more row.
    const std::pair<uint32_t, int> steps[] = {
        {9587, 25}, {9746, 25}, {9747, 50}, {9908, 76}, {10064, 76}, {10065, 100}, {11906, 100},
    };
    for (const auto& [t, rows] : steps) {
        renderFrom(0x2468ace, t);
        expectFrame(t, rows);
        EXPECT_EQ(textMode(), 1);
    }
}

TEST_F(NoiseTextRenderTest, LeavesBlendingAndAlphaTestOff) {
    setTextMode(0);
    scene.render(1000);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
    EXPECT_EQ(sglIsEnabled(SGL_ALPHA_TEST), 0);
    EXPECT_EQ(textMode(), 1);
}

TEST_F(NoiseTextRenderTest, FramesMatchTheirReferences) {
    // The two-row last line with its static; then the curtain half way up.
    for (uint32_t t : {7674u, 9747u}) {
        noiseState = NOISE_INITIAL_STATE;
        scene.render(t);
        EXPECT_TRUE(matchesReferenceImage(color, "noise_text_" + std::to_string(t)));
    }
}

}  // namespace
