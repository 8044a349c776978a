// Triangle setup and scan conversion, spans, points and lines, driven through
// the ScreenVertex records and checked in the buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "render/geometry_pipeline.h"
#include "render/rasterizer.h"
#include "render/rasterizer_internal.h"
#include "render_fixture.h"

namespace {

constexpr uint8_t BACKGROUND = 0xEE;

class RasterTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        std::memset(color.pixels(), BACKGROUND, 160 * 100 * 4);
    }

    void TearDown() override {
        sglBindTexture(nullptr);
        texture.release();
        RenderTest::TearDown();
    }

    static void setVertex(int i, float x, float y, float w = 1.0f,
                          std::array<uint8_t, 4> c = {10, 20, 30, 255}, float s = 0.0f,
                          float t = 0.0f) {
        ScreenVertex& v = renderContext.screenVertices[i];
        v.x = x;
        v.y = y;
        v.w = w;
        v.s = s;
        v.t = t;
        std::memcpy(v.color, c.data(), 4);
    }

    bool drawn(int x, int y) { return colorAt(x, y)[0] != BACKGROUND; }

    // Columns drawn in row y, as [first, last + 1); {0, 0} for none. Fails on gaps.
    std::pair<int, int> rowCoverage(int y) {
        int first = -1, end = -1;
        for (int x = 0; x < 160; ++x) {
            if (!drawn(x, y)) continue;
            if (first < 0) first = x;
            EXPECT_TRUE(end < 0 || end == x) << "gap in row " << y;
            end = x + 1;
        }
        return first < 0 ? std::pair<int, int>{0, 0} : std::pair<int, int>{first, end};
    }

    int drawnPixels() {
        int count = 0;
        for (int y = 0; y < 100; ++y) {
            for (int x = 0; x < 160; ++x) count += drawn(x, y) ? 1 : 0;
        }
        return count;
    }

    // A w x h texture whose texel (x, y) is (x * 16, y * 16, 77, 255).
    void makeTexture(int16_t w, int16_t h) {
        ASSERT_EQ(texture.create({w, h}, 4), 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                uint8_t* p = texture.pixels() + y * texture.pitch() + x * 4;
                p[0] = uint8_t(x * 16);
                p[1] = uint8_t(y * 16);
                p[2] = 77;
                p[3] = 255;
            }
        }
        sglBindTexture(&texture);
    }

    std::vector<uint8_t> colorPixels() {
        return std::vector<uint8_t>(color.pixels(), color.pixels() + 160 * 100 * 4);
    }

    Surface texture;
};

}  // namespace

TEST_F(RasterTest, ReferenceTriangleCoversRowsTenToNineteen) {
    setVertex(0, 10.0f, 10.0f);
    setVertex(1, 20.0f, 10.0f);
    setVertex(2, 15.0f, 20.0f);
    rasterizeTriangle();
    for (int y = 0; y < 100; ++y) {
        const auto [first, end] = rowCoverage(y);
        if (y < 10 || y >= 20) {
            EXPECT_EQ(end, 0) << "row " << y;
            continue;
        }
        // Left X 671744 + 32768 per row, right X 1294336 - 32768 per row.
        const int k = y - 10;
        EXPECT_EQ(first, (671744 + 32768 * k) >> 16) << "row " << y;
        EXPECT_EQ(end, (1294336 - 32768 * k) >> 16) << "row " << y;
    }
    EXPECT_EQ(rowCoverage(10), (std::pair<int, int>{10, 19}));

    // The edge arithmetic behind it.
    EdgeSlot left, right;
    setUpEdge(left, renderContext.screenVertices[0], renderContext.screenVertices[2], 10);
    setUpEdge(right, renderContext.screenVertices[1], renderContext.screenVertices[2], 10);
    EXPECT_EQ(left.xStep, 32768);
    EXPECT_EQ(right.xStep, -32768);
    halfStepEdge(left);
    halfStepEdge(right);
    EXPECT_EQ(left.x + left.xStep, 671744);
    EXPECT_EQ(right.x + right.xStep, 1294336);
}

