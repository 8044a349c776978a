#include "scenes/glow_trail_scene.h"
#include "tests/idle_scene.h"
#include "tests/reference_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "data/images.h"
#include "render/avx2.h"
#include "render/render_context.h"
#include "render_fixture.h"
#include "scenekit/captions.h"
#include "show/demo.h"
#include "textmode/text_mode.h"

namespace {

constexpr uint32_t START = 99834;

// Evaluates the scene's tracks as the frames of its showing would, from local
// time `from` to `to` inclusive in 20 ms steps, and last at `to`.
void playTracks(GlowTrailScene& scene, uint32_t from, uint32_t to) {
    for (uint32_t t = from; t < to; t += 20) scene.tracks.evaluate(START + t);
    scene.tracks.evaluate(START + to);
}

TEST(GlowTrailScene, CurvesWidenOverTheWholeShowing) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    // The four curve parameters ease linearly over 100 s from the scene's start;
    // the scene ends long before they arrive.
    scene.tracks.evaluate(99834);
    EXPECT_EQ(scene.periodX, 6.53f);
    EXPECT_EQ(scene.periodY, 5.43f);
    EXPECT_EQ(scene.amplitudeX, 85.0f);
    EXPECT_EQ(scene.amplitudeY, 40.0f);
    scene.tracks.evaluate(99834 + 50000);
    EXPECT_NEAR(scene.periodX, (6.53f + 7.64f) / 2, 1e-5f);
    EXPECT_NEAR(scene.periodY, (5.43f + 8.53f) / 2, 1e-5f);
    EXPECT_NEAR(scene.amplitudeX, 84.0f, 1e-4f);
    EXPECT_NEAR(scene.amplitudeY, 48.5f, 1e-4f);
}

TEST(GlowTrailScene, InitSetsCentreLinesAndFlags) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    EXPECT_EQ(scene.centreX, 80);
    EXPECT_EQ(scene.centreY, 50);
    const int16_t lineX[12] = {10, 0, 2, 3, 40, 3, 30, 55, 25, 17, 26, 6};
    const int16_t lineY[12] = {10, 20, 28, 10, 10, 20, 20, 20, 10, 20, 30, 40};
    const uint8_t lineOn[12] = {1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i) {
        if (i != 1) {
            EXPECT_EQ(scene.lineX[i], lineX[i]) << i;
        }
        EXPECT_EQ(scene.lineY[i], lineY[i]) << i;
        EXPECT_EQ(scene.lineOn[i], lineOn[i]) << i;
    }
    EXPECT_EQ(scene.startTime(1), 99834u);
    EXPECT_EQ(scene.startTime(2), 99834u);
    ASSERT_NE(scene.glow, nullptr);
    EXPECT_TRUE(scene.glow->valid());
    EXPECT_EQ(std::memcmp(scene.glowImage->pixels(), glowImageData, sizeof glowImageData), 0);
}

