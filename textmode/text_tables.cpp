#include "textmode/text_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

// clang-format off
const std::array<TextRgb, 16> SHADE_PALETTE = {{
    {  0,   0,   0}, {  0,   0,  64}, {  0,  64,   0}, {  0,  64,  64},
    { 64,   0,   0}, { 64,   0,  64}, { 64,  64,   0}, {192, 192, 192},
    {128, 128, 128}, {  0,   0, 255}, {  0, 255,   0}, {  0, 255, 255},
    {255,   0,   0}, {255,   0, 255}, {255, 255,   0}, {255, 255, 255},
}};

// Index 8 is never used in mode 0; its entry only keeps the table complete.
const std::array<TextRgb, 16> GLYPH_PALETTE = {{
    {  0,   0,   0}, {  0,   0, 128}, {  0, 128,   0}, {  0, 128, 128},
    {128,   0,   0}, {128,   0, 128}, {128, 128,   0}, {128, 128, 128},
    {  0,   0,   0}, {  0,   0, 255}, {  0, 255,   0}, {  0, 255, 255},
    {255,   0,   0}, {255,   0, 255}, {255, 255,   0}, {255, 255, 255},
}};
// clang-format on

namespace {

constexpr double C96 = TEXT_C96;
constexpr int SHADE_CHARACTERS[4] = {219, 178, 177, 176};
constexpr int SHADE_PAPER_WEIGHTS[4] = {0, 64, 128, 192};

int popcount8(uint8_t v) {
    int n = 0;
    for (; v != 0; v = uint8_t(v & (v - 1))) ++n;
    return n;
}

int key5(int value) {
    return value >> 3;
}

}  // namespace

GlyphShape analyseGlyph(const uint8_t* font, int glyph) {
    GlyphShape shape{};
    const uint8_t* rows = font + glyph * 12;
    for (int r = 0; r < 12; ++r) {
        const int half = r < 6 ? 0 : 2;
        shape.quadrants[half] += popcount8(uint8_t(rows[r] >> 4));
        shape.quadrants[half + 1] += popcount8(uint8_t(rows[r] & 0x0F));
    }
    const int* q = shape.quadrants;
    shape.ink = q[0] + q[1] + q[2] + q[3];
    const double m = shape.ink * 0.25;
    shape.unevenness = float(std::fabs(q[0] - m) + std::fabs(q[1] - m) + std::fabs(q[3] - m) +
                             std::fabs(q[2] - m));
    // A full glyph lands a hair below zero (c96 is slightly above 1/96), which truncates to 0.
    const int level = int(255.0 - double(shape.ink * 255) * C96);
    shape.level = uint8_t(level & 0xFF);
    return shape;
}

std::array<GlyphLevel, 256> chooseGlyphLevels(const uint8_t* font) {
    std::array<GlyphLevel, 256> levels{};
    for (int g = 32; g < 256; ++g) {
        const GlyphShape shape = analyseGlyph(font, g);
        GlyphLevel& level = levels[shape.level];
        if (shape.unevenness < level.unevenness) {
            level.glyph = uint8_t(g);
            level.ink = uint8_t(shape.ink);
            level.unevenness = shape.unevenness;
        }
    }
    return levels;
}

int shadeMix(int ink, int paper, int paperWeight) {
    constexpr double R255 = 1.0 / 255.0;
    const double a = (255 - paperWeight) * R255;
    const double b = paperWeight * R255;
    return int(ink * a + paper * b);
}

// Results lie in (-1, 256): a full-ink mix towards 0 lands a hair below zero and truncates to 0.
int glyphMix(int ink, int paper, int n) {
    return int(double((ink - paper) * n) * C96 + paper);
}

