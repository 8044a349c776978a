#include "tests/reference_image.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

RgbaImage toRgbaImage(const Surface& image, bool opaque) {
    RgbaImage out;
    out.width = image.width();
    out.height = image.height();
    out.pixels.resize(size_t(out.width) * size_t(out.height) * 4);
    for (int y = 0; y < out.height; ++y)
        std::memcpy(&out.pixels[size_t(y) * size_t(out.width) * 4],
                    image.pixels() + ptrdiff_t(y) * image.pitch(), size_t(out.width) * 4);
    if (opaque)
        for (size_t i = 3; i < out.pixels.size(); i += 4) out.pixels[i] = 255;
    return out;
}

testing::AssertionResult matchesReferenceImage(const Surface& image, const std::string& name) {
    return matchesReferenceImage(toRgbaImage(image), name);
}

testing::AssertionResult matchesReferenceImage(const RgbaImage& produced, const std::string& name) {
    const std::string referencePath =
        std::string(VORNAK_SOURCE_DIR) + "/tests/reference/" + name + ".png";
    const char* update = std::getenv("VORNAK_UPDATE_REFERENCES");
    if (update != nullptr && std::string(update) == "1") {
        if (writePngRgba(referencePath, produced)) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "cannot write " << referencePath;
    }

    RgbaImage reference;
    const bool loaded = readPngRgba(referencePath, reference) &&
                        reference.width == produced.width && reference.height == produced.height;
    if (loaded && reference.pixels == produced.pixels) return testing::AssertionSuccess();

    RgbaImage difference = produced;
    int differing = 0;
    for (size_t p = 0; p < produced.pixels.size(); p += 4) {
        const bool same = loaded && std::memcmp(&produced.pixels[p], &reference.pixels[p], 4) == 0;
        differing += same ? 0 : 1;
        const uint8_t marked[4] = {255, 0, 255, 255};
        const uint8_t dimmed[4] = {uint8_t(produced.pixels[p] / 3),
                                   uint8_t(produced.pixels[p + 1] / 3),
                                   uint8_t(produced.pixels[p + 2] / 3), 255};
        std::memcpy(&difference.pixels[p], same ? dimmed : marked, 4);
    }
    const std::string outDir = std::string(VORNAK_BINARY_DIR) + "/test-output";
    std::filesystem::create_directories(outDir);
    const std::string actualPath = outDir + "/" + name + "-actual.png";
    const std::string diffPath = outDir + "/" + name + "-diff.png";
    writePngRgba(actualPath, produced);
    writePngRgba(diffPath, difference);
    return testing::AssertionFailure()
           << name << ": " << differing << " pixels differ from " << referencePath
           << (loaded ? "" : " (missing, unreadable or of another size)")
           << "; produced image: " << actualPath << ", difference: " << diffPath;
}