TEST(GlowTrailScene, LineFlagsFollowTheLocalSchedule) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    auto flags = [&] {
        std::array<int, 12> on{};
        for (int i = 0; i < 12; ++i) on[i] = scene.lineOn[i];
        return on;
    };
    using Flags = std::array<int, 12>;
    playTracks(scene, 0, 8999);
    EXPECT_EQ(flags(), (Flags{1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    playTracks(scene, 9000, 9999);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    playTracks(scene, 10000, 18999);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0, 0}));
    playTracks(scene, 19000, 19202);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    playTracks(scene, 19203, 19203);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}));
    playTracks(scene, 19204, 19963);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    playTracks(scene, 19964, 20299);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    playTracks(scene, 20300, 20479);
    EXPECT_EQ(flags(), (Flags{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(GlowTrailScene, LineOneSlidesInAndRestsAtTen) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    scene.tracks.evaluate(START);
    EXPECT_EQ(scene.lineX[1], 70);
    scene.tracks.evaluate(START + 4000);
    EXPECT_EQ(scene.lineX[1], 40);
    scene.tracks.evaluate(START + 7999);
    EXPECT_EQ(scene.lineX[1], 10);
    for (uint32_t t : {8000u, 9000u, 20479u}) {
        scene.tracks.evaluate(START + t);
        EXPECT_EQ(scene.lineX[1], 10) << t;
    }
}

TEST(GlowTrailScene, TrailPositionsInDoublePrecision) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    scene.tracks.evaluate(START);
    EXPECT_EQ(scene.periodX, 6.53f);
    EXPECT_EQ(scene.periodY, 5.43f);
    EXPECT_EQ(scene.amplitudeX, 85.0f);
    EXPECT_EQ(scene.amplitudeY, 40.0f);

    // Sprite 1 of step 0 sits on the centre: both sines are 0.
    Size16 p = scene.spritePosition(0, 0, false);
    EXPECT_EQ(p.width, 80);
    EXPECT_EQ(p.height, 50);
    // Sprite 2 is offset by 45334 ms in x and 74763 ms in y: 163.011, 89.986.
    p = scene.spritePosition(0, 0, true);
    EXPECT_EQ(p.width, 163);
    EXPECT_EQ(p.height, 89);
    // Negative fractions truncate toward zero: x = -0.351 and -0.441 give 0.
    p = scene.spritePosition(0, 97, true);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 10);
    p = scene.spritePosition(0, 164, false);
    EXPECT_EQ(p.width, 0);
    EXPECT_EQ(p.height, 16);
    // Step i is 10 ms further along its curve.
    Size16 stepped = scene.spritePosition(970, 0, true);
    EXPECT_EQ(stepped.width, scene.spritePosition(0, 97, true).width);
}

// Every sprite of every frame where the library's sine puts it (the scene's
// own sine stands in for it wherever both truncate alike), one by one and
// all at once, in AVX2 lanes and without them.
TEST(GlowTrailScene, TrailPositionsAgreeWithTheLibrarySine) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    auto coordinate = [](uint32_t u, float period, float amplitude, int16_t centre) {
        const double v =
            std::sin(double(u) / double(period) * (3.141592 / 180.0)) * double(amplitude) +
            double(centre);
        return int16_t(int64_t(v));
    };
    Size16 positions[GLOW_TRAIL_LENGTH][2];
    for (uint8_t avx2 : {1, 0}) {
        avx2Allowed = avx2;
        for (uint32_t t = 0; t < 22000; t += 20) {
            scene.tracks.evaluate(START + t);
            scene.trailPositions(t, positions);
            for (int i = 0; i < GLOW_TRAIL_LENGTH; ++i) {
                const uint32_t u = t + 10 * uint32_t(i);
                const Size16 expected[2] = {
                    {coordinate(u, scene.periodX, scene.amplitudeX, 80),
                     coordinate(u, scene.periodY, scene.amplitudeY, 50)},
                    {coordinate(u + 45334, scene.periodX, scene.amplitudeX, 80),
                     coordinate(u + 74763, scene.periodY, scene.amplitudeY, 50)}};
                for (int second = 0; second < 2; ++second) {
                    const Size16 one = scene.spritePosition(t, i, second == 1);
                    ASSERT_EQ(one.width, expected[second].width) << t << " " << i;
                    ASSERT_EQ(one.height, expected[second].height) << t << " " << i;
                    ASSERT_EQ(positions[i][second].width, one.width) << int(avx2) << " " << t;
                    ASSERT_EQ(positions[i][second].height, one.height) << int(avx2) << " " << t;
                }
            }
        }
    }
    avx2Allowed = 1;
}

// A caption line of known content in place of all the scene's lines: columns
// 0-39 white letters, 40-59 black border, the rest transparent.
class GlowTrailRenderTest : public RenderTest {
  protected:
    static constexpr int WHITE_END = 40;
    static constexpr int BORDER_END = 60;

