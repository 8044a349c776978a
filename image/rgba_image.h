// A picture in memory: 8-bit RGBA pixels, as PNG files and the console look hold them.
#pragma once

#include <cstdint>
#include <vector>

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width x height x 4 bytes, rows top to bottom, R, G, B, A
};
