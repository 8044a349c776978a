// The opening scene: its flash and fade rule, its choreography of captions,
// jitter and static, the camera's phases, the static's blending, replay mode,
// the jitter generator, and whole frames of the show against reviewed images.
#include "scenes/cross_lights_scene.h"
#include "tests/idle_scene.h"
#include "tests/reference_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>

#include "platform/png_file.h"
#include "platform/virtual_clock.h"
#include "render/render_context.h"
#include "scenekit/noise.h"
#include "scenes/runtime_rand.h"
#include "show/demo.h"
#include "tests/render_fixture.h"
#include "textmode/text_mode.h"

namespace {

constexpr uint32_t REPLAY = SCENE_REPLAY_OFFSET;

// Keeps the program's never-reseeded generators out of the other tests' way.
class SavedGenerators {
  public:
    SavedGenerators() : rand_(runtimeRandState), noise_(noiseState) {}
    ~SavedGenerators() {
        runtimeRandState = rand_;
        noiseState = noise_;
    }

  private:
    uint32_t rand_;
    int32_t noise_;
};

// The caption lines are built by the first Demo::init of the process.
void ensureCaptionLines() {
    static Demo* owner = [] {
        Demo* demo = new Demo;
        std::array<SceneFactory, DEMO_SCENE_COUNT> idle;
        idle.fill(makeIdleScene);
        demo->setSceneFactories(idle);
        demo->init({160, 100});
        return demo;
    }();
    (void)owner;
}

// Evaluates the scene's tracks at every millisecond from `from` to `to` inclusive.
void runTracks(CrossLightsScene& scene, uint32_t from, uint32_t to, uint32_t step = 1) {
    for (uint32_t t = from; t <= to; t += step) scene.tracks.evaluate(t);
}

}  // namespace

TEST(RuntimeRand, FirstValuesFromStateOne) {
    SavedGenerators saved;
    runtimeRandState = RUNTIME_RAND_INITIAL_STATE;
    const int expected[10] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int value : expected) EXPECT_EQ(runtimeRand(), value);
}

TEST(RuntimeRand, StateWrapsModulo2To32) {
    SavedGenerators saved;
    runtimeRandState = 0xFFFFFFFFu;
    // 0xFFFFFFFF x 214013 + 2531011 = 2531011 - 214013 = 2316998 modulo 2^32.
    EXPECT_EQ(runtimeRand(), int((2316998u >> 16) & 0x7FFF));
    EXPECT_EQ(runtimeRandState, 2316998u);
}

class CrossLightsLogic : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(scene.init(), 0); }
    CrossLightsScene scene;
};

TEST_F(CrossLightsLogic, FlashIsFullAtOnceAndGoneAboutThreeSecondsLater) {
    const CrossLight& white = *scene.lights[0];
    EXPECT_EQ(flashIntensity(white, 371), 1.0f);
    EXPECT_FLOAT_EQ(flashIntensity(white, 371 + 1000), 0.7f);
    // 0.3 per second in single precision leaves a sliver at 3333 ms.
    EXPECT_GT(flashIntensity(white, 371 + 3333), 0.0f);
    EXPECT_LT(flashIntensity(white, 371 + 3333), 0.0002f);
    EXPECT_EQ(flashIntensity(white, 371 + 3334), 0.0f);
    EXPECT_EQ(flashIntensity(white, 6756), 0.0f);
    EXPECT_EQ(flashIntensity(white, 6757), 1.0f);
    // After its last flash the remaining empty slots keep the fade going.
    EXPECT_FLOAT_EQ(flashIntensity(white, 19551 + 500), 0.85f);
    EXPECT_EQ(flashIntensity(white, 38387), 0.0f);
}

TEST_F(CrossLightsLogic, LightsAreDarkBeforeTheirFirstFlash) {
    const uint32_t firstFlash[5] = {371, 998, 1625, 7987, 9195};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(flashIntensity(*scene.lights[k], 0), 0.0f) << k;
        EXPECT_EQ(flashIntensity(*scene.lights[k], firstFlash[k] - 1), 0.0f) << k;
        EXPECT_EQ(flashIntensity(*scene.lights[k], firstFlash[k]), 1.0f) << k;
    }
}