TEST_F(RasterTest, TrianglesWithoutWholeRowsDrawNothing) {
    setVertex(0, 10.0f, 5.2f);
    setVertex(1, 50.0f, 5.7f);
    setVertex(2, 30.0f, 5.9f);
    rasterizeTriangle();
    // Wholly above, below, left and right of the FrameBuffer.
    setVertex(0, 10.0f, -30.0f);
    setVertex(1, 50.0f, -20.0f);
    setVertex(2, 30.0f, -0.5f);
    rasterizeTriangle();
    setVertex(0, 10.0f, 100.0f);
    setVertex(1, 50.0f, 120.0f);
    setVertex(2, 30.0f, 130.0f);
    rasterizeTriangle();
    setVertex(0, -100.0f, 10.0f);
    setVertex(1, -50.0f, 20.0f);
    setVertex(2, -1.0f, 90.0f);
    rasterizeTriangle();
    setVertex(0, 160.0f, 10.0f);
    setVertex(1, 250.0f, 20.0f);
    setVertex(2, 300.0f, 90.0f);
    rasterizeTriangle();
    EXPECT_EQ(drawnPixels(), 0);
}

TEST_F(RasterTest, RowsAboveTheTopAreSteppedButNotDrawn) {
    sglEnable(SGL_SMOOTH);
    // The same triangle 8 rows lower has the same edges (only the truncated
    // rows enter the arithmetic, and trunc(-3.5) = -3); its rows 5.. are the
    // first one's rows -3.., so from row 8 on the two must agree.
    auto draw = [&](float topY, float dy) {
        setVertex(0, 20.0f, topY, 1.0f, {255, 0, 0, 255});
        setVertex(1, 70.0f, 12.25f + dy, 2.0f, {0, 255, 0, 255});
        setVertex(2, 5.0f, 40.0f + dy, 4.0f, {0, 0, 255, 255});
        rasterizeTriangle();
    };
    draw(-3.5f, 0.0f);
    const std::vector<uint8_t> high = colorPixels();
    std::memset(color.pixels(), BACKGROUND, 160 * 100 * 4);
    draw(5.0f, 8.0f);
    const std::vector<uint8_t> low = colorPixels();
    EXPECT_TRUE(drawn(20, 5)) << "row -3 of the high triangle";
    for (int y = 0; y + 8 < 100; ++y) {
        ASSERT_EQ(std::memcmp(&high[y * 640], &low[(y + 8) * 640], 640), 0) << "row " << y;
    }
}

TEST_F(RasterTest, ClippedSpansStartWithTheUnclippedValues) {
    sglEnable(SGL_SMOOTH);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(1);
    latchTriangleState();
    EdgeSlot& left = edgeSlots[0];
    EdgeSlot& right = edgeSlots[1];
    triangleSetup.aIsLeft = 1;
    const uint16_t l[4] = {0x1000, 0xF000, 0x8000, 0xFF00};
    const uint16_t r[4] = {0xF000, 0x1000, 0x8123, 0x0000};
    std::memcpy(left.color, l, sizeof l);
    std::memcpy(right.color, r, sizeof r);

    drawSpan(3, 0, 15, 0.25f, 0.75f);
    drawSpan(4, -5, 10, 0.25f, 0.75f);
    for (int x = 0; x < 160; ++x) {
        if (x < 10) {
            ASSERT_EQ(std::memcmp(colorAt(x, 4), colorAt(x + 5, 3), 4), 0) << x;
            EXPECT_FLOAT_EQ(depthRow(4)[x], depthRow(3)[x + 5]) << x;
        } else {
            ASSERT_FALSE(drawn(x, 4)) << x;
        }
    }

    drawSpan(5, 150, 170, 0.25f, 0.75f);
    EXPECT_FALSE(drawn(149, 5));
    for (int x = 150; x < 160; ++x) EXPECT_TRUE(drawn(x, 5)) << x;
    EXPECT_FALSE(drawn(0, 6));

    // Empty and wholly outside spans.
    drawSpan(6, 20, 20, 0.25f, 0.75f);
    drawSpan(6, 30, 25, 0.25f, 0.75f);
    drawSpan(6, -20, -1, 0.25f, 0.75f);
    drawSpan(6, 160, 180, 0.25f, 0.75f);
    for (int x = 0; x < 160; ++x) EXPECT_FALSE(drawn(x, 6));
}

