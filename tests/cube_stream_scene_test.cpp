#include "scenes/cube_stream_scene.h"
#include "tests/idle_scene.h"
#include "tests/reference_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "platform/png_file.h"
#include "render/render_context.h"
#include "render/sgl.h"
#include "show/demo.h"
#include "tests/render_fixture.h"
#include "textmode/text_mode.h"

namespace {

// The 3x3 matrix of an orientation: column k is sign(o[k]) times axis |o[k]|.
struct Mat3 {
    float m[3][3] = {};
};

Mat3 orientationMatrix(const int8_t o[3]) {
    Mat3 r;
    for (int k = 0; k < 3; ++k) r.m[std::abs(o[k]) - 1][k] = o[k] < 0 ? -1.0f : 1.0f;
    return r;
}

Mat3 multiply(const Mat3& a, const Mat3& b) {
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

// The renderer's own matrix for the full quarter turn of `turn`, rounded.
Mat3 quarterTurnMatrix(uint8_t turn) {
    const uint8_t savedMode = renderContext.matrixMode;
    sglMatrixMode(SGL_MODELVIEW);
    sglPushMatrix();
    sglLoadIdentity();
    const float degrees = turn < 2 ? 90.0f : -90.0f;
    if (turn % 2 == 0)
        sglRotateXf(degrees);
    else
        sglRotateYf(degrees);
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            // cos 90 is not exactly 0 in floats; round so that long products stay exact.
            const float v = renderContext.matrices[SGL_MODELVIEW].m[i * 4 + j];
            r.m[i][j] = std::round(v);
            EXPECT_NEAR(v, r.m[i][j], 1e-6f);
        }
    sglPopMatrix();
    sglMatrixMode(savedMode);
    return r;
}

void expectNear(const Mat3& a, const Mat3& b, const std::string& what) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], 1e-6f) << what;
}

}  // namespace

TEST(CubeStreamInit, MovesStartAboutOneQuarterTurnApart) {
    CubeStreamScene scene;
    ASSERT_EQ(scene.init(), 0);
    const int32_t first[10] = {1229, 2217, 3204, 4191, 5178, 6166, 7153, 8140, 9127, 10115};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(scene.moves[i]->startTime, first[i]) << i;
    for (int i = 0; i < CUBE_MOVE_COUNT; ++i) {
        ASSERT_TRUE(scene.moves[i]) << i;
        EXPECT_EQ(scene.moves[i]->turn, i % 4) << i;
        if (i > 0) {
            const int32_t gap = scene.moves[i]->startTime - scene.moves[i - 1]->startTime;
            EXPECT_TRUE(gap == 987 || gap == 988) << i << ": " << gap;
        }
    }
    // 1229.997 + 399 x 987.245
    EXPECT_EQ(scene.moves[399]->startTime, 395140);
    EXPECT_EQ(scene.startTime(1), 79354u);
    EXPECT_EQ(scene.startTime(2), 79354u);
}

TEST(CubeStreamInit, TexturesHoldTheCloudAndCrackleImages) {
    CubeStreamScene scene;
    ASSERT_EQ(scene.init(), 0);
    ASSERT_NE(scene.backgroundTexture->pixels(), nullptr);
    ASSERT_NE(scene.cubeTexture->pixels(), nullptr);
    EXPECT_EQ(scene.backgroundTexture->width(), 64);
    EXPECT_EQ(scene.backgroundTexture->height(), 64);
    EXPECT_EQ(scene.backgroundTexture->bytesPerPixel(), 4);
    EXPECT_EQ(scene.cubeTexture->width(), 128);
    EXPECT_EQ(scene.cubeTexture->height(), 128);
    const uint8_t* cloud = scene.backgroundTexture->pixels();
    for (int i = 0; i < 64 * 64; ++i) {
        ASSERT_EQ(cloud[i * 4 + 1], 0) << i;
        ASSERT_GE(cloud[i * 4 + 3], 221) << i;
    }
    const uint8_t* crackle = scene.cubeTexture->pixels();
    for (int i = 0; i < 128 * 128; ++i) {
        ASSERT_EQ(crackle[i * 4], crackle[i * 4 + 2]) << i;
        ASSERT_GE(crackle[i * 4], 2) << i;
        ASSERT_EQ(crackle[i * 4 + 3], 0) << i;
    }
}