    void SetUp() override {
        RenderTest::SetUp();
        ASSERT_EQ(sheet.create({160, 14}, 4), 0);
        for (int y = 0; y < 14; ++y)
            for (int x = 0; x < 160; ++x) {
                uint8_t* p = sheet.pixels() + y * sheet.pitch() + x * 4;
                const uint8_t grey = x < WHITE_END ? 255 : 0;
                p[0] = p[1] = p[2] = grey;
                p[3] = x < BORDER_END ? 255 : 0;
            }
        const int16_t rect[4] = {0, 0, 160, 14};
        ASSERT_EQ(line.init(rect, &sheet), 0);
        savedSheet2Line = sheet2Lines[7];
        sheet2Lines[7] = &line;
        for (int i = 1; i < 12; ++i) {
            savedSheet3Lines[i] = sheet3Lines[i];
            sheet3Lines[i] = &line;
        }
        ASSERT_EQ(scene.init(), 0);
        // A flat glow: every sprite adds (17 x 128) >> 8 = 8 to the alpha it covers.
        std::memset(scene.glowImage->pixels(), 128, 64 * 64 * 4);
        scene.fitGlowSprite();
    }

    void TearDown() override {
        sheet2Lines[7] = savedSheet2Line;
        for (int i = 1; i < 12; ++i) sheet3Lines[i] = savedSheet3Lines[i];
        sheet.release();
        RenderTest::TearDown();
    }

    // The light map the flat glow gives at local time t: 8 per covering sprite.
    std::vector<int> expectedLightMap(uint32_t t) {
        scene.tracks.evaluate(START + t);
        std::vector<int> hits(160 * 100, 0);
        for (int i = 0; i < GLOW_TRAIL_LENGTH; ++i)
            for (bool second : {false, true}) {
                const Size16 p = scene.spritePosition(t, i, second);
                for (int y = std::max<int>(p.height, 0); y < std::min(p.height + 32, 100); ++y)
                    for (int x = std::max<int>(p.width, 0); x < std::min(p.width + 32, 160); ++x)
                        ++hits[y * 160 + x];
            }
        for (int& h : hits) h = std::min(255, 8 * h);
        return hits;
    }

    Surface sheet;
    SubImage line;
    SubImage* savedSheet2Line = nullptr;
    SubImage* savedSheet3Lines[12] = {};
    GlowTrailScene scene;
};

TEST_F(GlowTrailRenderTest, TrailsChangeOnlyAlphaWhileNoLineIsOn) {
    const std::vector<int> light = expectedLightMap(9500);
    scene.render(9500);
    int lit = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x) {
            const uint8_t* p = colorAt(x, y);
            ASSERT_EQ(p[0] | p[1] | p[2], 0) << x << "," << y;
            ASSERT_EQ(p[3], light[y * 160 + x]) << x << "," << y;
            lit += p[3] != 0;
        }
    EXPECT_GT(lit, 1000);
}

// The real glow drawn as fitted gives the light map of the whole sprite, at
// frames with the trails partly off the FrameBuffer too.
TEST_F(GlowTrailRenderTest, FittedSpriteLightsWhatTheWholeOneLights) {
    std::memcpy(scene.glowImage->pixels(), glowImageData, sizeof glowImageData);
    scene.fitGlowSprite();
    EXPECT_GT(scene.glowOffsetY, 0);
    for (uint32_t t : {9500u, 12345u}) {
        std::vector<uint8_t> frames[2];
        for (std::vector<uint8_t>& frame : frames) {
            scene.render(t);
            frame.assign(color.pixels(), color.pixels() + 160 * 100 * 4);
            const int16_t whole[4] = {0, 0, 32, 32};
            scene.glow->init(whole, scene.glowImage.get());
            scene.glowOffsetX = scene.glowOffsetY = 0;
        }
        EXPECT_EQ(frames[0], frames[1]) << t;
        scene.fitGlowSprite();
    }
}