TEST_F(RasterTest, OneRowSmoothTriangleShowsTheWrappedStep) {
    sglEnable(SGL_SMOOTH);
    setVertex(0, 10.0f, 10.0f, 1.0f, {255, 100, 0, 255});
    setVertex(1, 30.0f, 10.0f, 1.0f, {255, 100, 0, 255});
    setVertex(2, 20.0f, 11.0f, 1.0f, {0, 100, 255, 255});
    rasterizeTriangle();
    // 255 x 256 plus the step 256 (-65280 in 16 bits) wraps to 0; blue 0 + 65280 is 255.
    EXPECT_EQ(edgeSlots[0].colorStep[0], 256);
    const auto [first, end] = rowCoverage(10);
    ASSERT_LT(first, end);
    for (int x = first; x < end; ++x) {
        EXPECT_EQ(colorAt(x, 10)[0], 0) << x;
        EXPECT_EQ(colorAt(x, 10)[1], 100) << x;
        EXPECT_EQ(colorAt(x, 10)[2], 255) << x;
    }
    EXPECT_EQ(rowCoverage(11).second, 0);
}

TEST_F(RasterTest, FlatShadingUsesVertexTwoInEveryChannel) {
    setVertex(0, 10.0f, 10.0f, 1.0f, {1, 2, 3, 4});
    setVertex(1, 90.0f, 30.0f, 2.0f, {5, 6, 7, 8});
    setVertex(2, 40.0f, 70.0f, 3.0f, {11, 22, 33, 44});
    rasterizeTriangle();
    int count = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) {
            if (!drawn(x, y)) continue;
            ++count;
            const uint8_t* p = colorAt(x, y);
            ASSERT_TRUE(p[0] == 11 && p[1] == 22 && p[2] == 33 && p[3] == 44) << x << "," << y;
        }
    }
    EXPECT_GT(count, 1000);
}

TEST_F(RasterTest, TextureWithoutEnvironmentIgnoresVertexColors) {
    makeTexture(4, 4);
    sglEnable(SGL_TEXTURE);
    sglEnable(SGL_SMOOTH);
    // Every pixel samples s = 2.5, t = 1.5, i.e. texel (2, 1).
    setVertex(0, 10.0f, 10.0f, 2.0f, {255, 0, 0, 255}, 2.5f, 1.5f);
    setVertex(1, 90.0f, 30.0f, 2.0f, {0, 255, 0, 255}, 2.5f, 1.5f);
    setVertex(2, 40.0f, 70.0f, 2.0f, {0, 0, 255, 255}, 2.5f, 1.5f);
    rasterizeTriangle();
    EXPECT_EQ(triangleSetup.smooth, 0);
    const uint8_t* p = colorAt(40, 30);
    EXPECT_EQ(p[0], 32);
    EXPECT_EQ(p[1], 16);
    EXPECT_EQ(p[2], 77);
    EXPECT_EQ(p[3], 255);
}

TEST_F(RasterTest, EnvironmentCombinesTexelsOrSmoothColorsWithVertexTwo) {
    // Smooth without texturing: interpolated colour + V2's colour (add).
    sglEnable(SGL_TEXTURE_ENV);
    sglEnable(SGL_SMOOTH);
    sglTexEnvMode(SGL_ADD);
    setVertex(0, 10.0f, 10.0f, 1.0f, {10, 20, 30, 40});
    setVertex(1, 90.0f, 30.0f, 1.0f, {10, 20, 30, 40});
    setVertex(2, 40.0f, 70.0f, 1.0f, {10, 20, 30, 40});
    rasterizeTriangle();
    const uint8_t* p = colorAt(40, 30);
    EXPECT_EQ(p[0], 20);
    EXPECT_EQ(p[1], 40);
    EXPECT_EQ(p[2], 60);
    EXPECT_EQ(p[3], 80);

    // Textured and flat, modulate: texel (2, 1) x V2's colour.
    makeTexture(4, 4);
    sglDisable(SGL_SMOOTH);
    sglEnable(SGL_TEXTURE);
    sglTexEnvMode(SGL_MODULATE);
    setVertex(0, 10.0f, 10.0f, 2.0f, {0, 0, 0, 0}, 2.5f, 1.5f);
    setVertex(1, 90.0f, 30.0f, 2.0f, {0, 0, 0, 0}, 2.5f, 1.5f);
    setVertex(2, 40.0f, 70.0f, 2.0f, {255, 128, 0, 255}, 2.5f, 1.5f);
    rasterizeTriangle();
    p = colorAt(40, 30);
    EXPECT_EQ(p[0], ((32 + 1) * 255) >> 8);
    EXPECT_EQ(p[1], ((16 + 1) * 128) >> 8);
    EXPECT_EQ(p[2], 0);
    EXPECT_EQ(p[3], 255);
}

