#include "data/console_font.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "textmode/text_tables.h"

namespace {

struct ChosenGlyph {
    int glyph;
    int ink;
};

// The glyph that must represent each ink density, in level order (most ink first).
const ChosenGlyph CHOSEN_GLYPHS[] = {
    {219, 96}, {178, 64}, {215, 50}, {182, 49}, {177, 48}, {172, 47}, {185, 46}, {48, 45},
    {206, 44}, {35, 42},  {66, 41},  {82, 40},  {234, 39}, {87, 38},  {225, 37}, {85, 36},
    {150, 35}, {79, 34},  {129, 33}, {176, 32}, {163, 31}, {162, 30}, {53, 29},  {236, 28},
    {51, 27},  {139, 26}, {110, 25}, {179, 24}, {127, 23}, {105, 22}, {231, 21}, {37, 20},
    {251, 19}, {41, 18},  {191, 17}, {124, 16}, {126, 15}, {43, 14},  {61, 12},  {44, 8},
    {45, 7},   {46, 6},   {250, 2},  {32, 0},
};

std::string describe(int glyph) {
    const GlyphShape s = analyseGlyph(CONSOLE_FONT, glyph);
    std::ostringstream out;
    out << "glyph " << glyph << " (ink " << s.ink << ", unevenness " << s.unevenness
        << ", quadrants " << s.quadrants[0] << " " << s.quadrants[1] << " " << s.quadrants[2] << " "
        << s.quadrants[3] << ")";
    return out.str();
}

TEST(ConsoleFont, FixedGlyphBitmaps) {
    const uint8_t lightShade[3] = {0x24, 0x49, 0x92};
    const uint8_t darkShade[3] = {0xB6, 0xDB, 0x6D};
    for (int r = 0; r < 12; ++r) {
        EXPECT_EQ(CONSOLE_FONT[32 * 12 + r], 0x00) << r;
        EXPECT_EQ(CONSOLE_FONT[219 * 12 + r], 0xFF) << r;
        EXPECT_EQ(CONSOLE_FONT[177 * 12 + r], r % 2 == 0 ? 0xAA : 0x55) << r;
        EXPECT_EQ(CONSOLE_FONT[176 * 12 + r], lightShade[r % 3]) << r;
        EXPECT_EQ(CONSOLE_FONT[178 * 12 + r], darkShade[r % 3]) << r;
    }
}

// Every glyph from 32 up either is the chosen one of its ink count, or has an ink
// count that some chosen glyph has and loses to it (less even, or as even with a
// higher code). Failures name the glyph so that it can be redrawn.
TEST(ConsoleFont, GlyphInkCountsKeepTheChosenGlyphs) {
    std::map<int, int> chosenByInk;
    for (const ChosenGlyph& c : CHOSEN_GLYPHS) chosenByInk[c.ink] = c.glyph;
    std::set<int> chosen;
    for (const ChosenGlyph& c : CHOSEN_GLYPHS) {
        chosen.insert(c.glyph);
        EXPECT_EQ(analyseGlyph(CONSOLE_FONT, c.glyph).ink, c.ink)
            << describe(c.glyph) << " must have ink " << c.ink;
    }
    for (int g = 32; g < 256; ++g) {
        if (chosen.count(g) != 0) continue;
        const GlyphShape s = analyseGlyph(CONSOLE_FONT, g);
        const auto owner = chosenByInk.find(s.ink);
        if (owner == chosenByInk.end()) {
            ADD_FAILURE() << describe(g) << ": no chosen glyph has this ink count";
            continue;
        }
        const GlyphShape o = analyseGlyph(CONSOLE_FONT, owner->second);
        const bool loses =
            s.unevenness > o.unevenness || (s.unevenness == o.unevenness && g > owner->second);
        EXPECT_TRUE(loses) << describe(g) << " beats the chosen " << describe(owner->second);
    }
}

TEST(ConsoleFont, ChosenGlyphListInLevelOrder) {
    const std::array<GlyphLevel, 256> levels = chooseGlyphLevels(CONSOLE_FONT);
    std::vector<std::pair<int, int>> got, want;
    for (const GlyphLevel& level : levels) {
        if (level.glyph != 0) got.emplace_back(level.glyph, level.ink);
    }
    for (const ChosenGlyph& c : CHOSEN_GLYPHS) want.emplace_back(c.glyph, c.ink);
    EXPECT_EQ(got, want);
    EXPECT_EQ(levels[0].glyph, 219);
    EXPECT_EQ(levels[255].glyph, 32);
}

TEST(ConsoleFont, DensityLevelsOfEmptyHalfAndFullGlyphs) {
    EXPECT_EQ(analyseGlyph(CONSOLE_FONT, 32).level, 255);
    EXPECT_EQ(analyseGlyph(CONSOLE_FONT, 219).level, 0);  // just below zero, truncated
    const GlyphShape half = analyseGlyph(CONSOLE_FONT, 177);
    EXPECT_EQ(half.ink, 48);
    EXPECT_EQ(half.unevenness, 0.0f);
    EXPECT_EQ(half.level, 127);
    const GlyphShape lower = analyseGlyph(CONSOLE_FONT, 220);  // lower half block
    EXPECT_EQ(lower.ink, 48);
    EXPECT_EQ(lower.unevenness, 48.0f);
}

TEST(ConsoleFont, BoxDrawingLinesMeetTheCellEdges) {
    auto pixel = [](int glyph, int x, int y) {
        return (CONSOLE_FONT[glyph * 12 + y] & (0x80 >> x)) != 0;
    };
    // Single lines: columns 3-4 and row 5; double lines: columns 1-2, 5-6 and rows 4, 7.
    for (int x : {3, 4}) {
        EXPECT_TRUE(pixel(197, x, 0) && pixel(197, x, 11));  // cross
        EXPECT_TRUE(pixel(179, x, 0) && pixel(179, x, 11));
    }
    EXPECT_TRUE(pixel(197, 0, 5) && pixel(197, 7, 5));
    EXPECT_TRUE(pixel(196, 0, 5) && pixel(196, 7, 5));
    for (int x : {1, 2, 5, 6}) EXPECT_TRUE(pixel(186, x, 0) && pixel(186, x, 11));
    for (int y : {4, 7}) EXPECT_TRUE(pixel(205, 0, y) && pixel(205, 7, y));
    for (int y : {4, 7}) EXPECT_TRUE(pixel(206, 0, y) && pixel(206, 7, y));
}

}  // namespace