size_t buildShadeCandidates(ShadeCandidate* out) {
    size_t count = 0;
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) {
            for (int k = 0; k < 4; ++k) {
                const int w = SHADE_PAPER_WEIGHTS[k];
                const TextRgb& ink = SHADE_PALETTE[size_t(i)];
                const TextRgb& paper = SHADE_PALETTE[size_t(j)];
                const ShadeCandidate c{uint8_t(shadeMix(ink.r, paper.r, w)),
                                       uint8_t(shadeMix(ink.g, paper.g, w)),
                                       uint8_t(shadeMix(ink.b, paper.b, w)),
                                       uint8_t(SHADE_CHARACTERS[k]), uint8_t((j << 4) | i)};
                const bool seen = std::any_of(out, out + count, [&](const ShadeCandidate& e) {
                    return e.r == c.r && e.g == c.g && e.b == c.b;
                });
                if (!seen) out[count++] = c;
            }
        }
    }
    return count;
}

size_t buildGlyphCandidates(const std::array<GlyphLevel, 256>& levels, GlyphCandidate* out) {
    std::vector<uint8_t> seen(32768, 0);
    size_t count = 0;
    for (int k = 0; k < 16; ++k) {
        if (k == 8) continue;
        for (int i = 0; i < 16; ++i) {
            if (i == 8) continue;
            for (const GlyphLevel& level : levels) {
                if (level.glyph == 0) continue;
                const int n = level.ink;
                const TextRgb& ink = GLYPH_PALETTE[size_t(i)];
                const TextRgb& paper = GLYPH_PALETTE[size_t(k)];
                const int key = key5(glyphMix(ink.b, paper.b, n)) << 10 |
                                key5(glyphMix(ink.g, paper.g, n)) << 5 |
                                key5(glyphMix(ink.r, paper.r, n));
                if (seen[size_t(key)] != 0) continue;
                seen[size_t(key)] = 1;
                out[count++] = GlyphCandidate{uint16_t(key), level.glyph, uint8_t((k << 4) | i)};
            }
        }
    }
    return count;
}

float targetBrightness(int r5, int g5, int b5) {
    return float(r5 * double(TEXT_WEIGHT_RED) + b5 * double(TEXT_WEIGHT_BLUE) +
                 g5 * double(TEXT_WEIGHT_GREEN));
}

float candidateBrightness(uint16_t key) {
    const int kb = key >> 10 & 31, kg = key >> 5 & 31, kr = key & 31;
    return float(kb * double(TEXT_WEIGHT_BLUE) + kg * double(TEXT_WEIGHT_GREEN) +
                 kr * double(TEXT_WEIGHT_RED));
}

namespace {

// Mode 1 search in L1 distance. The exhaustive scan keeps the first candidate
// of least distance: the least (distance, list position), which does not depend
// on the order in which candidates are visited. So candidates are visited
// sorted by red, outward from the target's red, and a side is abandoned once
// its red difference alone exceeds the best distance found. The previous
// colour's winner, whose distance bounds the least one, seeds each search.
struct SearchPoint {
    int r, g, b;
    uint16_t position;  // place in the candidate list
};

void fillNearestShade(std::vector<SearchPoint>& points, uint8_t* table,
                      const ShadeCandidate* candidates) {
    std::sort(points.begin(), points.end(),
              [](const SearchPoint& a, const SearchPoint& b) { return a.r < b.r; });
    const int count = int(points.size());
    // firstAtOrAbove[r]: the first sorted point whose red is at least r.
    std::array<int, 257> firstAtOrAbove{};
    for (int r = 0, i = 0; r <= 256; ++r) {
        while (i < count && points[size_t(i)].r < r) ++i;
        firstAtOrAbove[size_t(r)] = i;
    }
    int best = 0;  // sorted index of the previous winner
    for (int c = 0; c < 32768; ++c) {
        const int tr = (c & 31) * 8, tg = (c >> 5 & 31) * 8, tb = (c >> 10 & 31) * 8;
        int bestDistance = 0;
        uint16_t bestPosition = 0;
        auto consider = [&](int i, bool seed) {
            const SearchPoint& p = points[size_t(i)];
            const int d = std::abs(p.r - tr) + std::abs(p.g - tg) + std::abs(p.b - tb);
            if (seed || d < bestDistance || (d == bestDistance && p.position < bestPosition)) {
                bestDistance = d;
                bestPosition = p.position;
                best = i;
            }
        };
        consider(best, true);
        const int start = firstAtOrAbove[size_t(tr)];
        for (int i = start; i < count && points[size_t(i)].r - tr <= bestDistance; ++i) {
            consider(i, false);
        }
        for (int i = start - 1; i >= 0 && tr - points[size_t(i)].r <= bestDistance; --i) {
            consider(i, false);
        }
        storeCell(table, c, candidates[bestPosition].character, candidates[bestPosition].attribute);
    }
}

}  // namespace

