#include "image/console_look.h"
#include "platform/png_file.h"
#include "program/offline_run.h"

#include <gtest/gtest.h>

#include <cstring>

#include "data/console_font.h"
#include "image/console_palette.h"

namespace {

void setCell(Surface& cells, int x, int y, uint8_t character, uint16_t attribute) {
    uint8_t* cell = cells.pixels() + y * cells.pitch() + x * 4;
    cell[0] = character;
    cell[1] = 0x5A;  // never looked at
    cell[2] = uint8_t(attribute);
    cell[3] = uint8_t(attribute >> 8);
}

bool pixelIs(const RgbaImage& image, int x, int y, const ConsoleRgb& c) {
    const uint8_t* p = &image.pixels[size_t((y * image.width + x) * 4)];
    return p[0] == c.r && p[1] == c.g && p[2] == c.b && p[3] == 255;
}

TEST(ConsoleLook, DrawsEachCellAsItsGlyphInItsColors) {
    Surface cells;
    ASSERT_EQ(cells.create({80, 50}, 4), 0);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 80; ++x) setCell(cells, x, y, ' ', 0x00);
    }
    setCell(cells, 0, 0, 219, 0x1F);   // bright white on dark blue: all foreground
    setCell(cells, 79, 49, 32, 0x1F);  // blank: all background
    setCell(cells, 5, 7, 177, 0x4E);   // yellow on dark red checkerboard
    RgbaImage image;
    ASSERT_TRUE(drawConsoleLook(cells, image));
    ASSERT_EQ(image.width, 640);
    ASSERT_EQ(image.height, 600);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_TRUE(pixelIs(image, x, y, CONSOLE_PALETTE[15]));
            EXPECT_TRUE(pixelIs(image, 632 + x, 588 + y, CONSOLE_PALETTE[1]));
            const bool ink = (x + y) % 2 == 0;  // 0xAA then 0x55
            EXPECT_TRUE(pixelIs(image, 40 + x, 84 + y, CONSOLE_PALETTE[ink ? 14 : 4]));
        }
    }
    EXPECT_TRUE(pixelIs(image, 8, 0, CONSOLE_PALETTE[0]));
    cells.release();
}

TEST(ConsoleLook, RefusesSurfacesThatAreNotCells) {
    Surface stencil, empty;
    ASSERT_EQ(stencil.create({80, 50}, 1), 0);
    RgbaImage image;
    EXPECT_FALSE(drawConsoleLook(stencil, image));
    EXPECT_FALSE(drawConsoleLook(empty, image));
    EXPECT_TRUE(image.pixels.empty());
    stencil.release();
}

TEST(ConsoleLook, WritesAPngThatReadsBack) {
    Surface cells;
    ASSERT_EQ(cells.create({16, 16}, 4), 0);
    for (int i = 0; i < 256; ++i) setCell(cells, i % 16, i / 16, uint8_t(i), 0x0F);
    const std::string path = std::string(VORNAK_BINARY_DIR) + "/console_look_test.png";
    ASSERT_TRUE(writeConsoleLookPng(cells, path));
    RgbaImage drawn, read;
    ASSERT_TRUE(drawConsoleLook(cells, drawn));
    ASSERT_TRUE(readPngRgba(path, read));
    EXPECT_EQ(read.width, 128);
    EXPECT_EQ(read.height, 192);
    EXPECT_EQ(read.pixels, drawn.pixels);
    cells.release();
}

}  // namespace
