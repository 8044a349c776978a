// FrameBuffer: the colour, depth and stencil Surfaces the renderer draws
// into, selected by the values 1, 2 and 4. It owns none of them.
#pragma once

#include <cstdint>

#include "image/surface.h"

class FrameBuffer {
  public:
    // Every change of what a FrameBuffer holds counts as a Surface layout change.
    FrameBuffer() { noteSurfaceLayoutChange(); }
    ~FrameBuffer() { noteSurfaceLayoutChange(); }
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // release, then initialised; returns 0.
    int init();
    // Detaches everything; the Surfaces are not freed.
    void release();
    // Attaches s as colour (1, 4 bytes per pixel), depth (2, 4 bytes) or stencil
    // (4, 1 byte), replacing an earlier one under the same selector. The first
    // Surface attached fixes the size; later ones must match it. SGL_ERR_INVALID
    // for null, another selector, the wrong pixel size, a Surface without
    // pixels, a size mismatch, or a width beyond SPAN_CAPACITY (a row must fit
    // the span scratch).
    int attach(Surface* s, uint8_t which);
    // The Surface attached under selector 1, 2 or 4, or null. A Surface that
    // was created again since with another size or pixel size answers null
    // too: drawing would run past its pixels.
    Surface* surface(uint8_t which) const;

    uint8_t attachedMask() const { return attached_; }
    bool initialised() const { return initialised_ != 0; }
    int16_t width() const { return attached_ != 0 ? width_ : 0; }
    int16_t height() const { return attached_ != 0 ? height_ : 0; }

  private:
    uint8_t initialised_ = 0;
    uint8_t attached_ = 0;
    Surface* color_ = nullptr;
    Surface* depth_ = nullptr;
    Surface* stencil_ = nullptr;
    int16_t width_ = 0;
    int16_t height_ = 0;
};