TEST(CubeStreamInit, CaptionGroupsComeAndGoOverTheShowing) {
    CubeStreamScene scene;
    ASSERT_EQ(scene.init(), 0);
    // One evaluation per 20 ms frame, as the show does; the flags are sampled at
    // chosen demo times.
    struct Expect {
        uint32_t time;
        uint8_t on[5];
        uint8_t alpha0;
        uint8_t alpha2;
    };
    const Expect expected[] = {
        {81880, {0, 0, 0, 0, 0}, 255, 255}, {81900, {1, 0, 0, 0, 0}, 255, 255},
        {84440, {1, 0, 0, 0, 0}, 255, 255}, {84960, {1, 0, 0, 0, 0}, 124, 255},
        {85440, {1, 0, 0, 0, 0}, 2, 255},   {85460, {0, 0, 0, 0, 0}, 2, 255},
        {87020, {0, 1, 0, 0, 0}, 2, 255},   {89580, {0, 0, 1, 0, 0}, 2, 255},
        {93140, {0, 0, 0, 0, 0}, 2, 4},     {94680, {0, 0, 0, 1, 0}, 2, 4},
        {97260, {0, 0, 0, 0, 1}, 2, 4},     {99820, {0, 0, 0, 0, 0}, 2, 4},
    };
    size_t next = 0;
    for (uint32_t t = 79360; t < 99834 && next < std::size(expected); t += 20) {
        scene.tracks.evaluate(t);
        if (t != expected[next].time) continue;
        const Expect& e = expected[next++];
        for (int g = 0; g < 5; ++g) EXPECT_EQ(scene.captionOn[g], e.on[g]) << t << " group " << g;
        EXPECT_EQ(scene.captionAlpha[0] & 0xFF, e.alpha0) << t;
        EXPECT_EQ(scene.captionAlpha[2] & 0xFF, e.alpha2) << t;
        EXPECT_EQ(scene.captionAlpha[1], 255) << t;
        EXPECT_EQ(scene.captionAlpha[3], 255) << t;
        EXPECT_EQ(scene.captionAlpha[4], 255) << t;
    }
    EXPECT_EQ(next, std::size(expected));
}

TEST(CubeStreamTurns, EachTableIsTheRenderersQuarterTurn) {
    // When a turn completes, the central cube's pose must equal the last frame of
    // the turn (the rotation in progress applied to the earlier pose): no jump.
    const int8_t starts[4][3] = {{1, 2, 3}, {-3, 1, -2}, {2, -3, 1}, {-1, -2, 3}};
    for (uint8_t turn = 0; turn < 4; ++turn) {
        for (const auto& start : starts) {
            std::memcpy(CubeStreamScene::orientation, start, 3);
            const Mat3 before = orientationMatrix(CubeStreamScene::orientation);
            CubeStreamScene::composeTurn(CubeStreamScene::turnTables[turn]);
            expectNear(orientationMatrix(CubeStreamScene::orientation),
                       multiply(quarterTurnMatrix(turn), before), "turn " + std::to_string(turn));
        }
    }
}

TEST(CubeStreamTurns, FourEqualTurnsComeBackToTheStart) {
    for (uint8_t turn = 0; turn < 4; ++turn) {
        const int8_t start[3] = {1, 2, 3};
        std::memcpy(CubeStreamScene::orientation, start, 3);
        for (int i = 0; i < 4; ++i) CubeStreamScene::composeTurn(CubeStreamScene::turnTables[turn]);
        EXPECT_EQ(CubeStreamScene::orientation[0], 1) << int(turn);
        EXPECT_EQ(CubeStreamScene::orientation[1], 2) << int(turn);
        EXPECT_EQ(CubeStreamScene::orientation[2], 3) << int(turn);
    }
}

class CubeStreamRender : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        ASSERT_EQ(scene.init(), 0);
    }

    // A camera from the side, so that the incoming cubes do not hide behind the
    // central one, and flat untextured cubes.
    void sideCamera() {
        sglMatrixMode(SGL_PROJECTION);
        sglFrustum(-1, 1, 0.8f, -0.8f, 1, 100);
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
        sglTranslatef(0, 0, 2.5f);
        sglRotateYf(40);
        sglClear(7);
        sglDisable(SGL_TEXTURE);
        sglDisable(SGL_STENCIL_TEST);
        sglEnable(SGL_DEPTH_TEST);
        sglDepthFunc(2);
        CubeStreamScene::setCubeHalfSize(0.5f);
        for (auto& c : CubeStreamScene::cornerColors) std::memset(c, 200, 4);
    }

    std::vector<uint8_t> colorBytes() const {
        return std::vector<uint8_t>(color.pixels(), color.pixels() + 160 * 100 * 4);
    }

    CubeStreamScene scene;
};

