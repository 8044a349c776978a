#include "textmode/text_converter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "data/console_font.h"
#include "tests/text_table_reference.h"
#include "textmode/text_tables.h"

namespace {

struct Cell {
    int character;
    int attribute;
};

// Converts one colour through a 1x1 Surface, as the frame loop would.
Cell convertColor(const TextConverter& converter, int r, int g, int b, int a = 255) {
    Surface src, dst;
    EXPECT_EQ(src.create({1, 1}, 4), 0);
    EXPECT_EQ(dst.create({1, 1}, 4), 0);
    const uint8_t pixel[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
    std::memcpy(src.pixels(), pixel, 4);
    std::memset(dst.pixels(), 0xEE, 4);
    EXPECT_EQ(converter.convert(&src, &dst), 0);
    const uint8_t* cell = dst.pixels();
    EXPECT_EQ(cell[1], 0) << "the tables leave byte 1 zero";
    const Cell out{cell[0], cell[2] | cell[3] << 8};
    src.release();
    dst.release();
    return out;
}

struct ColorCase {
    int r, g, b;
    int character, attribute;
};

class BuiltConverters : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(glyphs.build(0), 0);
        ASSERT_EQ(shades.build(1), 0);
    }
    static void TearDownTestSuite() {
        glyphs.release();
        shades.release();
    }
    static TextConverter glyphs;
    static TextConverter shades;
};
TextConverter BuiltConverters::glyphs;
TextConverter BuiltConverters::shades;

TEST_F(BuiltConverters, ShadeModeColors) {
    const ColorCase cases[] = {
        {0, 0, 0, 219, 0x00},   {255, 255, 255, 219, 0x0F}, {255, 0, 0, 219, 0x0C},
        {0, 255, 0, 219, 0x0A}, {0, 0, 255, 219, 0x09},     {128, 128, 128, 177, 0xF0},
        {128, 0, 0, 177, 0xC0}, {255, 128, 0, 177, 0xEC},
    };
    for (const ColorCase& c : cases) {
        const Cell cell = convertColor(shades, c.r, c.g, c.b);
        EXPECT_EQ(cell.character, c.character) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(cell.attribute, c.attribute) << c.r << "," << c.g << "," << c.b;
    }
}

TEST_F(BuiltConverters, GlyphModeColors) {
    const ColorCase cases[] = {
        {0, 0, 0, 219, 0x00},   {255, 255, 255, 219, 0x0F}, {255, 0, 0, 219, 0x0C},
        {0, 255, 0, 219, 0x0A}, {0, 0, 255, 219, 0x09},     {128, 128, 128, 219, 0x07},
        {128, 0, 0, 219, 0x04}, {255, 128, 0, 215, 0xCE},   {64, 64, 64, 215, 0x07},
    };
    for (const ColorCase& c : cases) {
        const Cell cell = convertColor(glyphs, c.r, c.g, c.b);
        EXPECT_EQ(cell.character, c.character) << c.r << "," << c.g << "," << c.b;
        EXPECT_EQ(cell.attribute, c.attribute) << c.r << "," << c.g << "," << c.b;
    }
}

TEST_F(BuiltConverters, EveryGlyphPaletteColorIsMatchedExactly) {
    // Each palette colour except 8 is among the candidates (as paper under a blank,
    // or earlier as ink of a full block), so its cell mixes back to the same key.
    auto key = [](int r, int g, int b) { return (r >> 3) | (g >> 3) << 5 | (b >> 3) << 10; };
    for (int k = 0; k < 16; ++k) {
        if (k == 8) continue;
        const TextRgb& p = GLYPH_PALETTE[size_t(k)];
        const Cell cell = convertColor(glyphs, p.r, p.g, p.b);
        const TextRgb& ink = GLYPH_PALETTE[size_t(cell.attribute & 0x0F)];
        const TextRgb& paper = GLYPH_PALETTE[size_t(cell.attribute >> 4)];
        const int n = analyseGlyph(CONSOLE_FONT, cell.character).ink;
        EXPECT_EQ(key(glyphMix(ink.r, paper.r, n), glyphMix(ink.g, paper.g, n),
                      glyphMix(ink.b, paper.b, n)),
                  key(p.r, p.g, p.b))
            << "palette colour " << k;
    }
}

