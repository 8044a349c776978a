// How the console shows a frame of cells: every CHAR_INFO cell drawn as an 8x12
// glyph of the console font in its foreground and background colours, for
// previews, tests and the render mode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/rgba_image.h"
#include "image/surface.h"

// Draws a Surface of 4-byte cells (byte 0 character, bytes 2-3 attribute) into an
// RGBA image of 8 x 12 pixels per cell (640x600 for 80x50). False, with an empty
// image, for a Surface that is not created or not 4 bytes per pixel.
bool drawConsoleLook(const Surface& cells, RgbaImage& image);
// The same picture drawn into memory the caller owns: `rgba` holds
// (columns x 8) x (rows x 12) pixels of 4 bytes, rows `pitch` bytes apart. For
// presenting every frame without allocating.
void drawConsoleLookInto(const Surface& cells, uint8_t* rgba, size_t pitch);
