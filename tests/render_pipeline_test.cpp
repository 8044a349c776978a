// Vertex submission and the geometry pipeline, observed at the hand-off to
// the rasterizer: which triangles arrive, in which vertex order, with which
// positions, w, colours and texture coordinates.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "render/geometry_pipeline.h"
#include "render/rasterizer.h"
#include "render_fixture.h"

namespace {

using Triangle = std::array<ScreenVertex, 3>;
std::vector<Triangle> recorded;

void recordTriangle() {
    const ScreenVertex* v = renderContext.screenVertices;
    recorded.push_back({v[0], v[1], v[2]});
}

struct Color {
    uint8_t r, g, b, a;
};

constexpr Color RED{255, 0, 0, 255};
constexpr Color GREEN{0, 255, 0, 255};
constexpr Color BLUE{0, 0, 255, 255};
constexpr Color WHITE{255, 255, 255, 255};
constexpr Color BLACK{0, 0, 0, 255};

// Identity projection and modelview: an eye-space point (x, y, z) reaches the
// rasterizer at (80 (x + 1), 50 (y + 1)) with w = z.
class PipelineTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        sglMatrixMode(SGL_PROJECTION);
        sglLoadIdentity();
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
        recorded.clear();
        triangleSink = recordTriangle;
    }

    void TearDown() override {
        triangleSink = rasterizeTriangle;
        sglBindTexture(nullptr);
        RenderTest::TearDown();
    }

    static void vertex(Color c, float x, float y, float z) {
        sglColor4ub(c.r, c.g, c.b, c.a);
        sglVertex3f(x, y, z);
    }

    static void expectAt(const ScreenVertex& v, float eyeX, float eyeY, float w) {
        EXPECT_FLOAT_EQ(v.x, 80.0f * (eyeX + 1.0f));
        EXPECT_FLOAT_EQ(v.y, 50.0f * (eyeY + 1.0f));
        EXPECT_FLOAT_EQ(v.w, w);
    }

    static void expectColor(const ScreenVertex& v, Color c) {
        EXPECT_EQ(v.color[0], c.r);
        EXPECT_EQ(v.color[1], c.g);
        EXPECT_EQ(v.color[2], c.b);
        EXPECT_EQ(v.color[3], c.a);
    }
};

}  // namespace

TEST_F(PipelineTest, FiveTrianglesVerticesDrawOneTriangleAndDropTheRest) {
    ASSERT_EQ(sglBegin(SGL_TRIANGLES), 0);
    for (int i = 0; i < 5; ++i) vertex(RED, 0.1f * i, 0.0f, 2.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 1u);
    expectAt(recorded[0][2], 0.2f, 0.0f, 2.0f);
    // Starting afresh: the two leftovers do not complete a triangle with a new vertex.
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.5f, 3.0f);
    sglEnd();
    EXPECT_EQ(recorded.size(), 1u);
}