TEST_F(RasterTest, TexelLookupsRepeatTheTexture) {
    sglEnable(SGL_TEXTURE);
    struct Case {
        int16_t width;
        float s, t;
        int texelX, texelY;
    };
    const float huge = 1e10f;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {4, -1.5f, 5.25f, 3, 1},  // trunc(-1.5) = -1 wraps to 3; 5 wraps to 1
        {4, -0.5f, -4.5f, 0, 0},  // truncation toward zero first: -0.5 is texel 0
        {3, -1.5f, 2.0f, 2, 2},   // not a power of two
        {4, 4.0f, 9.5f, 0, 1},   {4, huge, 1.0f, 0, 1},  // INT32_MIN repeats to 0
        {3, huge, 1.0f, 1, 1},                           // INT32_MIN mod 3 = -2, repeated to 1
        {4, nan, 1.0f, 0, 1},
    };
    for (const Case& c : cases) {
        texture.release();
        makeTexture(c.width, 4);
        setVertex(0, 10.0f, 10.0f, 2.0f, {}, c.s, c.t);
        setVertex(1, 30.0f, 10.0f, 2.0f, {}, c.s, c.t);
        setVertex(2, 20.0f, 20.0f, 2.0f, {}, c.s, c.t);
        rasterizeTriangle();
        const uint8_t* p = colorAt(20, 12);
        EXPECT_EQ(p[0], c.texelX * 16) << c.s << "," << c.t;
        EXPECT_EQ(p[1], c.texelY * 16) << c.s << "," << c.t;
    }
}

TEST_F(RasterTest, DepthRejectedRowLeavesStencilColorAndDepthAlone) {
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    sglEnable(SGL_STENCIL_TEST);
    sglStencilFunc(1, 7);
    sglStencilOp(2, 2, 2);  // replace for rejected, failing and passing pixels alike
    for (int x = 0; x < 160; ++x) depthRow(15)[x] = 10.0f;
    for (int x = 0; x < 50; ++x) depthRow(16)[x] = 10.0f;
    setVertex(0, 10.0f, 10.0f, 2.0f);
    setVertex(1, 90.0f, 10.0f, 2.0f);
    setVertex(2, 50.0f, 30.0f, 2.0f);
    rasterizeTriangle();
    for (int x = 0; x < 160; ++x) {
        EXPECT_FALSE(drawn(x, 15)) << x;
        EXPECT_EQ(stencilRow(15)[x], 0) << x;
        EXPECT_EQ(depthRow(15)[x], 10.0f) << x;
    }
    // The rows around it are drawn, stencilled and depth-written.
    EXPECT_TRUE(drawn(50, 14));
    EXPECT_EQ(stencilRow(14)[50], 7);
    EXPECT_FLOAT_EQ(depthRow(14)[50], 0.5f);
    // In a row with live pixels the rejected ones get the rejected operation.
    EXPECT_TRUE(drawn(50, 16));
    EXPECT_FALSE(drawn(40, 16));
    EXPECT_EQ(stencilRow(16)[40], 7);
    EXPECT_EQ(depthRow(16)[40], 10.0f);
    EXPECT_EQ(stencilRow(16)[5], 0) << "outside the span";
}

TEST_F(RasterTest, FlatBottomTriangleEndsWithItsLongEdge) {
    setVertex(0, 20.0f, 5.0f);
    setVertex(1, 10.0f, 15.0f);
    setVertex(2, 30.0f, 15.0f);
    rasterizeTriangle();
    EXPECT_GT(rowCoverage(14).second, 0);
    EXPECT_EQ(rowCoverage(15).second, 0);
    // Edge A is still the short edge T to M: no second short edge was set up.
    EXPECT_EQ(edgeSlots[0].xStep, (10 * 65536 - 20 * 65536) / 10);
}

