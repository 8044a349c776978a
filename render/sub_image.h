// SubImage: a rectangle of a 32-bit Surface (a sprite or a line of
// pre-rendered text) drawn unscaled into the bound FrameBuffer's colour
// buffer through the stencil test, the alpha test and blending.
#pragma once

#include <cstdint>

#include "image/surface.h"

class SubImage {
  public:
    SubImage() = default;

    // rect is {x, y, width, height} in the source. Refuses (SGL_ERR_INVALID, and
    // the SubImage is left invalid) a null rect or source, a source that is not
    // 4 bytes per pixel, and a rectangle that is empty or not inside the source.
    int init(const int16_t rect[4], Surface* source);
    void reset() { valid_ = 0; }
    bool valid() const { return valid_ != 0; }

    // Draws with the top-left corner at column x, row y, clipped to the
    // FrameBuffer and to the source's current size (the source may have been
    // created again, smaller or with another pixel size, since init). Draws nothing without an
    // initialised context, a bound FrameBuffer with a colour Surface, or, while stencil testing is
    // on, a stencil Surface. No depth test, depth write or texturing.
    void draw(int16_t x, int16_t y) const;

  private:
    Surface* source_ = nullptr;
    int16_t x_ = 0;
    int16_t y_ = 0;
    int16_t width_ = 0;
    int16_t height_ = 0;
    uint8_t valid_ = 0;
};