TEST_F(PipelineTest, QuadIsSplitIntoABCAndACD) {
    sglBegin(SGL_QUADS);
    vertex(RED, 0.0f, 0.0f, 2.0f);
    vertex(GREEN, 0.5f, 0.0f, 2.0f);
    vertex(BLUE, 0.5f, 0.5f, 2.0f);
    vertex(WHITE, 0.0f, 0.5f, 2.0f);
    // The colour after the last vertex belongs to the next primitive only.
    sglColor3ub(1, 2, 3);
    sglEnd();
    ASSERT_EQ(recorded.size(), 2u);
    expectColor(recorded[0][0], RED);
    expectColor(recorded[0][1], GREEN);
    expectColor(recorded[0][2], BLUE);
    expectColor(recorded[1][0], RED);
    expectColor(recorded[1][1], BLUE);
    expectColor(recorded[1][2], WHITE);
    expectAt(recorded[1][1], 0.5f, 0.5f, 2.0f);
    expectAt(recorded[1][2], 0.0f, 0.5f, 2.0f);
    // The rotation does not outlast the quad: the next one reads the slots in order.
    sglBegin(SGL_QUADS);
    for (int i = 0; i < 4; ++i) vertex(Color{uint8_t(i), 0, 0, 255}, 0.0f, 0.1f * i, 2.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_EQ(recorded[2][1].color[0], 1);
    EXPECT_EQ(recorded[3][2].color[0], 3);
}

// A quad hands on exactly what its two triangles (A, B, C) and (A, C, D) do,
// drawn one by one, whether both, one or neither need clipping.
TEST_F(PipelineTest, QuadsHandOnWhatTheirTwoTrianglesDo) {
    struct Handed {
        float x, y, w, s, t;
        uint8_t color[4];
        Vec4 eye;
    };
    static std::vector<Handed> handed;
    triangleSink = [] {
        for (int i = 0; i < 3; ++i) {
            const ScreenVertex& v = renderContext.screenVertices[i];
            handed.push_back({v.x,
                              v.y,
                              v.w,
                              v.s,
                              v.t,
                              {v.color[0], v.color[1], v.color[2], v.color[3]},
                              renderContext.eyeVertices[i]});
        }
    };
    Surface texture;
    ASSERT_EQ(texture.create({3, 5}, 4), 0);
    sglBindTexture(&texture);
    sglEnable(SGL_TEXTURE);
    sglMatrixMode(SGL_PROJECTION);
    sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
    sglMatrixMode(SGL_MODELVIEW);
    sglRotateYf(17.0f);
    sglTranslatef(0.3f, -0.2f, 0.1f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Depths of A, B, C, D: in front; one behind; two behind; one beyond; NaN.
    const float depths[][4] = {{2.0f, 3.5f, 5.0f, 2.5f},
                               {2.0f, 0.5f, 5.0f, 2.5f},
                               {0.2f, 3.5f, 5.0f, 0.5f},
                               {2.0f, 3.5f, 5.0f, 150.0f},
                               {2.0f, nan, 5.0f, 2.5f}};
    for (const auto& z : depths) {
        const float corners[4][2] = {{-0.6f, -0.5f}, {0.7f, -0.4f}, {0.5f, 0.6f}, {-0.4f, 0.5f}};
        auto corner = [&](int k) {
            sglColor4ub(uint8_t(40 * k), uint8_t(255 - k), 7, 200);
            sglTexCoord2f(0.25f * k, 1.0f - 0.3f * k);
            sglVertex3f(corners[k][0] * z[k], corners[k][1] * z[k], z[k]);
        };
        handed.clear();
        sglBegin(SGL_QUADS);
        for (int k = 0; k < 4; ++k) corner(k);
        sglEnd();
        const std::vector<Handed> asQuad = handed;
        handed.clear();
        sglBegin(SGL_TRIANGLES);
        for (int k : {0, 1, 2, 0, 2, 3}) corner(k);
        sglEnd();
        ASSERT_EQ(asQuad.size(), handed.size()) << "A at depth " << z[0] << ", B at " << z[1];
        EXPECT_GT(handed.size(), 0u);
        EXPECT_EQ(std::memcmp(asQuad.data(), handed.data(), handed.size() * sizeof(Handed)), 0)
            << "A at depth " << z[0] << ", B at " << z[1];
    }
    sglBindTexture(nullptr);
    texture.release();
}

TEST_F(PipelineTest, BeginEndRulesAndIgnoredVertices) {
    // Outside a primitive vertices are ignored.
    vertex(RED, 0.0f, 0.0f, 2.0f);
    vertex(RED, 0.1f, 0.0f, 2.0f);
    vertex(RED, 0.0f, 0.1f, 2.0f);
    EXPECT_TRUE(recorded.empty());

    // A new sglBegin drops the unfinished primitive.
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, 2.0f);
    vertex(RED, 0.1f, 0.0f, 2.0f);
    ASSERT_EQ(sglBegin(SGL_QUADS), 0);
    vertex(GREEN, 0.0f, 0.0f, 2.0f);
    vertex(GREEN, 0.1f, 0.0f, 2.0f);
    vertex(GREEN, 0.1f, 0.1f, 2.0f);
    EXPECT_TRUE(recorded.empty());
    vertex(GREEN, 0.0f, 0.1f, 2.0f);
    ASSERT_EQ(recorded.size(), 2u);
    expectColor(recorded[0][0], GREEN);

    // Kind 0 is refused and leaves the open primitive open.
    EXPECT_EQ(sglBegin(0), SGL_ERR_INVALID);
    EXPECT_EQ(renderContext.primitiveKind, SGL_QUADS);
    // Another unknown kind is refused too, but ends the open primitive first.
    EXPECT_EQ(sglBegin(5), SGL_ERR_INVALID);
    EXPECT_EQ(renderContext.primitiveKind, 0);

    // Kinds 2 and 3 accept vertices and draw nothing.
    for (uint8_t kind : {uint8_t(2), uint8_t(3)}) {
        ASSERT_EQ(sglBegin(kind), 0);
        for (int i = 0; i < 6; ++i) vertex(RED, 0.1f * i, 0.0f, 2.0f);
        sglEnd();
    }
    EXPECT_EQ(recorded.size(), 2u);
}

TEST_F(PipelineTest, EachVertexKeepsTheColorAndCoordinateOfItsCall) {
    sglEnable(SGL_TEXTURE);
    Surface texture;
    ASSERT_EQ(texture.create({16, 8}, 4), 0);
    sglBindTexture(&texture);
    sglBegin(SGL_TRIANGLES);
    sglTexCoord2f(0.25f, 0.5f);
    vertex(RED, 0.0f, 0.0f, 2.0f);
    sglTexCoord2f(1.0f, 0.0f);
    vertex(GREEN, 0.5f, 0.0f, 2.0f);
    const float st[2] = {0.5f, 1.0f};
    sglTexCoord2fv(st);
    sglColor4ub(9, 8, 7, 6);
    const float position[3] = {0.0f, 0.5f, 4.0f};
    sglVertex3fv(position);
    sglEnd();
    ASSERT_EQ(recorded.size(), 1u);
    const Triangle& t = recorded[0];
    expectColor(t[0], RED);
    expectColor(t[1], GREEN);
    expectColor(t[2], Color{9, 8, 7, 6});
    EXPECT_FLOAT_EQ(t[0].s, 4.0f);
    EXPECT_FLOAT_EQ(t[0].t, 4.0f);
    EXPECT_FLOAT_EQ(t[1].s, 16.0f);
    EXPECT_FLOAT_EQ(t[2].s, 8.0f);
    EXPECT_FLOAT_EQ(t[2].t, 8.0f);
    expectAt(t[2], 0.0f, 0.5f, 4.0f);
    sglBindTexture(nullptr);
    texture.release();
}

TEST_F(PipelineTest, Vertex2fUsesTheDefaultZAndTheTransformAppliesAtCompletion) {
    sglBegin(SGL_TRIANGLES);
    sglVertex2f(0.0f, 0.0f);
    sglVertex2f(0.5f, 0.0f);
    // A matrix change before the last vertex moves the whole triangle.
    sglTranslatef(0.0f, 0.0f, 2.0f);
    sglVertex2f(0.0f, 0.5f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 1u);
    expectAt(recorded[0][0], 0.0f, 0.0f, 3.0f);
    expectAt(recorded[0][1], 0.5f, 0.0f, 3.0f);
    expectAt(recorded[0][2], 0.0f, 0.5f, 3.0f);
}

TEST_F(PipelineTest, UnclippedTriangleKeepsItsEyeZAsW) {
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, 2.0f);
    vertex(GREEN, 0.5f, 0.0f, 3.0f);
    vertex(BLUE, 0.0f, 0.5f, 4.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 1u);
    expectAt(recorded[0][0], 0.0f, 0.0f, 2.0f);
    expectAt(recorded[0][1], 0.5f, 0.0f, 3.0f);
    expectAt(recorded[0][2], 0.0f, 0.5f, 4.0f);
}

