#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "render/avx2.h"
#include "render/fill.h"
#include "render/fixed_point.h"
#include "render_fixture.h"

TEST(TruncToInt, TruncatesTowardZeroAndGivesIntMinOutOfRange) {
    EXPECT_EQ(truncToInt(1.9f), 1);
    EXPECT_EQ(truncToInt(-1.9f), -1);
    EXPECT_EQ(truncToInt(-0.5), 0);
    EXPECT_EQ(truncToInt(2147483647.0), INT32_MAX);
    EXPECT_EQ(truncToInt(-2147483648.0), INT32_MIN);
    EXPECT_EQ(truncToInt(-2147483648.9), INT32_MIN);
    EXPECT_EQ(truncToInt(2147483648.0f), INT32_MIN);
    EXPECT_EQ(truncToInt(1e20f), INT32_MIN);
    EXPECT_EQ(truncToInt(-1e20), INT32_MIN);
    EXPECT_EQ(truncToInt(std::numeric_limits<float>::quiet_NaN()), INT32_MIN);
    EXPECT_EQ(truncToInt(std::numeric_limits<double>::infinity()), INT32_MIN);
}

TEST_F(RenderTest, Color3fTruncatesAndKeepsTheLowByte) {
    sglColor3f(1.0f, 0.5f, 0.0f);
    const uint8_t expected[4] = {255, 127, 0, 255};
    EXPECT_EQ(std::memcmp(renderContext.currentColor, expected, 4), 0);
    // 510 -> 254, -127 -> 0x81, NaN -> INT_MIN -> 0
    sglColor3f(2.0f, -0.5f, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(renderContext.currentColor[0], 254);
    EXPECT_EQ(renderContext.currentColor[1], 0x81);
    EXPECT_EQ(renderContext.currentColor[2], 0);
    sglColor4ub(1, 2, 3, 4);
    EXPECT_EQ(renderContext.currentColor[3], 4);
    sglColor3ub(9, 8, 7);
    EXPECT_EQ(renderContext.currentColor[3], 255);
    sglColor4ubv(nullptr);  // ignored
    EXPECT_EQ(renderContext.currentColor[0], 9);
}

TEST_F(RenderTest, SettersWithResultsRefuseOutOfRangeAndKeepState) {
    ASSERT_EQ(sglMatrixMode(2), 0);
    EXPECT_EQ(sglMatrixMode(3), SGL_ERR_INVALID);
    EXPECT_EQ(renderContext.matrixMode, 2);
    sglMatrixMode(SGL_MODELVIEW);

    ASSERT_EQ(sglDepthFunc(7), 0);
    EXPECT_EQ(sglDepthFunc(8), SGL_ERR_INVALID);
    EXPECT_EQ(renderContext.depthFunc, 7);

    ASSERT_EQ(sglAlphaFunc(5, 10), 0);
    EXPECT_EQ(sglAlphaFunc(8, 99), SGL_ERR_INVALID);
    EXPECT_EQ(renderContext.alphaFunc, 5);
    EXPECT_EQ(renderContext.alphaRef, 10);

    uint8_t out[4];
    EXPECT_EQ(sglGetBlendColor(nullptr), SGL_ERR_INVALID);
    const uint8_t k[4] = {1, 2, 3, 4};
    sglBlendColor4ubv(k);
    EXPECT_EQ(sglGetBlendColor(out), 0);
    EXPECT_EQ(std::memcmp(out, k, 4), 0);

    EXPECT_EQ(sglBindFrameBuffer(nullptr), SGL_ERR_INVALID);
    EXPECT_EQ(sglGetFrameBuffer(), &frameBuffer);
}

TEST_F(RenderTest, SettersWithoutResultsIgnoreOutOfRangeWhole) {
    sglStencilFunc(6, 0);
    sglStencilFunc(8, 5);
    EXPECT_EQ(renderContext.stencilFunc, 6);
    EXPECT_EQ(renderContext.stencilRef, 0);

    sglStencilOp(1, 1, 2);
    sglStencilOp(1, 6, 1);
    sglStencilOp(6, 0, 0);
    EXPECT_EQ(renderContext.stencilOpRejected, 1);
    EXPECT_EQ(renderContext.stencilOpFail, 1);
    EXPECT_EQ(renderContext.stencilOpPass, 2);

    sglTexEnvMode(3);
    sglTexEnvMode(4);
    EXPECT_EQ(renderContext.texEnvMode, 3);

    sglEnable(0);
    sglEnable(8);
    for (uint8_t cap = 0; cap < 8; ++cap) EXPECT_EQ(renderContext.enables[cap], 0);
    EXPECT_EQ(sglIsEnabled(0), 0);
    EXPECT_EQ(sglIsEnabled(200), 0);
}

TEST_F(RenderTest, EnablesAreIgnoredWhileAPrimitiveIsOpen) {
    renderContext.primitiveKind = SGL_TRIANGLES;
    sglEnable(SGL_DEPTH_TEST);
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 0);
    renderContext.primitiveKind = 0;
    sglEnable(SGL_DEPTH_TEST);
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 1);
    renderContext.primitiveKind = SGL_QUADS;
    sglDisable(SGL_DEPTH_TEST);
    EXPECT_EQ(sglIsEnabled(SGL_DEPTH_TEST), 1);
    renderContext.primitiveKind = 0;
}

