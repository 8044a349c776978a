// Straightforward exhaustive table fills: every colour against every candidate
// in list order, exactly as the text modes define the match. The fast fills
// must agree with these on every entry.
#pragma once

#include <cmath>
#include <cstdlib>

#include "textmode/text_tables.h"

inline void referenceShadeTable(const ShadeCandidate* candidates, size_t count, uint8_t* table) {
    for (int c = 0; c < 32768; ++c) {
        const int r = (c & 31) * 8, g = (c >> 5 & 31) * 8, b = (c >> 10 & 31) * 8;
        size_t best = 0;
        int bestDistance = 1 << 30;
        for (size_t i = 0; i < count; ++i) {
            const int d = std::abs(candidates[i].r - r) + std::abs(candidates[i].g - g) +
                          std::abs(candidates[i].b - b);
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
        }
        storeCell(table, c, candidates[best].character, candidates[best].attribute);
    }
}

inline void referenceGlyphTable(const GlyphCandidate* candidates, size_t count, uint8_t* table) {
    for (int c = 0; c < 32768; ++c) {
        const int b5 = c >> 10 & 31, g5 = c >> 5 & 31, r5 = c & 31;
        const float target = targetBrightness(r5, g5, b5);
        size_t best = 0;
        int bestDistance = 0;
        float bestBrightness = 0.0f;
        for (size_t i = 0; i < count; ++i) {
            const int key = candidates[i].key;
            const int kb = key >> 10 & 31, kg = key >> 5 & 31, kr = key & 31;
            const int d = std::abs(kb - b5) + std::abs(kg - g5) + std::abs(kr - r5);
            const float brightness = candidateBrightness(candidates[i].key);
            if (i == 0 || d < bestDistance ||
                (d == bestDistance &&
                 std::fabs(brightness - target) < std::fabs(bestBrightness - target))) {
                best = i;
                bestDistance = d;
                bestBrightness = brightness;
            }
        }
        storeCell(table, c, candidates[best].character, candidates[best].attribute);
    }
}
