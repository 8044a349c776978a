// The colour-matching tables behind the text modes: the two palettes, the
// candidate lists of mixed colours (shade blocks for mode 1, glyphs weighted by
// their ink for mode 0) and the fast fills that give every 15-bit colour its
// closest candidate, exactly as an exhaustive search would.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct TextRgb {
    uint8_t r, g, b;
};

// Console colour index (1 blue, 2 green, 4 red, 8 bright) to the colour each mode matches against.
extern const std::array<TextRgb, 16> SHADE_PALETTE;
extern const std::array<TextRgb, 16> GLYPH_PALETTE;

// The float constants of mode 0, used in double-precision arithmetic.
inline constexpr float TEXT_C96 = 1.0f / 96.0f;
inline constexpr float TEXT_WEIGHT_RED = 0.3f;
inline constexpr float TEXT_WEIGHT_GREEN = 0.59f;
inline constexpr float TEXT_WEIGHT_BLUE = 0.11f;

inline constexpr size_t SHADE_CANDIDATES_MAX = 16 * 16 * 4;
inline constexpr size_t GLYPH_CANDIDATES_MAX = 32768;

struct ShadeCandidate {
    uint8_t r, g, b;
    uint8_t character;
    uint8_t attribute;
};

struct GlyphCandidate {
    uint16_t key;  // 15-bit colour: bits 0-4 red, 5-9 green, 10-14 blue
    uint8_t character;
    uint8_t attribute;
};

// The glyph that represents one ink density (0 = none) and its evenness score.
struct GlyphLevel {
    uint8_t glyph = 0;
    uint8_t ink = 0;
    float unevenness = 1000.0f;
};

struct GlyphShape {
    int quadrants[4];  // top-left, top-right, bottom-left, bottom-right
    int ink;
    float unevenness;
    uint8_t level;
};

// Ink of the four 4x6 quadrants of glyph g of a 3072-byte 8x12 font, its
// unevenness and its density level (255 empty .. 0 full).
GlyphShape analyseGlyph(const uint8_t* font, int glyph);
// For each of the 256 levels the most evenly spread glyph from 32 up (lowest code on ties).
std::array<GlyphLevel, 256> chooseGlyphLevels(const uint8_t* font);

// One channel of a mode 1 mix: ink and paper weighted (255 - w) / 255 and w / 255, truncated.
int shadeMix(int ink, int paper, int paperWeight);
// One channel of a mode 0 mix of n ink pixels out of 96, truncated. The product
// (ink - paper) * n is exact; c96 lies slightly above 1/96, so a whole result
// can truncate to one below it (paper 128, ink 0, n 48 gives 63).
int glyphMix(int ink, int paper, int n);

// Candidate lists in enumeration order with duplicates skipped; each returns the count.
size_t buildShadeCandidates(ShadeCandidate* out);
size_t buildGlyphCandidates(const std::array<GlyphLevel, 256>& levels, GlyphCandidate* out);

// Brightness of a 5-bit colour, summed in the order each side of the comparison uses.
float targetBrightness(int r5, int g5, int b5);
float candidateBrightness(uint16_t key);

// Fill all 32768 cells (4 bytes each: character, untouched, attribute low, attribute high).
void fillShadeTable(const ShadeCandidate* candidates, size_t count, uint8_t* table);
void fillGlyphTable(const GlyphCandidate* candidates, size_t count, uint8_t* table);

inline void storeCell(uint8_t* table, int index, uint8_t character, uint8_t attribute) {
    uint8_t* cell = table + index * 4;
    cell[0] = character;
    cell[2] = attribute;
    cell[3] = 0;
}