TEST_F(RenderTest, SecondInitKeepsMatricesAndFragmentSettingsAndResetsTheRest) {
    sglMatrixMode(SGL_PROJECTION);
    sglLoadIdentity();
    sglTranslatef(7.0f, 0.0f, 0.0f);
    sglMatrixMode(SGL_MODELVIEW);
    sglPushMatrix();
    sglBlendFunc(BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    sglDepthFunc(2);
    sglDepthMask(0);
    sglStencilFunc(6, 0);
    sglStencilOp(1, 1, 2);
    sglStencilWriteMask(240);
    sglStencilValueMask(15);
    sglAlphaFunc(7, 0);
    sglTexEnvMode(SGL_ADD);
    sglMatrixMode(SGL_PROJECTION);
    const uint8_t grey[4] = {9, 9, 9, 9};
    sglClearColor4ubv(grey);
    sglBlendColor4ubv(grey);
    sglColor4ubv(grey);
    sglEnable(SGL_BLEND);

    ASSERT_EQ(sglInit(), 0);
    const RenderContext& rc = renderContext;
    EXPECT_EQ(rc.matrixMode, SGL_PROJECTION);
    EXPECT_EQ(rc.matrices[SGL_PROJECTION].m[3], 7.0f);
    EXPECT_EQ(rc.blendSrc, BLEND_SRC_ALPHA);
    EXPECT_EQ(rc.blendDst, BLEND_ONE_MINUS_SRC_ALPHA);
    EXPECT_EQ(rc.depthFunc, 2);
    EXPECT_EQ(rc.depthWrite, 0);
    EXPECT_EQ(rc.stencilFunc, 6);
    EXPECT_EQ(rc.stencilOpPass, 2);
    EXPECT_EQ(rc.stencilWriteMask, 240);
    EXPECT_EQ(rc.stencilValueMask, 15);
    EXPECT_EQ(rc.alphaFunc, 7);
    EXPECT_EQ(rc.texEnvMode, SGL_ADD);

    EXPECT_EQ(rc.stackDepth, 0);
    EXPECT_EQ(sglIsEnabled(SGL_BLEND), 0);
    EXPECT_EQ(sglGetFrameBuffer(), nullptr);
    const uint8_t black[4] = {0, 0, 0, 255};
    const uint8_t white[4] = {255, 255, 255, 255};
    EXPECT_EQ(std::memcmp(rc.clearColor, black, 4), 0);
    EXPECT_EQ(std::memcmp(rc.blendColor, white, 4), 0);
    EXPECT_EQ(std::memcmp(rc.currentColor, white, 4), 0);
    sglMatrixMode(SGL_MODELVIEW);
}

TEST_F(RenderTest, ClearFillsOnlyTheAttachedBuffersOfTheMask) {
    FrameBuffer twoBuffers;
    ASSERT_EQ(twoBuffers.init(), 0);
    ASSERT_EQ(twoBuffers.attach(&color, SGL_COLOR_BUFFER), 0);
    ASSERT_EQ(twoBuffers.attach(&depth, SGL_DEPTH_BUFFER), 0);
    ASSERT_EQ(sglBindFrameBuffer(&twoBuffers), 0);
    std::memset(color.pixels(), 0x11, 160 * 100 * 4);
    std::memset(depth.pixels(), 0x22, 160 * 100 * 4);
    std::memset(stencil.pixels(), 0x33, 160 * 100);

    sglClear(7);
    for (int i = 0; i < 160 * 100; ++i) {
        const uint8_t* c = color.pixels() + i * 4;
        ASSERT_TRUE(c[0] == 0 && c[1] == 0 && c[2] == 0 && c[3] == 255) << "pixel " << i;
        float d;
        std::memcpy(&d, depth.pixels() + i * 4, 4);
        ASSERT_EQ(d, 0.0f);
        ASSERT_EQ(stencil.pixels()[i], 0x33);
    }

    ASSERT_EQ(sglBindFrameBuffer(&frameBuffer), 0);
    std::memset(color.pixels(), 0x11, 160 * 100 * 4);
    sglClear(SGL_STENCIL_BUFFER);
    EXPECT_EQ(stencil.pixels()[160 * 100 - 1], 0);
    EXPECT_EQ(color.pixels()[0], 0x11);
    renderContext.frameBuffer = nullptr;
}

TEST_F(RenderTest, ClearDoesNothingWithoutAContextOrFrameBuffer) {
    std::memset(color.pixels(), 0x11, 160 * 100 * 4);
    sglShutdown();
    EXPECT_EQ(sglGetFrameBuffer(), nullptr);
    sglClear(7);
    EXPECT_EQ(color.pixels()[0], 0x11);
    ASSERT_EQ(sglInit(), 0);  // nothing bound now
    sglClear(7);
    EXPECT_EQ(color.pixels()[0], 0x11);
}

TEST(FrameBuffer, AttachChecksSelectorPixelSizeAndSize) {
    Surface color, stencil, small, wide, notCreated;
    ASSERT_EQ(color.create({160, 100}, 4), 0);
    ASSERT_EQ(stencil.create({160, 100}, 1), 0);
    ASSERT_EQ(small.create({80, 50}, 4), 0);
    ASSERT_EQ(wide.create({1025, 2}, 4), 0);

    FrameBuffer fb;
    ASSERT_EQ(fb.init(), 0);
    EXPECT_EQ(fb.width(), 0);
    EXPECT_EQ(fb.attach(nullptr, 1), SGL_ERR_INVALID);
    EXPECT_EQ(fb.attach(&color, 0), SGL_ERR_INVALID);
    EXPECT_EQ(fb.attach(&notCreated, 1), SGL_ERR_INVALID);
    EXPECT_EQ(fb.attach(&wide, 1), SGL_ERR_INVALID);  // wider than the span scratch
    EXPECT_EQ(fb.attach(&stencil, SGL_COLOR_BUFFER), SGL_ERR_INVALID);
    EXPECT_EQ(fb.attachedMask(), 0);
    EXPECT_EQ(fb.width(), 0);

    ASSERT_EQ(fb.attach(&color, SGL_COLOR_BUFFER), 0);
    EXPECT_EQ(fb.width(), 160);
    EXPECT_EQ(fb.height(), 100);
    EXPECT_EQ(fb.attach(&small, SGL_DEPTH_BUFFER), SGL_ERR_INVALID);
    EXPECT_EQ(fb.attach(&color, 3), SGL_ERR_INVALID);
    EXPECT_EQ(fb.attach(&color, SGL_STENCIL_BUFFER), SGL_ERR_INVALID);
    ASSERT_EQ(fb.attach(&stencil, SGL_STENCIL_BUFFER), 0);
    EXPECT_EQ(fb.attachedMask(), SGL_COLOR_BUFFER | SGL_STENCIL_BUFFER);
    EXPECT_EQ(fb.surface(SGL_STENCIL_BUFFER), &stencil);
    EXPECT_EQ(fb.surface(SGL_DEPTH_BUFFER), nullptr);
    EXPECT_EQ(fb.surface(3), nullptr);

    fb.release();
    EXPECT_EQ(fb.attachedMask(), 0);
    EXPECT_EQ(fb.width(), 0);
    EXPECT_EQ(fb.surface(SGL_COLOR_BUFFER), nullptr);  // no stale Surface after release
    ASSERT_EQ(fb.init(), 0);
    ASSERT_EQ(fb.attach(&small, SGL_COLOR_BUFFER), 0);  // a new size after release
    EXPECT_EQ(fb.width(), 80);

    color.release();
    stencil.release();
    small.release();
    wide.release();
}

TEST(FillSurface, FillsWholeSurfacesOfOneAndFourBytes) {
    Surface s;
    ASSERT_EQ(s.create({160, 100}, 1), 0);
    std::memset(s.pixels(), 0x5A, 16000);
    const uint8_t zero = 0;
    ASSERT_EQ(fillSurface(&s, &zero, nullptr), 0);
    for (int i = 0; i < 16000; ++i) ASSERT_EQ(s.pixels()[i], 0);

    ASSERT_EQ(s.create({7, 3}, 1), 0);
    const uint8_t ab = 0xAB;
    ASSERT_EQ(fillSurface(&s, &ab, nullptr), 0);
    for (int i = 0; i < 21; ++i) ASSERT_EQ(s.pixels()[i], 0xAB);

    ASSERT_EQ(s.create({5, 2}, 4), 0);
    const uint8_t clear[4] = {0, 0, 0, 0xFF};
    ASSERT_EQ(fillSurface(&s, clear, nullptr), 0);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(std::memcmp(s.pixels() + i * 4, clear, 4), 0);
    s.release();
}

TEST(FillSurface, RectangleIsClippedToTheSurface) {
    Surface s;
    ASSERT_EQ(s.create({8, 6}, 4), 0);
    std::memset(s.pixels(), 0, 8 * 6 * 4);
    const uint8_t value[4] = {1, 2, 3, 4};
    const int16_t rect[4] = {5, -2, 10, 4};  // covers columns 5..7 of rows 0..1
    ASSERT_EQ(fillSurface(&s, value, rect), 0);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 5 && y <= 1;
            EXPECT_EQ(s.pixels()[(y * 8 + x) * 4 + 3], inside ? 4 : 0) << x << "," << y;
        }
    }
    const int16_t outside[4] = {8, 0, 3, 3};
    const int16_t negative[4] = {2, 2, -1, 3};
    std::memset(s.pixels(), 0, 8 * 6 * 4);
    EXPECT_EQ(fillSurface(&s, value, outside), 0);
    EXPECT_EQ(fillSurface(&s, value, negative), 0);
    for (int i = 0; i < 8 * 6 * 4; ++i) ASSERT_EQ(s.pixels()[i], 0);

    const int16_t inner[4] = {1, 1, 2, 2};
    ASSERT_EQ(fillSurface(&s, value, inner), 0);
    EXPECT_EQ(s.pixels()[(1 * 8 + 1) * 4], 1);
    EXPECT_EQ(s.pixels()[(2 * 8 + 2) * 4], 1);
    EXPECT_EQ(s.pixels()[(3 * 8 + 3) * 4], 0);
    s.release();
}

