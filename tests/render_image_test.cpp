// Small rendered scenes compared byte for byte with reviewed reference images
// in tests/reference/. A mismatch writes the produced image and a difference
// image (differing pixels in magenta over a dimmed copy of the reference) into
// the build directory and names them in the failure. Setting
// VORNAK_UPDATE_REFERENCES=1 rewrites the references instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/png_file.h"
#include "render_fixture.h"
#include "tests/reference_image.h"

namespace {

const uint8_t SKY[4] = {20, 24, 48, 255};

class RenderImageTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        sglClearColor4ubv(SKY);
        sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER | SGL_STENCIL_BUFFER);
        sglMatrixMode(SGL_PROJECTION);
        sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
        sglEnable(SGL_DEPTH_TEST);
        sglDepthFunc(2);
        makeTexture();
    }

    void TearDown() override {
        sglBindTexture(nullptr);
        texture.release();
        RenderTest::TearDown();
    }

    // A 32 x 32 checkerboard of 8-texel squares with a gradient across it, and
    // a marker in the texel (0, 0) corner so that orientation shows.
    void makeTexture() {
        ASSERT_EQ(texture.create({32, 32}, 4), 0);
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                uint8_t* p = texture.pixels() + y * texture.pitch() + x * 4;
                const bool light = ((x ^ y) & 8) != 0;
                p[0] = uint8_t(light ? 200 + x : 40 + 2 * y);
                p[1] = uint8_t(light ? 190 : 70 + 3 * x);
                p[2] = uint8_t(light ? 60 : 150);
                p[3] = uint8_t(light ? 255 : 128);
                if (x < 4 && y < 4) p[0] = p[1] = p[2] = 255;
            }
        }
    }

    static void quad(const float v[4][3], const uint8_t colors[4][4], const float st[4][2]) {
        sglBegin(SGL_QUADS);
        for (int i = 0; i < 4; ++i) {
            sglColor4ubv(colors[i]);
            sglTexCoord2fv(st[i]);
            sglVertex3fv(v[i]);
        }
        sglEnd();
    }

    // The shared geometry: a floor running from behind the camera into the
    // distance, a tilted panel crossing the left screen edge, a rotated square
    // crossing the near plane with one corner, and a small far quad.
    void drawSet(const uint8_t palette[4][4][4], float texScale) {
        const float s = texScale;
        const float floorV[4][3] = {{-4.0f, -1.0f, -2.0f},
                                    {4.0f, -1.0f, -2.0f},
                                    {4.0f, -1.0f, 30.0f},
                                    {-4.0f, -1.0f, 30.0f}};
        const float floorSt[4][2] = {{0.0f, 0.0f}, {s, 0.0f}, {s, 4.0f * s}, {0.0f, 4.0f * s}};
        quad(floorV, palette[0], floorSt);

        sglPushMatrix();
        sglTranslatef(-2.5f, 0.2f, 6.0f);
        sglRotateYf(35.0f);
        sglRotateXf(-10.0f);
        const float panelV[4][3] = {
            {-1.5f, -1.0f, 0.0f}, {1.5f, -1.0f, 0.0f}, {1.5f, 1.2f, 0.0f}, {-1.5f, 1.2f, 0.0f}};
        const float unitSt[4][2] = {{0.0f, 0.0f}, {s, 0.0f}, {s, s}, {0.0f, s}};
        quad(panelV, palette[1], unitSt);
        sglPopMatrix();

        sglPushMatrix();
        sglTranslatef(0.6f, 0.1f, 2.2f);
        sglRotateYf(60.0f);
        sglRotateZf(20.0f);
        const float nearV[4][3] = {
            {-1.0f, -1.0f, 0.0f}, {1.0f, -1.0f, 0.0f}, {1.0f, 1.0f, 0.0f}, {-1.0f, 1.0f, 0.0f}};
        quad(nearV, palette[2], unitSt);
        sglPopMatrix();

        sglPushMatrix();
        sglTranslatef(1.2f, 0.5f, 12.0f);
        sglRotateZf(45.0f);
        const float farV[4][3] = {
            {-1.0f, -1.0f, 0.0f}, {1.0f, -1.0f, 0.0f}, {1.0f, 1.0f, 0.0f}, {-1.0f, 1.0f, 0.0f}};
        quad(farV, palette[3], unitSt);
        sglPopMatrix();
    }

    void expectMatchesReference(const std::string& name) {
        EXPECT_TRUE(matchesReferenceImage(color, name));
    }

    Surface texture;
};