TEST_F(CrossLightsLogic, LightWithEightFlashesFadesAfterItsLastSlot) {
    const CrossLight& cyan = *scene.lights[1];
    EXPECT_EQ(cyan.flashTimes[7], 24589u);
    EXPECT_NEAR(flashIntensity(cyan, 24588), 1.0 - 0.3 * 3.203, 1e-6);  // since 21385
    EXPECT_EQ(flashIntensity(cyan, 24589), 1.0f);
    EXPECT_FLOAT_EQ(flashIntensity(cyan, 24589 + 2000), 0.4f);
    EXPECT_EQ(flashIntensity(cyan, 24589 + 3334), 0.0f);
}

TEST_F(CrossLightsLogic, EachCaptionIsOnExactlyDuringItsShowing) {
    const uint32_t shown[8][2] = {{3157, 5657},   {6757, 9257},   {10448, 12948}, {13165, 15665},
                                  {13165, 15665}, {16161, 18661}, {19551, 22151}, {24589, 32985}};
    for (uint32_t t = 0; t < 38388; ++t) {
        scene.tracks.evaluate(t);
        for (int k = 0; k < 8; ++k) {
            const bool expected = shown[k][0] <= t && t < shown[k][1];
            ASSERT_EQ(scene.captionOn[k], expected ? 1 : 0) << "caption " << k << " at " << t;
        }
    }
}

TEST_F(CrossLightsLogic, CaptionPlacesAndFades) {
    const int16_t x[8] = {13, 52, 0, 0, 20, 35, 0, 16};
    const int16_t y[8] = {43, 43, 0, 0, 0, 43, 43, 20};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(scene.captionX[k], x[k]) << k;
        EXPECT_EQ(scene.captionY[k], y[k]) << k;
    }
    runTracks(scene, 0, 3407);
    EXPECT_EQ(scene.captionAlpha[0], 127);  // halfway through the fade-in
    runTracks(scene, 3408, 5000);
    EXPECT_EQ(scene.captionAlpha[0], 254);  // a fade never writes its end value
    runTracks(scene, 5001, 8000);
    EXPECT_EQ(scene.captionAlpha[0], 0);
    EXPECT_EQ(scene.captionAlpha[1], 255);  // shown at full strength until its fade-out
}

TEST_F(CrossLightsLogic, SeventhCaptionLingersNearlyTransparentBeforeItGoesOff) {
    // Frames 20 ms apart, as the show runs them.
    runTracks(scene, 0, 22040, 20);
    EXPECT_EQ(scene.captionOn[6], 1);
    EXPECT_LE(scene.captionAlpha[6], 5);
    for (uint32_t t = 22060; t < 22151; t += 20) {
        scene.tracks.evaluate(t);
        EXPECT_EQ(scene.captionOn[6], 1) << t;
        EXPECT_LE(scene.captionAlpha[6], 5) << t;
    }
    scene.tracks.evaluate(22160);
    EXPECT_EQ(scene.captionOn[6], 0);
}

TEST_F(CrossLightsLogic, JitterAndStaticFadeFollowTheirTracks) {
    runTracks(scene, 0, 25558);
    EXPECT_EQ(scene.jitter, 0.0f);
    runTracks(scene, 25559, 27059);
    EXPECT_FLOAT_EQ(scene.jitter, 10.0f);
    runTracks(scene, 27060, 31984);
    EXPECT_GT(scene.jitter, 19.99f);
    EXPECT_EQ(scene.noiseAlpha, 255);
    runTracks(scene, 31985, 34000);
    EXPECT_EQ(scene.noiseAlpha, 127);  // 255 - 255 x 2015 / 4017, truncated
    EXPECT_EQ(scene.captionOn[7], 0);
    runTracks(scene, 34001, 38387);
    EXPECT_EQ(scene.noiseAlpha, 0);
}

