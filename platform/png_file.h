// Reading and writing 8-bit RGBA PNG files, for the render mode, the asset
// generators' previews and the reference images of the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/rgba_image.h"

// Writes `width` x `height` RGBA pixels whose rows are `pitch` bytes apart. False on any failure.
bool writePngRgba(const std::string& path, int width, int height, const uint8_t* pixels, int pitch);
bool writePngRgba(const std::string& path, const RgbaImage& image);

// Reads any PNG as 8-bit RGBA. False (and an empty image) on any failure.
bool readPngRgba(const std::string& path, RgbaImage& image);
