// Byte-exact comparison of a rendered 32-bit Surface with a reviewed reference
// PNG under tests/reference/. On a mismatch the produced image and a difference
// image (differing pixels white on black) are written into the build directory
// and named in the failure. With VORNAK_UPDATE_REFERENCES set, a missing
// reference is written instead, to be looked at before it is kept.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/png_file.h"
#include "shell/surface.h"

inline testing::AssertionResult matchesReferenceImage(const Surface& image,
                                                      const std::string& name) {
    const int width = image.width();
    const int height = image.height();
    const std::string referencePath =
        std::string(VORNAK_SOURCE_DIR) + "/tests/reference/" + name + ".png";
    RgbaImage reference;
    if (!readPngRgba(referencePath, reference)) {
        if (std::getenv("VORNAK_UPDATE_REFERENCES") != nullptr &&
            writePngRgba(referencePath, width, height, image.pixels(), image.pitch()))
            return testing::AssertionFailure() << "wrote new reference " << referencePath;
        return testing::AssertionFailure() << "cannot read reference " << referencePath;
    }
    if (reference.width != width || reference.height != height)
        return testing::AssertionFailure()
               << referencePath << " is " << reference.width << "x" << reference.height;

    std::vector<uint8_t> difference(size_t(width) * size_t(height) * 4, 0);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* produced = image.pixels() + y * image.pitch();
        const uint8_t* expected = reference.pixels.data() + size_t(y) * size_t(width) * 4;
        for (int x = 0; x < width; ++x) {
            uint8_t* mark = difference.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
            mark[3] = 255;
            if (std::memcmp(produced + x * 4, expected + x * 4, 4) != 0) {
                ++differing;
                mark[0] = mark[1] = mark[2] = 255;
            }
        }
    }
    if (differing == 0) return testing::AssertionSuccess();

    const std::string base = std::string(VORNAK_BINARY_DIR) + "/" + name;
    writePngRgba(base + "-actual.png", width, height, image.pixels(), image.pitch());
    writePngRgba(base + "-diff.png", width, height, difference.data(), width * 4);
    return testing::AssertionFailure()
           << differing << " pixels differ from " << referencePath << "; see " << base
           << "-actual.png and " << base << "-diff.png";
}
