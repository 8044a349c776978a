// Byte-exact comparison of rendered pictures with reviewed reference PNGs under
// tests/reference/. A mismatch writes the produced image and a difference image
// (differing pixels in magenta over a dimmed copy of the picture) into
// build/test-output/ and names them in the failure. VORNAK_UPDATE_REFERENCES=1
// rewrites the reference instead, after its pictures have been looked at.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "image/surface.h"
#include "platform/png_file.h"

testing::AssertionResult matchesReferenceImage(const RgbaImage& produced, const std::string& name);
testing::AssertionResult matchesReferenceImage(const Surface& image, const std::string& name);

// A 4-byte Surface as an RGBA image; `opaque` sets every alpha to 255, for
// references that keep only the picture and not the scene's working alpha.
RgbaImage toRgbaImage(const Surface& image, bool opaque = false);
