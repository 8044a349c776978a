#include "platform/png_file.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(PngFile, RoundTripKeepsEveryByteAndHonoursPitch) {
    // 3x2 pixels stored with 4 bytes of padding per row.
    const int pitch = 3 * 4 + 4;
    uint8_t pixels[pitch * 2];
    for (int i = 0; i < pitch * 2; ++i) pixels[i] = uint8_t(i * 37 + 5);
    const std::string path = testing::TempDir() + "png_round_trip.png";
    ASSERT_TRUE(writePngRgba(path, 3, 2, pixels, pitch));

    RgbaImage image;
    ASSERT_TRUE(readPngRgba(path, image));
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 12; ++i) EXPECT_EQ(image.pixels[y * 12 + i], pixels[y * pitch + i]);
    std::remove(path.c_str());
}

TEST(PngFile, FailuresAreReported) {
    uint8_t pixel[4] = {};
    EXPECT_FALSE(writePngRgba("/nonexistent-dir/x.png", 1, 1, pixel, 4));
    EXPECT_FALSE(writePngRgba(testing::TempDir() + "x.png", 1, 1, pixel, 3));
    RgbaImage image;
    EXPECT_FALSE(readPngRgba("/nonexistent-dir/x.png", image));
    EXPECT_EQ(image.width, 0);
}