TEST_F(RasterTest, ExchangingVertexZeroAndOneGivesTheSamePixels) {
    makeTexture(8, 8);
    sglEnable(SGL_SMOOTH);
    sglEnable(SGL_TEXTURE);
    sglEnable(SGL_TEXTURE_ENV);
    sglTexEnvMode(SGL_MODULATE);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(1);
    uint32_t seed = 12345;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(seed >> 8) / float(1 << 24);
    };
    for (int round = 0; round < 60; ++round) {
        float v[3][5];
        uint8_t c[3][4];
        for (int i = 0; i < 3; ++i) {
            v[i][0] = next(-40.0f, 200.0f);
            v[i][1] = next(-30.0f, 130.0f);
            v[i][2] = next(1.0f, 100.0f);
            v[i][3] = next(0.0f, 8.0f);
            v[i][4] = next(0.0f, 8.0f);
            for (int k = 0; k < 4; ++k) c[i][k] = uint8_t(next(0.0f, 256.0f));
        }
        // A flat-bottom and a flat-top triangle among them.
        if (round == 0) v[2][1] = v[1][1];
        if (round == 1) v[1][1] = v[0][1];
        auto draw = [&](int a, int b) {
            std::memset(color.pixels(), BACKGROUND, 160 * 100 * 4);
            const int order[3] = {a, b, 2};
            for (int i = 0; i < 3; ++i) {
                const float* p = v[order[i]];
                setVertex(i, p[0], p[1], p[2],
                          {c[order[i]][0], c[order[i]][1], c[order[i]][2], c[order[i]][3]}, p[3],
                          p[4]);
            }
            rasterizeTriangle();
            return colorPixels();
        };
        ASSERT_EQ(draw(0, 1), draw(1, 0)) << "round " << round;
    }
}

TEST_F(RasterTest, FarOffScreenAndNonFiniteVerticesStayDefined) {
    sglEnable(SGL_SMOOTH);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float values[] = {-3e9f, -2e5f, -7e4f, -1e4f, -1.0f, 0.0f, 50.0f, 159.9f,
                            1e4f,  7e4f,  3e9f,  1e30f, nan,   inf,  -inf};
    for (float a : values) {
        for (float b : values) {
            setVertex(0, a, b, 1.0f, {255, 0, 0, 255});
            setVertex(1, 80.0f, 50.0f, 2.0f, {0, 255, 0, 255});
            setVertex(2, b, 90.0f, 3.0f, {0, 0, 255, 255});
            rasterizeTriangle();
            setVertex(0, 10.0f, a, 1.0f);
            setVertex(1, b, 40.0f, 1.0f);
            setVertex(2, 150.0f, 95.0f, nan);
            rasterizeTriangle();
        }
    }
    // Huge triangles still cover the screen where they lie, also when their
    // top is far enough up for the rows above to be jumped.
    for (float top : {-2e4f, -1e6f, -2e9f}) {
        std::memset(color.pixels(), BACKGROUND, 160 * 100 * 4);
        setVertex(0, -2e4f, top);
        setVertex(1, 2e4f, top);
        setVertex(2, 80.0f, 2e4f);
        rasterizeTriangle();
        EXPECT_TRUE(drawn(80, 50)) << top;
        EXPECT_TRUE(drawn(80, 0)) << top;
        EXPECT_TRUE(drawn(1, 99)) << top;
    }
}

TEST_F(RasterTest, NoFrameBufferOrMissingSurfacesDrawSafely) {
    renderContext.frameBuffer = nullptr;
    setVertex(0, 10.0f, 10.0f);
    setVertex(1, 90.0f, 10.0f);
    setVertex(2, 50.0f, 50.0f);
    rasterizeTriangle();
    EXPECT_EQ(drawnPixels(), 0);

    // Colour only: depth and stencil stages that are off need no Surface.
    FrameBuffer colorOnly;
    ASSERT_EQ(colorOnly.init(), 0);
    ASSERT_EQ(colorOnly.attach(&color, SGL_COLOR_BUFFER), 0);
    ASSERT_EQ(sglBindFrameBuffer(&colorOnly), 0);
    rasterizeTriangle();
    EXPECT_TRUE(drawn(50, 20));
    // Depth testing without a depth Surface lets nothing through.
    std::memset(color.pixels(), BACKGROUND, 160 * 100 * 4);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    rasterizeTriangle();
    EXPECT_EQ(drawnPixels(), 0);
    // Depth and stencil only: nothing to colour, but depth is written.
    FrameBuffer noColor;
    ASSERT_EQ(noColor.init(), 0);
    ASSERT_EQ(noColor.attach(&depth, SGL_DEPTH_BUFFER), 0);
    ASSERT_EQ(noColor.attach(&stencil, SGL_STENCIL_BUFFER), 0);
    ASSERT_EQ(sglBindFrameBuffer(&noColor), 0);
    rasterizeTriangle();
    EXPECT_EQ(depthRow(20)[50], 1.0f);
    sglBindFrameBuffer(&frameBuffer);
}

