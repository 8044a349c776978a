#include "program/pixel_scaling.h"

#include <cstring>

void scalePicture(const uint8_t* source, size_t sourcePitch, int width, int height, int scale,
                  uint8_t* target, size_t targetPitch) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source + size_t(y) * sourcePitch;
        uint8_t* row = target + size_t(y) * size_t(scale) * targetPitch;
        uint8_t* to = row;
        for (int x = 0; x < width; ++x, from += 4) {
            for (int i = 0; i < scale; ++i, to += 4) std::memcpy(to, from, 4);
        }
        for (int i = 1; i < scale; ++i)
            std::memcpy(row + size_t(i) * targetPitch, row, size_t(width) * size_t(scale) * 4);
    }
}