TEST_F(PipelineTest, FarLimitDropsWholeTrianglesAndTheLimitsThemselvesAreInside) {
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, 2.0f);
    vertex(RED, 0.5f, 0.0f, 100.5f);
    vertex(RED, 0.0f, 0.5f, 3.0f);
    // Beyond wins over behind: dropped, not clipped.
    vertex(RED, 0.0f, 0.0f, 0.0f);
    vertex(RED, 0.5f, 0.0f, 100.5f);
    vertex(RED, 0.0f, 0.5f, 3.0f);
    EXPECT_TRUE(recorded.empty());

    vertex(RED, 0.0f, 0.0f, 1.0f);
    vertex(RED, 0.5f, 0.0f, 100.0f);
    vertex(RED, 0.0f, 0.5f, 1.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 1u);
    expectAt(recorded[0][0], 0.0f, 0.0f, 1.0f);
    expectAt(recorded[0][1], 0.5f, 0.0f, 100.0f);
}

TEST_F(PipelineTest, WhollyBehindDrawsNothing) {
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, 0.99f);
    vertex(RED, 0.5f, 0.0f, -5.0f);
    vertex(RED, 0.0f, 0.5f, 0.0f);
    sglEnd();
    EXPECT_TRUE(recorded.empty());
}

TEST_F(PipelineTest, VertexOneBehindGivesTwoTrianglesThroughPAndQ) {
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, 3.0f);
    vertex(BLACK, 0.0f, 2.0f, -1.0f);
    vertex(BLUE, 2.0f, 0.0f, 3.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 2u);
    // tP = tQ = 0.5: P = (0, 1, 1), Q = (1, 1, 1).
    const Triangle& first = recorded[0];
    const Triangle& second = recorded[1];
    expectAt(first[0], 0.0f, 0.0f, 3.0f);
    expectAt(first[1], 0.0f, 1.0f, 1.0f);
    expectAt(first[2], 1.0f, 1.0f, 1.0f);
    expectAt(second[0], 0.0f, 0.0f, 3.0f);
    expectAt(second[1], 1.0f, 1.0f, 1.0f);
    expectAt(second[2], 2.0f, 0.0f, 3.0f);
    expectColor(first[0], RED);
    expectColor(first[1], Color{127, 0, 0, 255});
    expectColor(first[2], Color{0, 0, 127, 255});
    // Vertex 2 keeps its own colour; it is the flat colour of the second triangle.
    expectColor(second[2], BLUE);
    // The eye-space vertices are not changed by this case.
    EXPECT_FLOAT_EQ(renderContext.eyeVertices[1].z, -1.0f);
}