TEST_F(BuiltConverters, LowBitsAndAlphaDoNotChangeTheCell) {
    for (const TextConverter* converter : {&glyphs, &shades}) {
        for (int base : {0, 64, 128, 200, 248}) {
            const Cell plain = convertColor(*converter, base, 255 - base - 7, base / 2 & 0xF8, 0);
            for (int low = 1; low < 8; ++low) {
                const Cell noisy = convertColor(*converter, base + low, 255 - base - 7 + low,
                                                (base / 2 & 0xF8) + (7 - low), low * 36);
                EXPECT_EQ(noisy.character, plain.character);
                EXPECT_EQ(noisy.attribute, plain.attribute);
            }
        }
    }
}

TEST_F(BuiltConverters, ModeZeroNeverUsesColorEight) {
    const uint8_t* table = glyphs.table();
    for (int c = 0; c < TEXT_TABLE_SIZE; ++c) {
        ASSERT_NE(table[c * 4 + 2] & 0x0F, 8) << c;
        ASSERT_NE(table[c * 4 + 2] >> 4, 8) << c;
        ASSERT_EQ(table[c * 4 + 3], 0) << c;
    }
}

TEST_F(BuiltConverters, ConvertWalksRowsWithEachSurfacesPitch) {
    Surface src, dst;
    ASSERT_EQ(src.create({80, 50}, 4), 0);
    ASSERT_EQ(dst.create({80, 50}, 4), 0);
    for (int i = 0; i < 80 * 50; ++i) {
        uint8_t* p = src.pixels() + i * 4;
        p[0] = uint8_t(i * 7), p[1] = uint8_t(i * 13), p[2] = uint8_t(i >> 4), p[3] = 0;
    }
    ASSERT_EQ(shades.convert(&src, &dst), 0);
    for (int i = 0; i < 80 * 50; ++i) {
        const int index = textColorIndex(src.pixels() + i * 4);
        ASSERT_EQ(std::memcmp(dst.pixels() + i * 4, shades.table() + index * 4, 4), 0) << i;
    }
    src.release();
    dst.release();
}

// Widths around the four- and eight-pixel rounds, with every byte (alpha too)
// varying, with the AVX2 rounds allowed or not.
TEST_F(BuiltConverters, EveryWidthAndAlphaConvertsPixelByPixel) {
    uint32_t seed = 77;
    for (int k = 0; k < 18; ++k) {
        const int width = std::array{1, 3, 4, 5, 7, 8, 13, 17, 80}[k % 9];
        textModeAvx2Allowed = k < 9 ? 1 : 0;
        Surface src, dst;
        ASSERT_EQ(src.create({int16_t(width), 3}, 4), 0);
        ASSERT_EQ(dst.create({int16_t(width), 3}, 4), 0);
        for (int i = 0; i < width * 3 * 4; ++i) {
            seed = seed * 1103515245u + 12345u;
            src.pixels()[i] = uint8_t(seed >> 16);
        }
        ASSERT_EQ(glyphs.convert(&src, &dst), 0);
        for (int i = 0; i < width * 3; ++i) {
            const int index = textColorIndex(src.pixels() + i * 4);
            ASSERT_EQ(std::memcmp(dst.pixels() + i * 4, glyphs.table() + index * 4, 4), 0)
                << width << " wide, pixel " << i;
        }
        src.release();
        dst.release();
    }
    textModeAvx2Allowed = 1;
}

