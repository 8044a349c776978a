// Filling a Surface, or a rectangle of it, with one pixel value.
#pragma once

#include <cstdint>

#include "image/surface.h"

// value points to 4 bytes for a 4-byte-per-pixel Surface (a colour or a 32-bit
// depth) or 1 byte for a 1-byte Surface. rect is {x, y, width, height}, or null
// for the whole Surface; it is clipped to the Surface. Returns 0, or
// SGL_ERR_INVALID for a null pointer, a Surface without pixels or another pixel
// size (the Surface is then unchanged).
int fillSurface(Surface* surface, const void* value, const int16_t rect[4]);