class CrossLightsRender : public RenderTest {
  protected:
    void SetUp() override {
        ensureCaptionLines();
        RenderTest::SetUp();
        ASSERT_EQ(scene.init(), 0);
        sglBlendColor4ubv(SENTINEL);
    }

    // Renders the replay frame at s after running the tracks up to it, as the show would.
    void renderReplayAt(uint32_t s) {
        runTracks(scene, 0, s - 1, 20);
        scene.render(REPLAY + s);
    }

    uint8_t blendAlpha() const {
        uint8_t color[4] = {};
        sglGetBlendColor(color);
        return color[3];
    }

    const Mat4& modelview() const { return renderContext.matrices[SGL_MODELVIEW]; }

    static constexpr uint8_t SENTINEL[4] = {1, 2, 3, 4};
    SavedGenerators saved;
    CrossLightsScene scene;
};

TEST_F(CrossLightsRender, CameraSpinsTiltsStretchesAndPansAtItsBoundaries) {
    const auto at = [&](uint32_t s, int element) {
        scene.render(REPLAY + s);
        return modelview().m[element];
    };
    // Spin: 4500 / 15 = 300 degrees about the view axis, 2.2 deep.
    EXPECT_NEAR(at(4500, 0), 0.5f, 1e-6f);
    EXPECT_EQ(at(6756, 11), 2.2f);
    // Tilt: from -35 degrees about x at 6757 to nearly 15 at the end.
    EXPECT_NEAR(at(6757, 5), std::cos(-35.0 * std::numbers::pi / 180.0), 1e-6);
    EXPECT_EQ(modelview().m[11], 2.3f);
    EXPECT_NEAR(at(13164, 5), std::cos(15.0 * std::numbers::pi / 180.0), 1e-4);
    // Stretch: from (3, 1) to nearly (1, 2).
    EXPECT_EQ(at(13165, 0), 3.0f);
    EXPECT_EQ(modelview().m[5], 1.0f);
    EXPECT_NEAR(at(19550, 0), 1.0f, 1e-3f);
    EXPECT_NEAR(modelview().m[5], 2.0f, 1e-3f);
    // Pan: from 1.5 left to nearly 1.5 right, without the stretch.
    EXPECT_EQ(at(19551, 3), -1.5f);
    EXPECT_EQ(modelview().m[0], 1.0f);
    EXPECT_NEAR(at(27909, 3), 1.5f, 1e-3f);
    // Still camera once the beams are gone.
    Mat4 identity;
    identity.identity();
    scene.render(REPLAY + 27910);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(modelview().m[i], identity.m[i]) << i;
    EXPECT_EQ(renderContext.stackDepth, 0);
}

TEST_F(CrossLightsRender, StaticFadesInWithTheSquareOfTime) {
    const int32_t before = noiseState;
    scene.render(REPLAY + 25558);
    EXPECT_EQ(noiseState, before);
    EXPECT_EQ(blendAlpha(), SENTINEL[3]);
    // e = (s - 25559) / 2351; alpha = trunc(e^2 x 255).
    const uint32_t times[] = {25559, 25559 + 147, 25559 + 148, 25559 + 1175, 25559 + 2350};
    const uint8_t alphas[] = {0, 0, 1, 63, 254};
    for (int i = 0; i < 5; ++i) {
        scene.render(REPLAY + times[i]);
        EXPECT_EQ(blendAlpha(), alphas[i]) << times[i];
        EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
    }
    // One register step per pixel of the 160x100 static, every frame.
    runtimeRandState = RUNTIME_RAND_INITIAL_STATE;
    noiseState = NOISE_INITIAL_STATE;
    int32_t expected = NOISE_INITIAL_STATE;
    for (int step = 0; step < 16000; ++step) {
        const uint32_t s = uint32_t(expected);
        expected = int32_t((((s ^ (s >> 3)) & 1) << 30) | (s >> 1));
    }
    scene.render(REPLAY + 26000);
    EXPECT_EQ(noiseState, expected);
}