TEST(TextConverter, RefusedConversionsLeaveTheDestinationUntouched) {
    TextConverter converter;
    Surface src, dst, narrow, cells2;
    ASSERT_EQ(src.create({80, 50}, 4), 0);
    ASSERT_EQ(dst.create({80, 49}, 4), 0);
    std::memset(src.pixels(), 0x40, 80 * 50 * 4);
    std::memset(dst.pixels(), 0xEE, 80 * 49 * 4);
    const std::vector<uint8_t> before(dst.pixels(), dst.pixels() + 80 * 49 * 4);

    EXPECT_EQ(converter.convert(&src, &src), 1) << "not built";
    ASSERT_EQ(converter.build(1), 0);
    EXPECT_EQ(converter.convert(&src, &dst), 1) << "80x50 into 80x49";
    EXPECT_TRUE(std::equal(before.begin(), before.end(), dst.pixels()));

    // Same size but 2 bytes per pixel: converting would write past the destination.
    ASSERT_EQ(narrow.create({80, 50}, 2), 0);
    std::memset(narrow.pixels(), 0xEE, 80 * 50 * 2);
    EXPECT_EQ(converter.convert(&src, &narrow), 1);
    for (int i = 0; i < 80 * 50 * 2; ++i) ASSERT_EQ(narrow.pixels()[i], 0xEE);
    ASSERT_EQ(cells2.create({80, 50}, 4), 0);
    std::memset(cells2.pixels(), 0xEE, 80 * 50 * 4);
    EXPECT_EQ(converter.convert(&narrow, &cells2), 1) << "2-byte source";
    for (int i = 0; i < 80 * 50 * 4; ++i) ASSERT_EQ(cells2.pixels()[i], 0xEE);

    converter.release();
    EXPECT_FALSE(converter.built());
    EXPECT_EQ(converter.convert(&src, &cells2), 1) << "released";
    src.release();
    dst.release();
    narrow.release();
    cells2.release();
}

TEST(TextConverter, BuildRefusesOtherModesAndRebuildsCleanly) {
    TextConverter converter;
    EXPECT_EQ(converter.build(2), 1);
    EXPECT_EQ(converter.build(255), 1);
    EXPECT_FALSE(converter.built());
    ASSERT_EQ(converter.build(1), 0);
    ASSERT_EQ(converter.build(0), 0);  // replaces the shade table
    EXPECT_TRUE(converter.built());
    EXPECT_EQ(converter.table()[(31 | 31 << 5 | 31 << 10) * 4], 219);
    converter.release();
    converter.release();
}

TEST(TextCandidates, ShadeListCountAndFirstEntry) {
    ShadeCandidate candidates[SHADE_CANDIDATES_MAX];
    const size_t count = buildShadeCandidates(candidates);
    EXPECT_EQ(count, 683u);
    EXPECT_EQ(candidates[0].r, 0);
    EXPECT_EQ(candidates[0].g, 0);
    EXPECT_EQ(candidates[0].b, 0);
    EXPECT_EQ(candidates[0].character, 219);
    EXPECT_EQ(candidates[0].attribute, 0x00);
    // Black ink on white paper at half weight comes before the plain grey of index 8.
    EXPECT_EQ(shadeMix(0, 255, 128), 128);
    EXPECT_EQ(shadeMix(255, 255, 0), 255);
}

TEST(TextCandidates, GlyphListCountAndFirstEntries) {
    static GlyphCandidate candidates[GLYPH_CANDIDATES_MAX];
    const size_t count = buildGlyphCandidates(chooseGlyphLevels(CONSOLE_FONT), candidates);
    EXPECT_EQ(count, 2168u);
    EXPECT_EQ(candidates[0].key, 0);
    EXPECT_EQ(candidates[0].character, 219);
    EXPECT_EQ(candidates[0].attribute, 0x00);
    EXPECT_EQ(candidates[1].key, 0x4000);
    EXPECT_EQ(candidates[1].character, 219);
    EXPECT_EQ(candidates[1].attribute, 0x01);
}

TEST(TextCandidates, GlyphMixTruncatesJustBelowWholeNumbers) {
    EXPECT_EQ(glyphMix(0, 128, 48), 63);  // 63.99999... because c96 is above 1/96
    EXPECT_EQ(glyphMix(255, 0, 96), 255);
    EXPECT_EQ(glyphMix(0, 255, 96), 0);  // a hair below zero truncates to 0
    EXPECT_EQ(glyphMix(128, 128, 50), 128);
}