// Whole rows go as one run: a band of full rows changes those rows alone, and
// an odd pixel count reaches every pixel, with the AVX2 stores or without.
TEST(FillSurface, FullWidthBandsChangeTheirRowsOnly) {
    for (const uint8_t avx2 : {1, 0}) {
        avx2Allowed = avx2;
        Surface s;
        ASSERT_EQ(s.create({29, 5}, 4), 0);
        std::memset(s.pixels(), 0, 29 * 5 * 4);
        const uint8_t value[4] = {1, 2, 3, 4};
        const int16_t band[4] = {0, 2, 29, 2};
        ASSERT_EQ(fillSurface(&s, value, band), 0);
        for (int i = 0; i < 29 * 5; ++i) {
            const bool inside = i / 29 == 2 || i / 29 == 3;
            ASSERT_EQ(s.pixels()[i * 4 + 3], inside ? 4 : 0) << i;
        }
        ASSERT_EQ(fillSurface(&s, value, nullptr), 0);
        for (int i = 0; i < 29 * 5; ++i)
            ASSERT_EQ(std::memcmp(s.pixels() + i * 4, value, 4), 0) << i;
        s.release();
    }
    avx2Allowed = 1;
}

TEST(FillSurface, RefusesOtherPixelSizesAndMissingMemory) {
    Surface s;
    ASSERT_EQ(s.create({4, 4}, 3), 0);
    std::memset(s.pixels(), 0x77, 48);
    const uint8_t value[4] = {1, 2, 3, 4};
    EXPECT_EQ(fillSurface(&s, value, nullptr), SGL_ERR_INVALID);
    for (int i = 0; i < 48; ++i) ASSERT_EQ(s.pixels()[i], 0x77);
    s.release();
    EXPECT_EQ(fillSurface(&s, value, nullptr), SGL_ERR_INVALID);
    EXPECT_EQ(fillSurface(nullptr, value, nullptr), SGL_ERR_INVALID);
}
