// Text-mode conversion: the 2x2 box-filter reduction of the render image and the
// table-driven conversion of 15-bit colours into console cells, built in mode 0
// (font-derived glyphs) or mode 1 (shade blocks).
#pragma once

#include <cstdint>

#include "shell/surface.h"

constexpr int TEXT_TABLE_SIZE = 32768;

class TextConverter {
public:
    TextConverter() = default;
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    // Builds the table of mode 0 or 1; 1 for any other mode.
    int build(uint8_t mode);
    // Converts every pixel of src into the cell at the same place in dst; 1 when refused.
    int convert(const Surface* src, Surface* dst) const;
    void release();

    bool built() const { return built_ != 0; }
    const uint8_t* table() const { return table_; }  // TEXT_TABLE_SIZE cells of 4 bytes

private:
    uint8_t built_ = 0;
    uint8_t* table_ = nullptr;
};

// Box-filter reduction of a 4-byte Surface into a smaller (or equal) 4-byte Surface.
void downsampleSurface(const Surface* src, Surface* dst);