// The fast fills, and the tables a converter builds from the cells worked out
// at build time, against the exhaustive search.
TEST(TextTables, FastFillsAndBuiltTablesMatchTheExhaustiveSearchEverywhere) {
    std::vector<uint8_t> fast(TEXT_TABLE_SIZE * 4, 0), reference(TEXT_TABLE_SIZE * 4, 0);
    TextConverter built;
    auto expectSame = [&](int mode) {
        ASSERT_EQ(built.build(uint8_t(mode)), 0);
        for (int c = 0; c < TEXT_TABLE_SIZE; ++c) {
            ASSERT_EQ(std::memcmp(&fast[size_t(c) * 4], &reference[size_t(c) * 4], 4), 0)
                << "mode " << mode << ", colour index " << c;
            ASSERT_EQ(std::memcmp(built.table() + c * 4, &reference[size_t(c) * 4], 4), 0)
                << "built, mode " << mode << ", colour index " << c;
        }
    };
    ShadeCandidate shades[SHADE_CANDIDATES_MAX];
    const size_t shadeCount = buildShadeCandidates(shades);
    fillShadeTable(shades, shadeCount, fast.data());
    referenceShadeTable(shades, shadeCount, reference.data());
    expectSame(1);

    static GlyphCandidate glyphs[GLYPH_CANDIDATES_MAX];
    const size_t glyphCount = buildGlyphCandidates(chooseGlyphLevels(CONSOLE_FONT), glyphs);
    fillGlyphTable(glyphs, glyphCount, fast.data());
    referenceGlyphTable(glyphs, glyphCount, reference.data());
    expectSame(0);
    built.release();
}

TEST(TextTables, FastFillKeepsFirstCandidateAndBrightnessTieBreaks) {
    // Two candidates at the same distance from index 0: the earlier one wins in
    // mode 1; in mode 0 the one closer in brightness wins even when later.
    const ShadeCandidate shades[] = {{16, 0, 0, 1, 0x01}, {0, 16, 0, 2, 0x02}};
    std::vector<uint8_t> table(TEXT_TABLE_SIZE * 4, 0), reference(TEXT_TABLE_SIZE * 4, 0);
    fillShadeTable(shades, 2, table.data());
    EXPECT_EQ(table[0], 1);
    referenceShadeTable(shades, 2, reference.data());
    EXPECT_EQ(table, reference);

    // Keys red 1 and blue 1 are both at distance 1 from black; blue is darker.
    const GlyphCandidate glyphs[] = {{1, 10, 0x01}, {1 << 10, 20, 0x02}, {1 << 5, 30, 0x03}};
    fillGlyphTable(glyphs, 3, table.data());
    EXPECT_EQ(table[0], 20);
    referenceGlyphTable(glyphs, 3, reference.data());
    EXPECT_EQ(table, reference);
}

void fillRgba(Surface& s, const std::vector<uint8_t>& bytes) {
    std::memcpy(s.pixels(), bytes.data(), bytes.size());
}

TEST(Downsample, TwoByTwoBlockIsTheTruncatedMean) {
    Surface src, dst;
    ASSERT_EQ(src.create({2, 2}, 4), 0);
    ASSERT_EQ(dst.create({1, 1}, 4), 0);
    fillRgba(src, {0, 10, 255, 1, 1, 11, 255, 1, 2, 12, 254, 1, 3, 13, 254, 0});
    downsampleSurface(&src, &dst);
    EXPECT_EQ(dst.pixels()[0], 1);    // 6 / 4
    EXPECT_EQ(dst.pixels()[1], 11);   // 46 / 4
    EXPECT_EQ(dst.pixels()[2], 254);  // 1018 / 4
    EXPECT_EQ(dst.pixels()[3], 0);    // 3 / 4
    src.release();
    dst.release();
}