void fillShadeTable(const ShadeCandidate* candidates, size_t count, uint8_t* table) {
    if (count == 0) return;
    std::vector<SearchPoint> points(count);
    for (size_t i = 0; i < count; ++i) {
        const ShadeCandidate& c = candidates[i];
        points[i] = SearchPoint{c.r, c.g, c.b, uint16_t(i)};
    }
    fillNearestShade(points, table, candidates);
}

// Mode 0 keys are distinct points of the 32x32x32 grid, so each colour's
// candidates can be looked up directly, shell by shell of growing L1 distance:
// the first shell that holds any candidate holds all those of least distance,
// and among them the brightness and list order settle the choice (the least
// (distance, brightness difference, list position), as the exhaustive scan
// finds). When the shells grow past the size of the list (few candidates), the
// list itself is scanned instead.
void fillGlyphTable(const GlyphCandidate* candidates, size_t count, uint8_t* table) {
    if (count == 0) return;
    constexpr int16_t NONE = -1;
    std::vector<int16_t> grid(32768, NONE);
    std::vector<float> brightness(count);
    for (size_t i = 0; i < count; ++i) {
        if (grid[candidates[i].key] == NONE) grid[candidates[i].key] = int16_t(i);
        brightness[i] = candidateBrightness(candidates[i].key);
    }
    for (int c = 0; c < 32768; ++c) {
        const int r5 = c & 31, g5 = c >> 5 & 31, b5 = c >> 10 & 31;
        const float target = targetBrightness(r5, g5, b5);
        int best = -1;
        int bestDistance = 0;
        float bestTie = 0.0f;
        auto consider = [&](int i, int d) {
            const float tie = std::fabs(brightness[size_t(i)] - target);
            if (best < 0 || d < bestDistance ||
                (d == bestDistance && (tie < bestTie || (tie == bestTie && i < best)))) {
                best = i;
                bestDistance = d;
                bestTie = tie;
            }
        };
        size_t visited = 0;
        for (int d = 0; best < 0 && d <= 93 && visited <= count; ++d) {
            for (int dr = -d; dr <= d; ++dr) {
                const int r = r5 + dr;
                if (r < 0 || r > 31) continue;
                const int restR = d - std::abs(dr);
                for (int dg = -restR; dg <= restR; ++dg) {
                    const int g = g5 + dg;
                    if (g < 0 || g > 31) continue;
                    const int restG = restR - std::abs(dg);
                    for (int b : {b5 - restG, b5 + restG}) {
                        if (b < 0 || b > 31) continue;
                        ++visited;
                        const int i = grid[size_t(b << 10 | g << 5 | r)];
                        if (i != NONE) consider(i, d);
                        if (restG == 0) break;
                    }
                }
            }
        }
        if (best < 0) {
            for (size_t i = 0; i < count; ++i) {
                const int key = candidates[i].key;
                const int d = std::abs((key & 31) - r5) + std::abs((key >> 5 & 31) - g5) +
                              std::abs((key >> 10 & 31) - b5);
                consider(int(i), d);
            }
        }
        storeCell(table, c, candidates[best].character, candidates[best].attribute);
    }
}
