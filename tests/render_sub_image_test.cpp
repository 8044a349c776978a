#include <gtest/gtest.h>

#include <cstring>

#include "render/sub_image.h"
#include "render_fixture.h"

namespace {

// A 20x20 source whose pixel (x, y) is (x, y, 7, 255); the SubImage is its
// 10x10 rectangle at (4, 6).
class SubImageTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        ASSERT_EQ(source.create({20, 20}, 4), 0);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) {
                uint8_t* p = source.pixels() + y * source.pitch() + x * 4;
                p[0] = uint8_t(x);
                p[1] = uint8_t(y);
                p[2] = 7;
                p[3] = 255;
            }
        }
        const int16_t rect[4] = {4, 6, 10, 10};
        ASSERT_EQ(image.init(rect, &source), 0);
        std::memset(color.pixels(), 0xEE, 160 * 100 * 4);
    }

    void TearDown() override {
        source.release();
        RenderTest::TearDown();
    }

    // Expects the image drawn at (x, y): every colour pixel inside the clipped
    // rectangle comes from the source, every other one is untouched.
    void expectDrawnAt(int x, int y) {
        for (int row = 0; row < 100; ++row) {
            for (int column = 0; column < 160; ++column) {
                const uint8_t* p = colorAt(column, row);
                const bool inside = column >= x && column < x + 10 && row >= y && row < y + 10;
                if (inside) {
                    ASSERT_EQ(p[0], 4 + column - x) << column << "," << row;
                    ASSERT_EQ(p[1], 6 + row - y) << column << "," << row;
                    ASSERT_EQ(p[2], 7);
                } else {
                    ASSERT_EQ(p[0], 0xEE) << column << "," << row;
                }
            }
        }
    }

    Surface source;
    SubImage image;
};

}  // namespace

TEST_F(SubImageTest, ClipsAtTheTopLeft) {
    image.draw(-3, -2);
    // Columns 0..6 and rows 0..7 from source rectangle columns 3..9, rows 2..9.
    EXPECT_EQ(colorAt(0, 0)[0], 4 + 3);
    EXPECT_EQ(colorAt(0, 0)[1], 6 + 2);
    EXPECT_EQ(colorAt(6, 7)[0], 4 + 9);
    expectDrawnAt(-3, -2);
}

TEST_F(SubImageTest, ClipsAtTheBottomRight) {
    image.draw(155, 95);
    EXPECT_EQ(colorAt(159, 99)[0], 4 + 4);
    expectDrawnAt(155, 95);
}

TEST_F(SubImageTest, DrawsInsideUnclippedAndNothingWhollyOffScreen) {
    image.draw(20, 30);
    expectDrawnAt(20, 30);
    std::memset(color.pixels(), 0xEE, 160 * 100 * 4);
    image.draw(160, 0);
    image.draw(-10, 0);
    image.draw(0, 100);
    image.draw(0, -10);
    expectDrawnAt(-100, -100);  // nothing drawn
}

TEST_F(SubImageTest, AlphaTestKeepsTransparentPixelsOut) {
    uint8_t* transparent = source.pixels() + 6 * source.pitch() + 5 * 4;  // rectangle (1, 0)
    transparent[3] = 0;
    sglEnable(SGL_ALPHA_TEST);
    sglAlphaFunc(7, 0);
    image.draw(0, 0);
    EXPECT_EQ(colorAt(1, 0)[0], 0xEE);
    EXPECT_EQ(colorAt(0, 0)[0], 4);
    EXPECT_EQ(colorAt(2, 0)[0], 6);
}

TEST_F(SubImageTest, StencilTestSkipsRejectedRowsAndAppliesItsOperations) {
    std::memset(stencilRow(3), 1, 160);
    sglEnable(SGL_STENCIL_TEST);
    sglStencilFunc(6, 0);
    sglStencilOp(1, 1, 2);  // replace with the reference where the test passes
    sglStencilWriteMask(240);
    sglStencilFunc(6, 0);
    image.draw(0, 0);
    EXPECT_EQ(colorAt(0, 2)[1], 6 + 2);
    EXPECT_EQ(colorAt(0, 3)[0], 0xEE);  // the whole row rejected
    EXPECT_EQ(colorAt(9, 3)[0], 0xEE);
    EXPECT_EQ(colorAt(0, 4)[1], 6 + 4);
    EXPECT_EQ(stencilRow(3)[0], 1);
}

TEST_F(SubImageTest, BlendsAndNeverTouchesTheDepthBuffer) {
    float* depth0 = depthRow(0);
    depth0[0] = 0.5f;
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(0);  // would reject everything if the depth buffer were consulted
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_ONE, BLEND_ONE);
    image.draw(0, 0);
    EXPECT_EQ(depth0[0], 0.5f);
    EXPECT_EQ(depthRow(0)[1], 0.0f);
    EXPECT_EQ(colorAt(0, 0)[0], 0xEE + 4);
    EXPECT_EQ(colorAt(0, 0)[1], 0xEE + 6);
    EXPECT_EQ(colorAt(0, 0)[3], 255);  // 0xEE + 255 saturates
}