namespace {

// Identity projection and modelview: eye (x, y, z) lands on (80 (x + 1), 50 (y + 1)).
class PointTest : public RasterTest {
  protected:
    void SetUp() override {
        RasterTest::SetUp();
        sglMatrixMode(SGL_PROJECTION);
        sglLoadIdentity();
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
    }

    static void point(float screenX, float screenY, float z) {
        sglVertex3f(screenX / 80.0f - 1.0f, screenY / 50.0f - 1.0f, z);
    }
};

}  // namespace

TEST_F(PointTest, PointsTruncateTowardZeroAndStayInside) {
    sglColor4ub(1, 2, 3, 4);
    ASSERT_EQ(sglBegin(SGL_POINTS), 0);
    point(-0.5f, 3.2f, 2.0f);
    point(160.0f, 10.0f, 2.0f);
    point(80.0f + 65536.0f, 10.0f, 2.0f);
    point(80.0f, -1.5f, 2.0f);
    point(50.0f, 50.0f, 0.5f);  // behind the near plane
    sglEnd();
    EXPECT_EQ(drawnPixels(), 1);
    const uint8_t* p = colorAt(0, 3);
    EXPECT_TRUE(p[0] == 1 && p[1] == 2 && p[2] == 3 && p[3] == 4);
    // Depth testing off: no depth write.
    EXPECT_EQ(depthRow(3)[0], 0.0f);
}

TEST_F(PointTest, PointsRunTheFragmentStages) {
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    sglColor4ub(200, 0, 0, 255);
    sglBegin(SGL_POINTS);
    point(10.0f, 12.5f, 4.0f);
    sglEnd();
    EXPECT_EQ(depthRow(12)[10], 0.25f);
    EXPECT_EQ(colorAt(10, 12)[0], 200);
    // A farther point fails the depth test.
    sglColor4ub(0, 200, 0, 255);
    sglBegin(SGL_POINTS);
    point(10.0f, 12.5f, 8.0f);
    sglEnd();
    EXPECT_EQ(colorAt(10, 12)[0], 200);
    // Alpha test rejects alpha 0.
    sglEnable(SGL_ALPHA_TEST);
    sglAlphaFunc(7, 0);
    sglColor4ub(0, 0, 200, 0);
    sglBegin(SGL_POINTS);
    point(20.0f, 12.5f, 2.0f);
    sglEnd();
    EXPECT_FALSE(drawn(20, 12));
}

TEST_F(PointTest, LinesDrawNothing) {
    sglBegin(SGL_LINES);
    for (int i = 0; i < 5; ++i) point(10.0f * i, 20.0f, 2.0f);
    sglEnd();
    EXPECT_EQ(drawnPixels(), 0);
}

// A Surface created again, smaller, after it was attached no longer fits the
// FrameBuffer: triangles leave it alone instead of writing past its rows.
TEST_F(RasterTest, BuffersCreatedAgainSmallerAreNotDrawnInto) {
    ASSERT_EQ(color.create({8, 4}, 4), 0);
    ASSERT_EQ(depth.create({8, 4}, 4), 0);
    ASSERT_EQ(stencil.create({8, 4}, 1), 0);
    std::memset(color.pixels(), BACKGROUND, size_t(color.pitch()) * 4);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(1);
    setVertex(0, -10.0f, -10.0f);
    setVertex(1, 170.0f, -10.0f);
    setVertex(2, 80.0f, 120.0f);
    rasterizeTriangle();  // under the sanitizers a write past the Surface fails here
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(colorAt(x, y)[0], BACKGROUND) << x << "," << y;
    }
}

