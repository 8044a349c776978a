// Byte-exact comparison of a rendered 32-bit Surface with a reviewed reference
// PNG under tests/reference/, for the scene tests. A mismatch writes the produced
// image and a difference image (differing pixels in magenta over a dimmed copy
// of the reference) into build/test-output/ and names them in the failure.
// VORNAK_UPDATE_REFERENCES=1 rewrites the reference instead.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/png_file.h"
#include "shell/surface.h"

inline testing::AssertionResult matchesReferenceImage(const Surface& image,
                                                      const std::string& name) {
    const int width = image.width();
    const int height = image.height();
    const std::string referencePath =
        std::string(VORNAK_SOURCE_DIR) + "/tests/reference/" + name + ".png";
    const char* update = std::getenv("VORNAK_UPDATE_REFERENCES");
    if (update != nullptr && std::string(update) == "1") {
        if (writePngRgba(referencePath, width, height, image.pixels(), image.pitch()))
            return testing::AssertionSuccess();
        return testing::AssertionFailure() << "cannot write " << referencePath;
    }

    RgbaImage reference;
    const bool loaded = readPngRgba(referencePath, reference) && reference.width == width &&
                        reference.height == height;
    RgbaImage difference;
    difference.width = width;
    difference.height = height;
    difference.pixels.assign(size_t(width) * size_t(height) * 4, 0);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 4;
            const uint8_t* produced = image.pixels() + y * image.pitch() + x * 4;
            const uint8_t* expected = loaded ? &reference.pixels[at] : nullptr;
            const bool same = expected != nullptr && std::equal(produced, produced + 4, expected);
            differing += !same;
            uint8_t* mark = &difference.pixels[at];
            mark[0] = same ? uint8_t(expected[0] / 3) : 255;
            mark[1] = same ? uint8_t(expected[1] / 3) : 0;
            mark[2] = same ? uint8_t(expected[2] / 3) : 255;
            mark[3] = 255;
        }
    }
    if (differing == 0) return testing::AssertionSuccess();

    const std::string outDir = std::string(VORNAK_BINARY_DIR) + "/test-output";
    std::filesystem::create_directories(outDir);
    const std::string actualPath = outDir + "/" + name + "-actual.png";
    const std::string diffPath = outDir + "/" + name + "-diff.png";
    writePngRgba(actualPath, width, height, image.pixels(), image.pitch());
    writePngRgba(diffPath, difference);
    return testing::AssertionFailure()
           << name << ": " << differing << " pixels differ from " << referencePath
           << (loaded ? "" : " (not readable)") << "; produced image: " << actualPath
           << ", difference: " << diffPath;
}