TEST_F(GlowTrailRenderTest, LitLinesAddThemselvesWeightedByTheLightMap) {
    // Local 0: lines 0, 1 and 2 at (20, 20), (140, 40) and (4, 56).
    const std::vector<int> light = expectedLightMap(0);
    scene.render(0);
    const int lineLeft[3] = {20, 140, 4};
    const int lineTop[3] = {20, 40, 56};
    int fifteenFold = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x) {
            const int a = light[y * 160 + x];
            int column = -1;
            for (int i = 0; i < 3; ++i)
                if (y >= lineTop[i] && y < lineTop[i] + 14 && x >= lineLeft[i]) {
                    column = x - lineLeft[i];
                }
            const uint8_t* p = colorAt(x, y);
            if (column >= 0 && column < WHITE_END) {
                // White letters: ((255 + 1) x a) >> 8 = a in every channel, alpha doubled.
                ASSERT_EQ(p[0], a) << x << "," << y;
                ASSERT_EQ(p[1], a);
                ASSERT_EQ(p[2], a);
                ASSERT_EQ(p[3], std::min(255, 2 * a)) << x << "," << y;
                if (a == 120) ++fifteenFold;
            } else if (column >= 0 && column < BORDER_END) {
                ASSERT_EQ(p[0] | p[1] | p[2], 0) << x << "," << y;
                ASSERT_EQ(p[3], std::min(255, 2 * a)) << x << "," << y;
            } else {
                ASSERT_EQ(p[0] | p[1] | p[2], 0) << x << "," << y;
                ASSERT_EQ(p[3], a) << x << "," << y;
            }
        }
    // Some letter pixel lies under 15 sprites: alpha 120 makes it (120, 120, 120).
    EXPECT_GT(fifteenFold, 0);
}

TEST_F(GlowTrailRenderTest, PlainLineOverwritesAtThreeQuarters) {
    // Local 19203: line 8 comes on at (50, 20); nothing else shows.
    playTracks(scene, 0, 19202);
    const std::vector<int> light = expectedLightMap(19203);
    scene.render(19203);
    int darkened = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x) {
            const uint8_t* p = colorAt(x, y);
            const int column = y >= 20 && y < 34 && x >= 50 ? x - 50 : -1;
            const uint8_t white = column >= 0 && column < WHITE_END ? 192 : 0;
            const int alpha = column < 0 ? light[y * 160 + x] : column < BORDER_END ? 192 : 0;
            ASSERT_EQ(p[0], white) << x << "," << y;
            ASSERT_EQ(p[1], white);
            ASSERT_EQ(p[2], white);
            ASSERT_EQ(p[3], alpha) << x << "," << y;
            if (column >= BORDER_END && light[y * 160 + x] != 0) ++darkened;
        }
    // The transparent rest of the rectangle wiped lit parts of the light map.
    EXPECT_GT(darkened, 0);
}

TEST_F(GlowTrailRenderTest, LeavesClearColorBlendColorAndTextMode) {
    setTextMode(0);
    scene.render(12000);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
    uint8_t blend[4];
    ASSERT_EQ(sglGetBlendColor(blend), 0);
    EXPECT_EQ(std::vector<int>(blend, blend + 4), (std::vector<int>{0, 0, 0, 192}));
    EXPECT_EQ(std::vector<int>(renderContext.clearColor, renderContext.clearColor + 4),
              (std::vector<int>{0, 0, 0, 255}));
    EXPECT_EQ(renderContext.blendSrc, BLEND_CONSTANT_ALPHA);
    EXPECT_EQ(renderContext.blendDst, BLEND_ZERO);
    EXPECT_EQ(textMode(), 1);
}

// Stands in for the other scenes where a test needs the Demo's caption lines only.
// Builds the Demo's caption sheets and lines once for the whole test run.
void buildCaptionLines() {
    static Demo demo;
    if (demo.initialised()) return;
    std::array<SceneFactory, DEMO_SCENE_COUNT> idle;
    idle.fill(makeIdleScene);
    demo.setSceneFactories(idle);
    ASSERT_EQ(demo.init({160, 100}), 0);
}

class GlowTrailPictureTest : public RenderTest {
  protected:
    void SetUp() override {
        buildCaptionLines();
        RenderTest::SetUp();
    }
};

TEST_F(GlowTrailPictureTest, FramesMatchTheirReferences) {
    GlowTrailScene scene;
    ASSERT_EQ(scene.init(), 0);
    // Lines 0-2 with line 1 halfway in; then the plain lines 8-10 over the trails.
    for (uint32_t t : {4000u, 19800u}) {
        playTracks(scene, 0, t - 20);
        scene.render(t);
        EXPECT_TRUE(matchesReferenceImage(color, "glow_trail_" + std::to_string(t)));
    }
}

}  // namespace
