#include "image/surface.h"

#include <gtest/gtest.h>

TEST(Surface, CreateSetsPitchForColorAndStencilFormats) {
    Surface color;
    ASSERT_EQ(color.create({160, 100}, 4), 0);
    EXPECT_EQ(color.pitch(), 640);
    EXPECT_EQ(color.width(), 160);
    EXPECT_EQ(color.height(), 100);
    EXPECT_EQ(color.bytesPerPixel(), 4);
    color.pixels()[64000 - 1] = 7;  // the whole 64000-byte block is addressable

    Surface stencil;
    ASSERT_EQ(stencil.create({160, 100}, 1), 0);
    EXPECT_EQ(stencil.pitch(), 160);
    color.release();
    stencil.release();
}

TEST(Surface, RefusedCreateKeepsPreviousMemory) {
    Surface s;
    ASSERT_EQ(s.create({160, 100}, 4), 0);
    uint8_t* before = s.pixels();
    before[0] = 42;
    EXPECT_EQ(s.create({0, 100}, 4), SURFACE_ERR_ARGS);
    EXPECT_EQ(s.create({160, -1}, 4), SURFACE_ERR_ARGS);
    EXPECT_EQ(s.create({160, 100}, 0), SURFACE_ERR_ARGS);
    EXPECT_EQ(s.pixels(), before);
    EXPECT_EQ(s.pixels()[0], 42);
    EXPECT_EQ(s.width(), 160);
    s.release();
}

TEST(Surface, RecreateReplacesSize) {
    Surface s;
    ASSERT_EQ(s.create({4, 4}, 4), 0);
    ASSERT_EQ(s.create({80, 50}, 1), 0);
    Size16 size;
    ASSERT_EQ(s.getSize(size), 0);
    EXPECT_EQ(size.width, 80);
    EXPECT_EQ(size.height, 50);
    EXPECT_EQ(s.pitch(), 80);
    s.release();
}

TEST(Surface, PixelAtAddressesAndRejectsOutside) {
    Surface s;
    ASSERT_EQ(s.create({160, 100}, 4), 0);
    EXPECT_EQ(s.pixelAt({159, 99}), s.pixels() + 99 * 640 + 636);
    EXPECT_EQ(s.pixelAt({0, 0}), s.pixels());
    EXPECT_EQ(s.pixelAt({160, 0}), nullptr);
    EXPECT_EQ(s.pixelAt({0, 100}), nullptr);
    EXPECT_EQ(s.pixelAt({-1, 0}), nullptr);
    EXPECT_EQ(s.pixelAt({0, -1}), nullptr);
    s.release();
}

TEST(Surface, ReleasedSurfaceAnswersEmpty) {
    Surface s;
    Size16 size{1, 1};
    EXPECT_EQ(s.getSize(size), SURFACE_ERR_EMPTY);
    ASSERT_EQ(s.create({16, 8}, 4), 0);
    s.release();
    s.release();  // a second release is harmless
    EXPECT_EQ(s.width(), 0);
    EXPECT_EQ(s.height(), 0);
    EXPECT_EQ(s.pixels(), nullptr);
    EXPECT_EQ(s.getSize(size), SURFACE_ERR_EMPTY);
    EXPECT_EQ(size.width, 1);  // untouched by the refused query
}