TEST_F(CrossLightsRender, BeamsVanishAt27910UnderFullStatic) {
    scene.render(REPLAY + 27909);
    EXPECT_EQ(blendAlpha(), 254);
    bool beamDepth = false;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x) beamDepth |= depthRow(y)[x] != 0.0f;
    EXPECT_TRUE(beamDepth) << "the beams write depth until 27909";

    scene.render(REPLAY + 27910);
    EXPECT_EQ(blendAlpha(), 255);
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 0);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) {
            ASSERT_EQ(depthRow(y)[x], 0.0f) << x << "," << y;
            // Full static: the picture is the noise itself.
            const uint8_t* noise = scene.noiseSurface->pixels() + y * 640 + x * 4;
            for (int c = 0; c < 3; ++c) ASSERT_EQ(colorAt(x, y)[c], noise[c]) << x << "," << y;
        }
    }
}

TEST_F(CrossLightsRender, StaticFollowsNoiseAlphaAndStopsAt36002) {
    renderReplayAt(30000);
    EXPECT_EQ(blendAlpha(), 255);
    renderReplayAt(34000);
    EXPECT_EQ(blendAlpha(), 127);
    renderReplayAt(36001);
    EXPECT_EQ(blendAlpha(), 0);

    sglBlendColor4ubv(SENTINEL);
    const int32_t before = noiseState;
    scene.render(REPLAY + 36002);
    EXPECT_EQ(noiseState, before);
    EXPECT_EQ(blendAlpha(), SENTINEL[3]);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 160; ++x)
            ASSERT_EQ(std::memcmp(colorAt(x, y), renderContext.clearColor, 4), 0) << x << "," << y;
}

TEST_F(CrossLightsRender, ReplayRunsTheTracksButDrawsNoCaption) {
    runtimeRandState = RUNTIME_RAND_INITIAL_STATE;
    EXPECT_EQ(scene.render(REPLAY + 3300), 0);
    EXPECT_EQ(scene.captionOn[0], 1);
    EXPECT_EQ(scene.captionAlpha[0], 72);  // 255 x 143 / 500, truncated
    EXPECT_EQ(blendAlpha(), SENTINEL[3]);

    // The same moment in the showing draws the caption with its alpha.
    scene.render(3300);
    EXPECT_EQ(blendAlpha(), 72);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);

    // The shaking caption takes two random values per frame, and none in replay.
    runTracks(scene, 0, 27040, 20);
    runtimeRandState = RUNTIME_RAND_INITIAL_STATE;
    scene.render(REPLAY + 27060);
    EXPECT_EQ(runtimeRandState, RUNTIME_RAND_INITIAL_STATE);
    scene.render(27060);
    uint32_t twoSteps = RUNTIME_RAND_INITIAL_STATE;
    for (int i = 0; i < 2; ++i) twoSteps = twoSteps * 214013u + 2531011u;
    EXPECT_EQ(runtimeRandState, twoSteps);
}

TEST_F(CrossLightsRender, SelectsTheGlyphTextModeInBothModes) {
    setTextMode(1);
    EXPECT_EQ(scene.render(1000), 0);
    EXPECT_EQ(textMode(), 0);
    setTextMode(1);
    scene.render(REPLAY + 1000);
    EXPECT_EQ(textMode(), 0);
}

// Whole frames of the show, run from the start on a virtual clock with fresh
// generators, as the program's render mode does.
TEST(CrossLightsShow, FramesMatchTheirReferences) {
    SavedGenerators saved;
    VirtualClock clock;
    Demo demo;
    ASSERT_EQ(demo.init({160, 100}), 0);
    noiseState = NOISE_INITIAL_STATE;
    runtimeRandState = RUNTIME_RAND_INITIAL_STATE;
    // The stretch with two captions and five beams; the pan under the fading-in
    // static with the shaking caption.
    for (uint32_t t = 0; t <= 26000; t += 20) {
        demo.update(clock.tickCount());
        ASSERT_EQ(demo.demoTime(), t);
        if (t == 14000 || t == 26000) {
            EXPECT_TRUE(
                matchesReferenceImage(*demo.colorSurface(), "crosses_" + std::to_string(t)));
        }
        clock.advance(20);
    }
    demo.shutdown();
    renderContext.frameBuffer = nullptr;
}
