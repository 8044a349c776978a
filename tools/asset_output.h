// Output helpers shared by the build-time image generators: a C++ source that
// defines const byte arrays, and PNG previews of the same pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/png_file.h"

// An RGBA image being generated, cleared to transparent black.
struct AssetImage {
    int width;
    int height;
    std::vector<uint8_t> rgba;

    AssetImage(int w, int h) : width(w), height(h), rgba(size_t(w) * size_t(h) * 4, 0) {}
    void set(int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        uint8_t* p = &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = a;
    }
};

// Collects array definitions and writes them as one C++ source file.
class ArraySourceWriter {
  public:
    // `headers` declare the arrays; the definitions are checked against them.
    explicit ArraySourceWriter(const std::vector<std::string>& headers) {
        text_ = "// Generated at build time; do not edit.\n";
        for (const std::string& header : headers) text_ += "#include \"" + header + "\"\n";
    }

    void add(const std::string& name, const std::vector<uint8_t>& bytes) {
        text_ += "\nconst uint8_t " + name + "[" + std::to_string(bytes.size()) + "] = {";
        char number[8];
        for (size_t i = 0; i < bytes.size(); ++i) {
            if (i % 24 == 0) text_ += "\n";
            std::snprintf(number, sizeof number, "%u,", unsigned(bytes[i]));
            text_ += number;
        }
        text_ += "\n};\n";
    }

    bool write(const std::string& path) const {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) return false;
        const bool written = std::fwrite(text_.data(), 1, text_.size(), file) == text_.size();
        return std::fclose(file) == 0 && written;
    }

  private:
    std::string text_;
};

// The pixels with alpha set to 255, for previews of images whose alpha is not coverage.
inline std::vector<uint8_t> opaqueCopy(std::vector<uint8_t> rgba) {
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;
    return rgba;
}

// Writes `dir`/`name`.png; a failed preview is reported but does not fail the build.
inline void writePreview(const std::string& dir, const std::string& name, int width, int height,
                         const std::vector<uint8_t>& rgba) {
    const std::string path = dir + "/" + name + ".png";
    if (!writePngRgba(path, width, height, rgba.data(), width * 4))
        std::fprintf(stderr, "warning: could not write preview %s\n", path.c_str());
}
