// Text-mode conversion: the 2x2 box-filter reduction of the render image and the
// table-driven conversion of 15-bit colours into console cells, built in mode 0
// (font-derived glyphs) or mode 1 (shade blocks).
#pragma once

#include <cstdint>

#include "image/surface.h"

constexpr int TEXT_TABLE_SIZE = 32768;

class TextConverter {
  public:
    TextConverter() = default;
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    // Builds the table of mode 0 or 1 (replacing any earlier one); 1 for any other mode.
    int build(uint8_t mode);
    // Converts every pixel of src into the cell at the same place in dst; 1 when refused
    // (sizes differ, not built, or either Surface not 4 bytes per pixel), dst untouched.
    int convert(const Surface* src, Surface* dst) const;
    void release();

    bool built() const { return built_ != 0; }
    const uint8_t* table() const { return table_; }  // TEXT_TABLE_SIZE cells of 4 bytes

  private:
    uint8_t built_ = 0;
    uint8_t* table_ = nullptr;
};

// 15-bit colour index of an R, G, B, A pixel: bits 0-4 red, 5-9 green, 10-14 blue.
inline int textColorIndex(const uint8_t* pixel) {
    return pixel[0] >> 3 | (pixel[1] >> 3) << 5 | (pixel[2] >> 3) << 10;
}

// Box-filter reduction of a 4-byte Surface into a smaller (or equal) 4-byte Surface
// in 16.16 steps. Does nothing for other pixel sizes or a larger destination.
void downsampleSurface(const Surface* src, Surface* dst);

// 1 (the default) lets the exact halving and the conversion take their AVX2
// rounds where the build has them and the processor runs them; 0 keeps the
// baseline rounds, which tests compare them with.
extern uint8_t textModeAvx2Allowed;