namespace {

// A depth object of another kind than the renderer's: it rejects every pixel.
class RejectingDepthOp final : public DepthFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override {
        if (index >= DEPTH_TABLE_SIZE) return 0;
        key.part[0] = uint8_t(index);
        return 1;
    }
    uint8_t test(const float*, const float*, uint8_t* mask, uint8_t, uint16_t n) const override {
        for (uint16_t i = 0; i < n; ++i) mask[i] = 255;
        return 0;
    }
    void writeDepth(const float*, float*, const uint8_t*, uint16_t) const override {}
};

}  // namespace

// Triangles in one state reuse the state latched for the first; every change
// between them, by an sgl call or not, is seen by the next triangle.
TEST_F(RasterTest, EveryChangeBetweenTrianglesReachesTheNextOne) {
    auto drawTexelTriangle = [] {
        // Every pixel samples s = 2.5, t = 1.5, i.e. texel (2, 1).
        setVertex(0, 10.0f, 10.0f, 2.0f, {1, 2, 3, 255}, 2.5f, 1.5f);
        setVertex(1, 90.0f, 30.0f, 2.0f, {1, 2, 3, 255}, 2.5f, 1.5f);
        setVertex(2, 40.0f, 70.0f, 2.0f, {1, 2, 3, 255}, 2.5f, 1.5f);
        rasterizeTriangle();
    };
    makeTexture(4, 4);
    sglEnable(SGL_TEXTURE);
    drawTexelTriangle();
    EXPECT_EQ(colorAt(40, 30)[0], 32);

    // The texture created again with other texels, without any sgl call.
    ASSERT_EQ(texture.create({4, 4}, 4), 0);
    std::memset(texture.pixels(), 99, size_t(texture.pitch()) * 4);
    drawTexelTriangle();
    EXPECT_EQ(colorAt(40, 30)[0], 99);

    // Another colour Surface attached to the bound FrameBuffer.
    Surface other;
    ASSERT_EQ(other.create({160, 100}, 4), 0);
    std::memset(other.pixels(), 0, size_t(other.pitch()) * 100);
    ASSERT_EQ(frameBuffer.attach(&other, SGL_COLOR_BUFFER), 0);
    drawTexelTriangle();
    EXPECT_EQ(other.pixels()[30 * other.pitch() + 40 * 4], 99);
    ASSERT_EQ(frameBuffer.attach(&color, SGL_COLOR_BUFFER), 0);
    other.release();
    std::memset(colorAt(0, 0), BACKGROUND, 160 * 100 * 4);
    drawTexelTriangle();
    EXPECT_GT(drawnPixels(), 0);

    // An installed object of another kind takes over the depth test.
    std::memset(colorAt(0, 0), BACKGROUND, 160 * 100 * 4);
    RejectingDepthOp rejecting;
    ASSERT_EQ(installDepthOp(&rejecting), 0);
    drawTexelTriangle();
    EXPECT_EQ(drawnPixels(), 0);
    removeDepthOp(&rejecting);
    ASSERT_EQ(installDepthOp(renderContext.tables.depthOp), 0);

    // The fused loops switched off and on again.
    fusedSpansAllowed = 0;
    drawTexelTriangle();
    EXPECT_EQ(triangleSetup.fused, 0);
    fusedSpansAllowed = 1;
    drawTexelTriangle();
    EXPECT_EQ(triangleSetup.fused, 1);
    EXPECT_EQ(colorAt(40, 30)[0], 99);
}

// A texture left bound after it is gone is not touched while texturing is off
// (under the sanitizers a read of it fails here).
TEST_F(RasterTest, TextureGoneWhileTexturingIsOffIsNotRead) {
    auto gone = std::make_unique<Surface>();
    ASSERT_EQ(gone->create({4, 4}, 4), 0);
    sglBindTexture(gone.get());
    gone->release();
    gone.reset();
    sglDisable(SGL_TEXTURE);
    setVertex(0, 10.0f, 10.0f);
    setVertex(1, 50.0f, 10.0f);
    setVertex(2, 30.0f, 40.0f);
    rasterizeTriangle();
    sglBindTexture(nullptr);
    EXPECT_TRUE(drawn(30, 20));
}