TEST(Downsample, RenderImageHalvesIntoFrameBlocks) {
    Surface src, dst;
    ASSERT_EQ(src.create({160, 100}, 4), 0);
    ASSERT_EQ(dst.create({80, 50}, 4), 0);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 160; ++x) {
            uint8_t* p = src.pixels() + y * src.pitch() + x * 4;
            p[0] = uint8_t(x), p[1] = uint8_t(y * 2), p[2] = uint8_t(x * y), p[3] = uint8_t(x ^ y);
        }
    }
    downsampleSurface(&src, &dst);
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 80; ++x) {
            for (int b = 0; b < 4; ++b) {
                int sum = 0;
                for (int dy = 0; dy < 2; ++dy) {
                    for (int dx = 0; dx < 2; ++dx) {
                        sum += src.pixels()[(y * 2 + dy) * src.pitch() + (x * 2 + dx) * 4 + b];
                    }
                }
                ASSERT_EQ(dst.pixels()[y * dst.pitch() + x * 4 + b], sum / 4)
                    << x << "," << y << " byte " << b;
            }
        }
    }
    src.release();
    dst.release();
}

// Halving at widths around the four- and eight-block rounds, bright values
// included, with the AVX2 rounds allowed or not.
TEST(Downsample, EveryHalvedWidthTakesTheTruncatedMean) {
    uint32_t seed = 5;
    for (int k = 0; k < 20; ++k) {
        const int width = std::array{1, 3, 4, 5, 8, 9, 12, 13, 17, 80}[k % 10];
        textModeAvx2Allowed = k < 10 ? 1 : 0;
        Surface src, dst;
        ASSERT_EQ(src.create({int16_t(width * 2), 4}, 4), 0);
        ASSERT_EQ(dst.create({int16_t(width), 2}, 4), 0);
        for (int i = 0; i < width * 2 * 4 * 4; ++i) {
            seed = seed * 1103515245u + 12345u;
            src.pixels()[i] = i % 3 == 0 ? 255 : uint8_t(seed >> 16);
        }
        downsampleSurface(&src, &dst);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < width * 4; ++x) {
                const uint8_t* top = src.pixels() + y * 2 * src.pitch() + (x / 4) * 8 + x % 4;
                const uint8_t* bottom = top + src.pitch();
                const int mean = (top[0] + top[4] + bottom[0] + bottom[4]) / 4;
                ASSERT_EQ(dst.pixels()[y * dst.pitch() + x], mean) << width << " wide, " << x;
            }
        }
        src.release();
        dst.release();
    }
    textModeAvx2Allowed = 1;
}

TEST(Downsample, UnevenRatioStopsAtTheSourceEdge) {
    // 3 to 2: the rounded-down step would carry the last block one pixel past the edge.
    Surface src, dst;
    ASSERT_EQ(src.create({3, 3}, 4), 0);
    ASSERT_EQ(dst.create({2, 2}, 4), 0);
    uint8_t* const pixels = src.pixels();
    ASSERT_NE(pixels, nullptr);  // also tells GCC at -O3 that the writes below have room
    for (int i = 0; i < 9; ++i) {
        uint8_t* p = pixels + i * 4;
        p[0] = p[1] = p[2] = p[3] = uint8_t((i % 3 + 1) * 10 + (i / 3) * 100);
    }
    downsampleSurface(&src, &dst);
    const uint8_t expected[4] = {65, 80, 215, 230};  // blocks {0,1}x{0,1}, {2}x{0,1}, ...
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dst.pixels()[i * 4], expected[i]) << i;
    src.release();
    dst.release();
}

TEST(Downsample, MismatchedFormatsAndLargerDestinationsAreLeftAlone) {
    Surface src, dst, big, stencil;
    ASSERT_EQ(src.create({4, 4}, 4), 0);
    ASSERT_EQ(dst.create({2, 2}, 4), 0);
    ASSERT_EQ(big.create({5, 2}, 4), 0);
    ASSERT_EQ(stencil.create({2, 2}, 1), 0);
    std::memset(src.pixels(), 0x10, 64);
    std::memset(dst.pixels(), 0xEE, 16);
    std::memset(big.pixels(), 0xEE, 40);
    std::memset(stencil.pixels(), 0xEE, 4);
    downsampleSurface(&src, &big);
    downsampleSurface(&src, &stencil);
    downsampleSurface(&stencil, &dst);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(big.pixels()[i], 0xEE);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(stencil.pixels()[i], 0xEE);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(dst.pixels()[i], 0xEE);
    src.release();
    dst.release();
    big.release();
    stencil.release();
}

}  // namespace