TEST_F(CubeStreamRender, OnlyTheCentralCubeBeforeTheFirstMove) {
    sideCamera();
    sglPushMatrix();
    CubeStreamScene::drawCube();
    sglPopMatrix();
    const std::vector<uint8_t> centralOnly = colorBytes();

    sideCamera();
    scene.drawCubes(1228);
    EXPECT_EQ(colorBytes(), centralOnly);
    EXPECT_EQ(CubeStreamScene::orientation[0], 1);
    EXPECT_EQ(CubeStreamScene::orientation[1], 2);
    EXPECT_EQ(CubeStreamScene::orientation[2], 3);
    EXPECT_EQ(CubeStreamScene::turnAngleX, 0.0f);
    EXPECT_EQ(CubeStreamScene::turnAngleY, 0.0f);

    sideCamera();
    scene.drawCubes(1229);
    EXPECT_NE(colorBytes(), centralOnly) << "the first cube appears far out at 1229 ms";
}

TEST_F(CubeStreamRender, CentralCubeTurnsWithTheSwingingCube) {
    // Move 0 (turn 0, +90 about X) arrives after 2833 ms and swings for 785 ms.
    scene.drawCubes(1229 + 2834 + 392);
    EXPECT_GT(CubeStreamScene::turnAngleX, 40.0f);
    EXPECT_LT(CubeStreamScene::turnAngleX, 50.0f);
    EXPECT_EQ(CubeStreamScene::turnAngleY, 0.0f);

    // Move 1 (turn 1) swinging: the turn of move 0 is complete.
    scene.drawCubes(2217 + 2834 + 600);
    EXPECT_EQ(CubeStreamScene::turnAngleX, 0.0f);
    EXPECT_GT(CubeStreamScene::turnAngleY, 60.0f);
    EXPECT_EQ(CubeStreamScene::orientation[0], 1);
    EXPECT_EQ(CubeStreamScene::orientation[1], -3);
    EXPECT_EQ(CubeStreamScene::orientation[2], 2);

    // Move 2 (turn 2) swinging: its angle is negative.
    scene.drawCubes(3204 + 2834 + 100);
    EXPECT_LT(CubeStreamScene::turnAngleX, 0.0f);
}

TEST_F(CubeStreamRender, CentralPoseIsTheCompletedTurnsInOrder) {
    // Each completed turn is applied on top of the earlier ones: pose n is
    // T(n-1) ... T(1) T(0), whatever cubes are still under way.
    for (const uint32_t u : {4500u, 9000u, 20000u, 45000u, 120000u}) {
        scene.drawCubes(u);
        Mat3 expected = orientationMatrix(std::array<int8_t, 3>{1, 2, 3}.data());
        int completed = 0;
        for (int i = 0; i < CUBE_MOVES_DRAWN; ++i) {
            const double d = (double(u) - scene.moves[i]->startTime) * 0.003;
            if (d < 8.5 + 1.5 * 6.283184 * 0.25 + 0.01) continue;
            expected = multiply(quarterTurnMatrix(scene.moves[i]->turn), expected);
            ++completed;
        }
        expectNear(orientationMatrix(CubeStreamScene::orientation), expected,
                   "u " + std::to_string(u) + ", completed " + std::to_string(completed));
    }
}

TEST_F(CubeStreamRender, OutlineRingsTheCubesWithoutTouchingThem) {
    for (const uint32_t time : {0u, 6000u, 40000u}) {
        EXPECT_EQ(scene.render(time), 1);
        int cubePixels = 0;
        int rimPixels = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 160; ++x) {
                const uint8_t s = stencilRow(y)[x];
                ASSERT_TRUE(s == 0 || s == 255) << x << "," << y << ": " << int(s);
                if (s != 255) continue;
                ++cubePixels;
                // A cube pixel keeps its crackle texel, which is never black.
                const uint8_t* p = colorAt(x, y);
                ASSERT_GE(p[0], 2) << time << ": " << x << "," << y;
                ASSERT_EQ(p[0], p[1]);
                ASSERT_EQ(p[0], p[2]);
                // Every free neighbour belongs to the black rim.
                const int neighbours[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
                for (const auto& n : neighbours) {
                    if (n[0] < 0 || n[0] >= 160 || n[1] < 0 || n[1] >= 100) continue;
                    if (stencilRow(n[1])[n[0]] != 0) continue;
                    const uint8_t* q = colorAt(n[0], n[1]);
                    EXPECT_EQ(q[0] | q[1] | q[2], 0) << time << ": " << n[0] << "," << n[1];
                    ++rimPixels;
                }
            }
        }
        EXPECT_GT(cubePixels, 200) << time;
        EXPECT_GT(rimPixels, 40) << time;
    }
}