TEST_F(PipelineTest, ClipPointsInterpolateUnscaledTextureCoordinates) {
    Surface texture;
    ASSERT_EQ(texture.create({16, 8}, 4), 0);
    sglBindTexture(&texture);
    sglEnable(SGL_TEXTURE);
    sglBegin(SGL_TRIANGLES);
    sglTexCoord2f(0.0f, 0.0f);
    vertex(RED, 0.0f, 0.0f, 3.0f);
    sglTexCoord2f(1.0f, 1.0f);
    vertex(BLACK, 0.0f, 2.0f, -1.0f);
    sglTexCoord2f(1.0f, 0.0f);
    vertex(BLUE, 2.0f, 0.0f, 3.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 2u);
    // P = (0.5, 0.5) and Q = (1, 0.5) before scaling by 16 x 8.
    EXPECT_FLOAT_EQ(recorded[0][1].s, 8.0f);
    EXPECT_FLOAT_EQ(recorded[0][1].t, 4.0f);
    EXPECT_FLOAT_EQ(recorded[0][2].s, 16.0f);
    EXPECT_FLOAT_EQ(recorded[0][2].t, 4.0f);
    EXPECT_FLOAT_EQ(recorded[1][2].s, 16.0f);
    EXPECT_FLOAT_EQ(recorded[1][2].t, 0.0f);
    sglBindTexture(nullptr);
    texture.release();
}

TEST_F(PipelineTest, VertexZeroAndVertexTwoBehindFanFromTheFirstVertexOfTheWalk) {
    // Vertex 0 behind: (Q, 1, 2) and (Q, 2, P), P on edge 2-0, Q on edge 1-0.
    sglBegin(SGL_TRIANGLES);
    vertex(BLACK, 0.0f, 2.0f, -1.0f);
    vertex(RED, 0.0f, 0.0f, 3.0f);
    vertex(BLUE, 2.0f, 0.0f, 3.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 2u);
    expectAt(recorded[0][0], 0.0f, 1.0f, 1.0f);
    expectAt(recorded[0][1], 0.0f, 0.0f, 3.0f);
    expectAt(recorded[0][2], 2.0f, 0.0f, 3.0f);
    expectAt(recorded[1][0], 0.0f, 1.0f, 1.0f);
    expectAt(recorded[1][1], 2.0f, 0.0f, 3.0f);
    expectAt(recorded[1][2], 1.0f, 1.0f, 1.0f);
    expectColor(recorded[1][2], Color{0, 0, 127, 255});

    // Vertex 2 behind: (0, 1, P) and (0, P, Q), P on edge 1-2, Q on edge 0-2.
    recorded.clear();
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, 3.0f);
    vertex(BLUE, 2.0f, 0.0f, 3.0f);
    vertex(BLACK, 0.0f, 2.0f, -1.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 2u);
    expectAt(recorded[0][2], 1.0f, 1.0f, 1.0f);
    expectColor(recorded[0][2], Color{0, 0, 127, 255});
    expectAt(recorded[1][1], 1.0f, 1.0f, 1.0f);
    expectAt(recorded[1][2], 0.0f, 1.0f, 1.0f);
    expectColor(recorded[1][2], Color{127, 0, 0, 255});
}