TEST_F(SubImageTest, InitRefusesWhatCannotBeDrawn) {
    const int16_t outside[4] = {15, 0, 10, 10};
    const int16_t negative[4] = {-1, 0, 5, 5};
    const int16_t empty[4] = {0, 0, 0, 5};
    const int16_t whole[4] = {0, 0, 20, 20};
    Surface oneByte;
    ASSERT_EQ(oneByte.create({20, 20}, 1), 0);

    EXPECT_EQ(image.init(outside, &source), SGL_ERR_INVALID);
    EXPECT_FALSE(image.valid());
    EXPECT_EQ(image.init(negative, &source), SGL_ERR_INVALID);
    EXPECT_EQ(image.init(empty, &source), SGL_ERR_INVALID);
    EXPECT_EQ(image.init(whole, nullptr), SGL_ERR_INVALID);
    EXPECT_EQ(image.init(nullptr, &source), SGL_ERR_INVALID);
    EXPECT_EQ(image.init(whole, &oneByte), SGL_ERR_INVALID);
    EXPECT_FALSE(image.valid());
    image.draw(0, 0);
    EXPECT_EQ(colorAt(0, 0)[0], 0xEE);

    EXPECT_EQ(image.init(whole, &source), 0);
    EXPECT_TRUE(image.valid());
    image.reset();
    image.draw(0, 0);
    EXPECT_EQ(colorAt(0, 0)[0], 0xEE);
    oneByte.release();
}

TEST_F(SubImageTest, DrawsNothingWithoutTheBuffersItNeeds) {
    renderContext.frameBuffer = nullptr;
    image.draw(0, 0);
    EXPECT_EQ(colorAt(0, 0)[0], 0xEE);

    FrameBuffer colorOnly;
    ASSERT_EQ(colorOnly.init(), 0);
    ASSERT_EQ(colorOnly.attach(&color, SGL_COLOR_BUFFER), 0);
    ASSERT_EQ(sglBindFrameBuffer(&colorOnly), 0);
    sglEnable(SGL_STENCIL_TEST);
    image.draw(0, 0);
    EXPECT_EQ(colorAt(0, 0)[0], 0xEE);
    sglDisable(SGL_STENCIL_TEST);
    image.draw(0, 0);  // without stencil testing the stencil buffer is not needed
    EXPECT_EQ(colorAt(0, 0)[0], 4);

    FrameBuffer stencilOnly;
    ASSERT_EQ(stencilOnly.init(), 0);
    ASSERT_EQ(stencilOnly.attach(&stencil, SGL_STENCIL_BUFFER), 0);
    ASSERT_EQ(sglBindFrameBuffer(&stencilOnly), 0);
    image.draw(30, 30);
    EXPECT_EQ(colorAt(30, 30)[0], 0xEE);
    renderContext.frameBuffer = nullptr;
}

// The source re-created smaller after init: only the part of the rectangle
// still inside it is drawn, from the new pixels, at the same place; a source
// that no longer reaches the rectangle, or has another pixel size, draws
// nothing. (Reading the old rectangle overran the new pixel buffer.)
TEST_F(SubImageTest, SourceRecreatedSmallerDrawsOnlyWhatLiesInsideIt) {
    ASSERT_EQ(source.create({9, 12}, 4), 0);  // columns 4..8 and rows 6..11 remain
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 9; ++x) {
            uint8_t* p = source.pixels() + y * source.pitch() + x * 4;
            p[0] = uint8_t(100 + x);
            p[1] = uint8_t(100 + y);
            p[2] = 9;
            p[3] = 255;
        }
    }
    image.draw(20, 30);
    for (int row = 0; row < 100; ++row) {
        for (int column = 0; column < 160; ++column) {
            const uint8_t* p = colorAt(column, row);
            if (column >= 20 && column < 25 && row >= 30 && row < 36) {
                ASSERT_EQ(p[0], 100 + 4 + column - 20) << column << "," << row;
                ASSERT_EQ(p[1], 100 + 6 + row - 30) << column << "," << row;
            } else {
                ASSERT_EQ(p[0], 0xEE) << column << "," << row;
            }
        }
    }
    // Clipped by the frame as well: drawn at (-2, -3) only columns 6..8, rows 9..11.
    std::memset(color.pixels(), 0xEE, 160 * 100 * 4);
    image.draw(-2, -3);
    EXPECT_EQ(colorAt(0, 0)[0], 100 + 6);
    EXPECT_EQ(colorAt(2, 2)[1], 100 + 11);
    EXPECT_EQ(colorAt(3, 0)[0], 0xEE);
    EXPECT_EQ(colorAt(0, 3)[0], 0xEE);

    std::memset(color.pixels(), 0xEE, 160 * 100 * 4);
    for (const Size16 size : {Size16{4, 20}, Size16{20, 6}, Size16{1, 1}}) {
        ASSERT_EQ(source.create(size, 4), 0);
        image.draw(20, 30);
    }
    ASSERT_EQ(source.create({20, 20}, 1), 0);
    image.draw(20, 30);
    source.release();
    image.draw(20, 30);
    for (int i = 0; i < 160 * 100 * 4; ++i) ASSERT_EQ(color.pixels()[i], 0xEE) << i;
}

TEST_F(SubImageTest, ColorBufferCreatedAgainSmallerIsNotDrawnInto) {
    ASSERT_EQ(color.create({8, 4}, 4), 0);
    std::memset(color.pixels(), 0xEE, size_t(color.pitch()) * 4);
    image.draw(0, 0);
    image.draw(2, 1);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(colorAt(x, y)[0], 0xEE) << x << "," << y;
    }
}