TEST_F(CubeStreamRender, FrameLeavesDepthTestOnAndTheRestOff) {
    sglEnable(SGL_BLEND);
    scene.render(3000);
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 1);
    EXPECT_EQ(sglIsEnabled(SGL_TEXTURE), 0);
    EXPECT_EQ(sglIsEnabled(SGL_STENCIL_TEST), 0);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
    EXPECT_EQ(sglIsEnabled(SGL_ALPHA_TEST), 0);
    EXPECT_EQ(textMode(), 1);
    EXPECT_EQ(renderContext.stackDepth, 0);
}

TEST_F(CubeStreamRender, ReplayRunsTheTracksAtTheDemoTime) {
    // Replay time 1002600 is demo time 81954, inside the first caption track.
    EXPECT_EQ(scene.render(1002600), 1);
    EXPECT_EQ(scene.captionOn[0], 1);
    // 1005600 is demo time 84954, 504 ms into the fade: 255 - 128.52.
    scene.render(1005600);
    EXPECT_EQ(scene.captionAlpha[0], 126);
}

TEST_F(CubeStreamRender, ReplayFollowsTheSceneTimeForTheCubes) {
    scene.render(1009000);
    const int8_t replayed[3] = {CubeStreamScene::orientation[0], CubeStreamScene::orientation[1],
                                CubeStreamScene::orientation[2]};
    scene.render(9000);
    EXPECT_EQ(std::memcmp(replayed, CubeStreamScene::orientation, 3), 0);
    EXPECT_NE(std::memcmp(replayed, std::array<int8_t, 3>{1, 2, 3}.data(), 3), 0);
}

namespace {

Scene* makeCubes(const SceneSet&) {
    return new CubeStreamScene;
}

// The cube scene inside a real Demo, for its caption sheets and render Surfaces.
class CubeStreamInDemo : public testing::Test {
  protected:
    void SetUp() override {
        demo.setSceneFactories({makeCubes, makeIdleScene, makeIdleScene, makeIdleScene,
                                makeIdleScene, makeIdleScene, makeIdleScene});
        demo.setSoundEnabled(0);
        ASSERT_EQ(demo.init({160, 100}), 0);
        scene = static_cast<CubeStreamScene*>(demo.scene(SLOT_CUBES));
    }

    Surface& color() const { return *demo.colorSurface(); }

    std::vector<uint8_t> colorBytes() const {
        return std::vector<uint8_t>(color().pixels(), color().pixels() + 160 * 100 * 4);
    }

    Demo demo;
    CubeStreamScene* scene = nullptr;
};

}  // namespace

TEST_F(CubeStreamInDemo, CaptionsShowOnlyOutsideReplay) {
    // After the switching track's window the flag keeps its value.
    scene->render(2600);
    scene->render(4000);
    const std::vector<uint8_t> withCaptions = colorBytes();
    scene->captionOn[0] = 0;
    scene->render(4000);
    EXPECT_NE(colorBytes(), withCaptions);

    for (auto& on : scene->captionOn) on = 1;
    scene->render(1004000);
    const std::vector<uint8_t> replayAllOn = colorBytes();
    for (auto& on : scene->captionOn) on = 0;
    scene->render(1004000);
    EXPECT_EQ(colorBytes(), replayAllOn);
}

TEST_F(CubeStreamInDemo, FadingCaptionsMatchTheReference) {
    // Demo time 84954: group 0 half faded, move 0 swinging round the central cube.
    scene->render(2600);
    scene->render(5600);
    // The reference keeps the picture only (opaque).
    EXPECT_TRUE(matchesReferenceImage(toRgbaImage(color(), true), "cube_stream_5600"));
}

TEST_F(CubeStreamInDemo, ReplayFrameMatchesTheReference) {
    // The same cubes as above, with the backdrop and camera a million ms on.
    scene->render(2600);
    scene->render(1005600);
    EXPECT_TRUE(matchesReferenceImage(toRgbaImage(color(), true), "cube_stream_replay_1005600"));
}
