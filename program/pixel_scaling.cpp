#include "program/pixel_scaling.h"

#include <cstring>
#include <initializer_list>

void scalePicture(const uint8_t* source, size_t sourcePitch, int width, int height, int scale,
                  uint8_t* target, size_t targetPitch) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source + size_t(y) * sourcePitch;
        uint8_t* row = target + size_t(y) * size_t(scale) * targetPitch;
        uint8_t* to = row;
        for (int x = 0; x < width; ++x, from += 4) {
            for (int i = 0; i < scale; ++i, to += 4) std::memcpy(to, from, 4);
        }
        for (int i = 1; i < scale; ++i)
            std::memcpy(row + size_t(i) * targetPitch, row, size_t(width) * size_t(scale) * 4);
    }
}

namespace {

// BT.709 (Kr 0.2126, Kb 0.0722) scaled to the limited range (219 luma and 224
// colour steps), in 1/65536: row 0 makes Y, rows 1 and 2 make U and V.
constexpr int SHIFT = 16;
constexpr double STEP = double(1 << SHIFT) / 255.0;
constexpr int coefficient(double value) {
    return int(value * STEP + (value < 0 ? -0.5 : 0.5));
}
constexpr int TO_YUV[3][3] = {
    {coefficient(0.2126 * 219), coefficient(0.7152 * 219), coefficient(0.0722 * 219)},
    {coefficient(-0.2126 / 1.8556 * 224), coefficient(-0.7152 / 1.8556 * 224),
     coefficient(0.5 * 224)},
    {coefficient(0.5 * 224), coefficient(-0.7152 / 1.5748 * 224),
     coefficient(-0.0722 / 1.5748 * 224)},
};

// One component from red, green and blue sums of `1 << extra` pixels, rounded.
inline uint8_t component(int row, int offset, int r, int g, int b, int extra) {
    const int shift = SHIFT + extra;
    const int sum = TO_YUV[row][0] * r + TO_YUV[row][1] * g + TO_YUV[row][2] * b +
                    (offset << shift) + (1 << (shift - 1));
    return uint8_t(sum >> shift);
}

// Steps along enlarged pixels, keeping the picture pixel each one repeats.
struct ScaledPosition {
    int scale;
    int pixel = 0;
    int repeat = 0;
    void advance() {
        if (++repeat == scale) {
            repeat = 0;
            ++pixel;
        }
    }
};

// Writes `value` `scale` times from `to` on; the usual scales 1 and 2 as plain
// stores rather than a memset call per pixel.
inline uint8_t* repeat(uint8_t* to, uint8_t value, int scale) {
    if (scale == 1) {
        *to = value;
        return to + 1;
    }
    if (scale == 2) {
        to[0] = to[1] = value;
        return to + 2;
    }
    std::memset(to, value, size_t(scale));
    return to + scale;
}

}  // namespace

void scalePictureToYuv420(const uint8_t* source, size_t sourcePitch, int width, int height,
                          int scale, const Yuv420Planes& target) {
    const int scaledWidth = width * scale;
    const int scaledHeight = height * scale;
    if (scale % 2 == 0) {
        // Every colour sample lies inside one picture pixel: its colour. Each
        // picture row converted once, then repeated; the last colour converted is
        // kept, as neighbours mostly share one.
        const int half = scale / 2;
        for (int y = 0; y < height; ++y) {
            const uint8_t* from = source + size_t(y) * sourcePitch;
            uint8_t* rows[3];
            for (int plane = 0; plane < 3; ++plane)
                rows[plane] = target.planes[plane] + size_t(y) * size_t(plane == 0 ? scale : half) *
                                                         size_t(target.pitches[plane]);
            uint8_t* luma = rows[0];
            uint8_t* u = rows[1];
            uint8_t* v = rows[2];
            uint32_t lastColour = 0;
            uint8_t yuv[3] = {};
            for (int x = 0; x < width; ++x, from += 4) {
                const uint32_t colour = from[0] | uint32_t(from[1]) << 8 | uint32_t(from[2]) << 16;
                if (x == 0 || colour != lastColour) {
                    lastColour = colour;
                    yuv[0] = component(0, 16, from[0], from[1], from[2], 0);
                    yuv[1] = component(1, 128, from[0], from[1], from[2], 0);
                    yuv[2] = component(2, 128, from[0], from[1], from[2], 0);
                }
                luma = repeat(luma, yuv[0], scale);
                u = repeat(u, yuv[1], half);
                v = repeat(v, yuv[2], half);
            }
            for (int i = 1; i < scale; ++i)
                std::memcpy(rows[0] + size_t(i) * size_t(target.pitches[0]), rows[0],
                            size_t(scaledWidth));
            for (int plane = 1; plane < 3; ++plane)
                for (int i = 1; i < half; ++i)
                    std::memcpy(rows[plane] + size_t(i) * size_t(target.pitches[plane]),
                                rows[plane], size_t(scaledWidth / 2));
        }
        return;
    }
    for (int y = 0; y < height; ++y) {
        const uint8_t* from = source + size_t(y) * sourcePitch;
        uint8_t* row = target.planes[0] + size_t(y) * size_t(scale) * size_t(target.pitches[0]);
        uint8_t* to = row;
        for (int x = 0; x < width; ++x, from += 4)
            to = repeat(to, component(0, 16, from[0], from[1], from[2], 0), scale);
        for (int i = 1; i < scale; ++i)
            std::memcpy(row + size_t(i) * size_t(target.pitches[0]), row, size_t(scaledWidth));
    }
    // Odd scales: the mean of the 2x2 enlarged pixels of each sample, the last row
    // and column repeated where the size is odd.
    ScaledPosition top{scale};
    for (int cy = 0; cy * 2 < scaledHeight; ++cy) {
        ScaledPosition bottom = top;
        if (cy * 2 + 1 < scaledHeight) bottom.advance();
        const uint8_t* rows[2] = {source + size_t(top.pixel) * sourcePitch,
                                  source + size_t(bottom.pixel) * sourcePitch};
        uint8_t* u = target.planes[1] + size_t(cy) * size_t(target.pitches[1]);
        uint8_t* v = target.planes[2] + size_t(cy) * size_t(target.pitches[2]);
        ScaledPosition left{scale};
        for (int cx = 0; cx * 2 < scaledWidth; ++cx) {
            ScaledPosition right = left;
            if (cx * 2 + 1 < scaledWidth) right.advance();
            int r = 0, g = 0, b = 0;
            for (const uint8_t* row : rows) {
                for (const int x : {left.pixel, right.pixel}) {
                    const uint8_t* pixel = row + size_t(x) * 4;
                    r += pixel[0];
                    g += pixel[1];
                    b += pixel[2];
                }
            }
            u[cx] = component(1, 128, r, g, b, 2);
            v[cx] = component(2, 128, r, g, b, 2);
            left = right;
            left.advance();
        }
        top = bottom;
        top.advance();
    }
}