const uint8_t FLAT_PALETTE[4][4][4] = {
    {{0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {90, 140, 60, 255}},
    {{0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {200, 80, 40, 255}},
    {{0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {60, 120, 230, 255}},
    {{0, 0, 0, 255}, {0, 0, 0, 255}, {0, 0, 0, 255}, {240, 220, 90, 255}},
};

const uint8_t SMOOTH_PALETTE[4][4][4] = {
    {{255, 40, 40, 255}, {40, 255, 40, 255}, {40, 40, 255, 255}, {250, 250, 250, 255}},
    {{255, 255, 0, 255}, {0, 255, 255, 255}, {255, 0, 255, 255}, {10, 10, 10, 255}},
    {{255, 128, 0, 255}, {0, 0, 0, 255}, {128, 255, 128, 255}, {0, 64, 255, 255}},
    {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}},
};

const uint8_t TRANSLUCENT_PALETTE[4][4][4] = {
    {{255, 40, 40, 255}, {40, 255, 40, 255}, {40, 40, 255, 255}, {250, 250, 250, 255}},
    {{255, 255, 0, 160}, {0, 255, 255, 160}, {255, 0, 255, 160}, {200, 200, 200, 160}},
    {{255, 128, 0, 96}, {255, 128, 0, 96}, {128, 255, 128, 200}, {0, 64, 255, 40}},
    {{255, 0, 0, 128}, {0, 255, 0, 128}, {0, 0, 255, 128}, {255, 255, 255, 128}},
};

}  // namespace

TEST_F(RenderImageTest, FlatQuadsAcrossTheNearPlaneAndScreenEdges) {
    drawSet(FLAT_PALETTE, 1.0f);
    expectMatchesReference("flat_quads");
}

TEST_F(RenderImageTest, SmoothQuadsAcrossTheNearPlaneAndScreenEdges) {
    sglEnable(SGL_SMOOTH);
    drawSet(SMOOTH_PALETTE, 1.0f);
    expectMatchesReference("smooth_quads");
}

TEST_F(RenderImageTest, PerspectiveTexturedQuadsRepeatTheTexture) {
    sglBindTexture(&texture);
    sglEnable(SGL_TEXTURE);
    drawSet(FLAT_PALETTE, 1.0f);
    // Modulated by smooth colours through the environment, over the first picture.
    sglEnable(SGL_SMOOTH);
    sglEnable(SGL_TEXTURE_ENV);
    sglTexEnvMode(SGL_MODULATE);
    sglPushMatrix();
    sglTranslatef(-0.3f, -0.4f, 3.5f);
    sglRotateXf(50.0f);
    const float v[4][3] = {
        {-0.6f, -0.6f, 0.0f}, {0.6f, -0.6f, 0.0f}, {0.6f, 0.6f, 0.0f}, {-0.6f, 0.6f, 0.0f}};
    const float st[4][2] = {{-0.5f, -0.5f}, {1.5f, -0.5f}, {1.5f, 1.5f}, {-0.5f, 1.5f}};
    quad(v, SMOOTH_PALETTE[0], st);
    sglPopMatrix();
    expectMatchesReference("textured_quads");
}

TEST_F(RenderImageTest, BlendedDepthTestedQuads) {
    // Opaque smooth geometry first, then translucent quads that test against
    // its depth without writing their own, and an additive glow.
    sglEnable(SGL_SMOOTH);
    drawSet(SMOOTH_PALETTE, 1.0f);
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    sglDepthMask(0);
    sglPushMatrix();
    sglTranslatef(0.3f, 0.4f, 1.5f);
    sglRotateYf(-25.0f);
    drawSet(TRANSLUCENT_PALETTE, 1.0f);
    sglPopMatrix();
    const uint8_t glow[4] = {255, 255, 255, 90};
    sglBlendColor4ubv(glow);
    sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE);
    sglDisable(SGL_SMOOTH);
    sglPushMatrix();
    sglTranslatef(-0.5f, 0.3f, 5.0f);
    sglRotateZf(30.0f);
    const float v[4][3] = {
        {-1.5f, -0.4f, 0.0f}, {1.5f, -0.4f, 0.0f}, {1.5f, 0.4f, 0.0f}, {-1.5f, 0.4f, 0.0f}};
    const float st[4][2] = {};
    const uint8_t warm[4][4] = {{0}, {0}, {0}, {255, 160, 60, 255}};
    quad(v, warm, st);
    sglPopMatrix();
    sglDepthMask(1);
    expectMatchesReference("blended_quads");
}
