// Random and degenerate geometry through the whole pipeline with random
// renderer state: huge, NaN and infinite coordinates, slivers, vertices far
// off screen and behind the camera. Run under the sanitizers, it checks that
// every path stays inside its buffers and free of undefined behaviour.
#include <gtest/gtest.h>

#include "tests/xorshift_random.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "render/rasterizer.h"
#include "render_fixture.h"

namespace {

class Random : public XorshiftRandom {
  public:
    // Mostly ordinary values, sometimes extreme ones.
    float coordinate(float range) {
        static const float SPECIAL[] = {std::numeric_limits<float>::quiet_NaN(),
                                        std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity(),
                                        3e9f,
                                        -3e9f,
                                        1e30f,
                                        -1e30f,
                                        1e5f,
                                        -1e5f,
                                        0.0f,
                                        1.0f,
                                        std::numeric_limits<float>::denorm_min()};
        if (chance(8)) return SPECIAL[next() % (sizeof SPECIAL / sizeof SPECIAL[0])];
        return uniform(-range, range);
    }
};

class RenderFuzzTest : public RenderTest {
  protected:
    void TearDown() override {
        sglBindTexture(nullptr);
        for (Surface& t : textures) t.release();
        RenderTest::TearDown();
    }

    void randomState(Random& random) {
        for (uint8_t cap = 1; cap <= 7; ++cap) {
            if (random.chance(50)) {
                sglEnable(cap);
            } else {
                sglDisable(cap);
            }
        }
        sglBindTexture(random.chance(80) ? &textures[random.next() % 3] : nullptr);
        sglDepthFunc(uint8_t(random.next() % 8));
        sglDepthMask(uint8_t(random.next() % 2));
        sglAlphaFunc(uint8_t(random.next() % 8), uint8_t(random.next()));
        sglStencilFunc(uint8_t(random.next() % 8), uint8_t(random.next()));
        sglStencilOp(uint8_t(random.next() % 6), uint8_t(random.next() % 6),
                     uint8_t(random.next() % 6));
        sglTexEnvMode(uint8_t(random.next() % 4));
        static const uint8_t PAIRS[][2] = {{3, 5},  {67, 5}, {35, 37}, {67, 69},
                                           {67, 1}, {66, 1}, {35, 1},  {67, 0}};
        const uint8_t* pair = PAIRS[random.next() % 8];
        sglBlendFunc(pair[0], pair[1]);
    }

    Surface textures[3];
};

}  // namespace

TEST_F(RenderFuzzTest, RandomAndDegenerateTrianglesStayDefined) {
    const Size16 sizes[3] = {{8, 8}, {5, 3}, {1, 64}};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(textures[i].create(sizes[i], 4), 0);
        std::memset(textures[i].pixels(), 0x5A, size_t(textures[i].pitch()) * sizes[i].height);
    }
    Random random;
    for (int round = 0; round < 400; ++round) {
        randomState(random);
        sglMatrixMode(SGL_PROJECTION);
        if (random.chance(80)) {
            sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
        } else {
            float m[16];
            for (float& e : m) e = random.coordinate(4.0f);
            sglLoadIdentity();
            sglMultMatrixf(m);
        }
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
        sglRotateYf(random.uniform(-180.0f, 180.0f));
        sglTranslatef(0.0f, 0.0f, random.uniform(-5.0f, 30.0f));

        const uint8_t kinds[] = {SGL_TRIANGLES, SGL_QUADS, SGL_POINTS, SGL_LINES};
        sglBegin(kinds[random.next() % 4]);
        const float range = random.chance(50) ? 3.0f : 500.0f;
        for (int v = 0; v < 12; ++v) {
            sglColor4ub(uint8_t(random.next()), uint8_t(random.next()), uint8_t(random.next()),
                        uint8_t(random.next()));
            sglTexCoord2f(random.coordinate(4.0f), random.coordinate(4.0f));
            float x = random.coordinate(range);
            float y = random.coordinate(range);
            // Slivers: vertices on one line or one row.
            if (v % 3 == 2 && random.chance(20)) y = x;
            if (v % 3 == 2 && random.chance(10)) x = 1e-6f;
            sglVertex3f(x, y, random.coordinate(range));
        }
        sglEnd();
    }

    // Screen-space triangles straight into the rasterizer, including rows and
    // columns far outside what 16.16 can hold.
    sglEnable(SGL_SMOOTH);
    sglEnable(SGL_TEXTURE);
    for (int round = 0; round < 3000; ++round) {
        ScreenVertex* v = renderContext.screenVertices;
        const float range = random.chance(50) ? 300.0f : 1e6f;
        for (int i = 0; i < 3; ++i) {
            v[i].x = random.coordinate(range);
            v[i].y = random.coordinate(range);
            v[i].w = random.chance(90) ? random.uniform(1.0f, 100.0f) : random.coordinate(10.0f);
            v[i].s = random.coordinate(100.0f);
            v[i].t = random.coordinate(100.0f);
            for (uint8_t& c : v[i].color) c = uint8_t(random.next());
        }
        rasterizeTriangle();
    }
    SUCCEED();
}