TEST_F(PipelineTest, TwoBehindMovesBothTowardsTheFrontVertexInInputOrder) {
    sglEnable(SGL_TEXTURE);
    Surface texture;
    ASSERT_EQ(texture.create({8, 4}, 4), 0);
    sglBindTexture(&texture);
    sglBegin(SGL_TRIANGLES);
    sglTexCoord2f(0.0f, 0.0f);
    vertex(BLACK, 0.0f, 0.0f, -1.0f);
    sglTexCoord2f(1.0f, 1.0f);
    vertex(Color{200, 100, 50, 255}, 1.0f, 0.0f, 3.0f);
    sglTexCoord2f(0.0f, 1.0f);
    vertex(Color{0, 0, 0, 0}, 0.0f, 1.0f, -3.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 1u);
    const Triangle& t = recorded[0];
    // t = 0.5 towards vertex 0 and 1/3 towards vertex 2.
    expectAt(t[0], 0.5f, 0.0f, 1.0f);
    expectAt(t[1], 1.0f, 0.0f, 3.0f);
    const float third = (3.0f - 1.0f) / (3.0f - -3.0f);
    expectAt(t[2], 1.0f - 1.0f * third, 0.0f - (0.0f - 1.0f) * third, 1.0f);
    expectColor(t[0], Color{100, 50, 25, 255});
    expectColor(t[1], Color{200, 100, 50, 255});
    expectColor(t[2], Color{133, 66, 33, 170});
    EXPECT_FLOAT_EQ(t[0].s, 0.5f * 8.0f);
    EXPECT_FLOAT_EQ(t[0].t, 0.5f * 4.0f);
    EXPECT_FLOAT_EQ(t[2].s, (1.0f - 1.0f * third) * 8.0f);
    EXPECT_FLOAT_EQ(t[2].t, 4.0f);
    // This case moves the eye-space vertices themselves.
    EXPECT_FLOAT_EQ(renderContext.eyeVertices[0].z, 1.0f);
    EXPECT_FLOAT_EQ(renderContext.eyeVertices[2].z, 1.0f);
    sglBindTexture(nullptr);
    texture.release();
}

TEST_F(PipelineTest, TexturingWithNoTextureBoundGivesOnes) {
    sglEnable(SGL_TEXTURE);
    sglBindTexture(nullptr);
    sglBegin(SGL_TRIANGLES);
    sglTexCoord2f(0.3f, 0.7f);
    vertex(RED, 0.0f, 0.0f, 3.0f);
    vertex(RED, 0.0f, 2.0f, -1.0f);
    vertex(RED, 2.0f, 0.0f, 3.0f);
    sglEnd();
    ASSERT_EQ(recorded.size(), 2u);
    for (const Triangle& t : recorded) {
        for (const ScreenVertex& v : t) {
            EXPECT_EQ(v.s, 1.0f);
            EXPECT_EQ(v.t, 1.0f);
            EXPECT_EQ(v.r, 1.0f);
        }
    }
}

TEST_F(PipelineTest, ScenesFrustumMapsTheViewAxisToTheMiddle) {
    sglMatrixMode(SGL_PROJECTION);
    sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
    sglMatrixMode(SGL_MODELVIEW);
    for (float z : {1.0f, 7.5f, 100.0f}) {
        const Vec3 p = projectToScreen(Vec4(0.0f, 0.0f, z, 1.0f));
        EXPECT_FLOAT_EQ(p.x, 80.0f);
        EXPECT_FLOAT_EQ(p.y, 50.0f);
        EXPECT_FLOAT_EQ(p.z, z);
    }
}

TEST_F(PipelineTest, NanDepthCountsAsInFrontAndNoFrameBufferDrawsNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    sglBegin(SGL_TRIANGLES);
    vertex(RED, 0.0f, 0.0f, nan);
    vertex(RED, 0.5f, 0.0f, 2.0f);
    vertex(RED, 0.0f, 0.5f, 2.0f);
    EXPECT_EQ(recorded.size(), 1u);
    renderContext.frameBuffer = nullptr;
    vertex(RED, 0.0f, 0.0f, 2.0f);
    vertex(RED, 0.5f, 0.0f, 2.0f);
    vertex(RED, 0.0f, 0.5f, 2.0f);
    sglEnd();
    EXPECT_EQ(recorded.size(), 1u);
}
