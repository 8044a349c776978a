// Build-time generator of the scenes' textures: plasma, hex, checker, cloud,
// crackle and glow. Everything is computed from seeded integer hashes with plain
// double arithmetic (+, -, *, /, sqrt only), so the bytes are the same on every
// machine. Writes the C++ arrays and a PNG preview of each image.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/images.h"
#include "tools/asset_output.h"

namespace {

using Image = AssetImage;

uint8_t toByte(double v) {
    return uint8_t(std::clamp(v, 0.0, 255.0) + 0.5);
}

// Integer hash of a lattice point, uniform over 32 bits.
uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = seed * 0x9E3779B9u ^ x * 0x85EBCA6Bu ^ y * 0xC2B2AE35u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

double unit(uint32_t h) {
    return double(h) / 4294967296.0;
}

int wrap(int i, int period) {
    return ((i % period) + period) % period;
}

double smooth(double t) {
    return t * t * (3.0 - 2.0 * t);
}

// Value noise in [0, 1) on a lattice of `period` cells per tile; x and y are in
// tiles, so the noise repeats with period 1 in both.
double valueNoise(double x, double y, int period, uint32_t seed) {
    const double fx = x * period, fy = y * period;
    const double cx = std::floor(fx), cy = std::floor(fy);
    const int ix = int(cx), iy = int(cy);
    const double tx = smooth(fx - cx), ty = smooth(fy - cy);
    auto at = [&](int i, int j) {
        return unit(hash(uint32_t(wrap(ix + i, period)), uint32_t(wrap(iy + j, period)), seed));
    };
    const double top = at(0, 0) + (at(1, 0) - at(0, 0)) * tx;
    const double bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * tx;
    return top + (bottom - top) * ty;
}

// Sum of octaves of tileable value noise, each of twice the lattice and half the
// weight of the one before; normalised to [0, 1).
double fbm(double x, double y, int period, int octaves, uint32_t seed) {
    double sum = 0.0, weight = 1.0, total = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * valueNoise(x, y, period << o, seed + uint32_t(o) * 101u);
        total += weight;
        weight *= 0.5;
    }
    return sum / total;
}

// Maps every value of `field` linearly onto [0, 1].
void normalise(std::vector<double>& field) {
    const auto [lo, hi] = std::minmax_element(field.begin(), field.end());
    const double low = *lo, range = *hi - *lo;
    for (double& v : field) v = (v - low) / range;
}

// Yellow plasma: a domain-warped noise cut into bands; each band is brightest in
// its middle and falls to a thin black line where it meets the next. Tiles in
// both directions, so the seam round the sphere does not show.
Image makePlasma() {
    constexpr int SIZE = PLASMA_IMAGE_WIDTH;
    constexpr double BANDS = 9.0;
    constexpr int SUB = 3;  // supersampling per axis
    Image image(SIZE, SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            double red = 0.0, green = 0.0;
            for (int sy = 0; sy < SUB; ++sy)
                for (int sx = 0; sx < SUB; ++sx) {
                    const double u = (x + (sx + 0.5) / SUB) / SIZE,
                                 v = (y + (sy + 0.5) / SUB) / SIZE;
                    const double wu = u + 0.45 * (fbm(u, v, 3, 3, 11) - 0.5);
                    const double wv = v + 0.45 * (fbm(u, v, 3, 3, 12) - 0.5);
                    const double f = fbm(wu, wv, 2, 4, 13);
                    const double band = f * BANDS * 2.0;
                    const double frac = band - std::floor(band);
                    const double edge =
                        std::fabs(2.0 * frac - 1.0);  // 0 mid-band, 1 at the contour
                    const double line = smooth(std::min((1.0 - edge) / 0.1, 1.0));
                    const double b = (0.5 + 0.5 * (1.0 - edge * edge)) * line;
                    red += 223.0 * b;
                    green += 218.0 * b * (0.82 + 0.18 * b);
                }
            image.set(x, y, toByte(red / (SUB * SUB)), toByte(green / (SUB * SUB)), 0, 0);
        }
    return image;
}

// Flat-topped hexagons, two columns and two rows per tile: centres 64 pixels
// apart both ways, corners 128/3 pixels from the centre, flats 32. Each pixel
// takes the hexagon it lies deepest in; its distance from the nearest side gives
// the black joint, the bevelled rim (lit from the top left) and the flat face.
Image makeHex() {
    constexpr int SIZE = HEX_IMAGE_WIDTH;
    constexpr double A = 128.0 / 3.0, B = 32.0;
    constexpr double JOINT = 2.0, RIM = 7.0;
    constexpr int SUB = 4;
    const double slant = std::sqrt(B * B + A * A / 4.0);
    const double lightX = -std::sqrt(0.5), lightY = -std::sqrt(0.5);
    const double brightest = (B + A / 2.0) * std::sqrt(0.5) / slant;  // the upper-left sides
    Image image(SIZE, SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            double red = 0.0, blue = 0.0;
            for (int sy = 0; sy < SUB; ++sy)
                for (int sx = 0; sx < SUB; ++sx) {
                    const double px = x + (sx + 0.5) / SUB, py = y + (sy + 0.5) / SUB;
                    double depth = -1e9, nx = 0.0, ny = 0.0;
                    for (int c = -1; c <= 2; ++c)
                        for (int r = -1; r <= 2; ++r) {
                            const double dx = px - 64.0 * c,
                                         dy = py - (64.0 * r + ((c & 1) ? 32.0 : 0.0));
                            const double ax = std::fabs(dx), ay = std::fabs(dy);
                            const double flat = B - ay;
                            const double side = ((A - ax) * B - ay * A / 2.0) / slant;
                            if (std::min(flat, side) <= depth) continue;
                            depth = std::min(flat, side);
                            const double sxn = dx < 0 ? -1.0 : 1.0, syn = dy < 0 ? -1.0 : 1.0;
                            if (flat <= side)
                                nx = 0.0, ny = syn;
                            else
                                nx = sxn * B / slant, ny = syn * A / 2.0 / slant;
                        }
                    double b, r;
                    if (depth < JOINT) {
                        b = 0.0, r = 0.0;
                    } else if (depth < JOINT + RIM) {
                        const double light = 0.5 + 0.5 * (nx * lightX + ny * lightY) / brightest;
                        b = 50.0 + 181.0 * std::clamp(light, 0.0, 1.0);
                        r = b * 24.0 / 137.0;
                    } else {
                        b = 137.0, r = 24.0;
                    }
                    red += r, blue += b;
                }
            image.set(x, y, toByte(red / (SUB * SUB)), 0, toByte(blue / (SUB * SUB)), 0);
        }
    return image;
}

// 4x4 squares of 32 pixels; the squares with even row + column are blue with a
// bright bevel along their first row and column and a shadow along their last two.
Image makeChecker() {
    constexpr int SIZE = CHECKER_IMAGE_WIDTH, SQUARE = CHECKER_SQUARE_SIZE;
    Image image(SIZE, SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            if ((x / SQUARE + y / SQUARE) % 2 != 0) continue;  // black, as made
            const int lx = x % SQUARE, ly = y % SQUARE;
            const int far = std::max(lx, ly);  // the shadow is the last two rows and columns
            uint8_t blue;
            if (lx == 0 || ly == 0)
                blue = 231;
            else if (far == SQUARE - 1)
                blue = 80;
            else if (far == SQUARE - 2)
                blue = 98;
            else
                blue =
                    uint8_t(126 + (lx + ly) * 5 /
                                      (2 * (SQUARE - 3)));  // 126..131, lighter to the bottom right
            image.set(x, y, 0, 0, blue, 0);
        }
    return image;
}

// Soft red clouds: billowing noise, darkened where a second noise runs high.
// Red spans exactly 47..225 and alpha 221..255, more opaque where brighter.
Image makeCloud() {
    constexpr int SIZE = CLOUD_IMAGE_WIDTH;
    std::vector<double> red(SIZE * SIZE), alpha(SIZE * SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            const double u = (x + 0.5) / SIZE, v = (y + 0.5) / SIZE;
            const double cloud = fbm(u, v, 4, 4, 21);
            const double smudge = std::max(0.0, fbm(u, v, 3, 3, 22) - 0.55) / 0.45;
            red[size_t(y * SIZE + x)] = cloud * cloud * (1.0 - 0.7 * smudge);
            alpha[size_t(y * SIZE + x)] = cloud;
        }
    normalise(red);
    normalise(alpha);
    Image image(SIZE, SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x)
            image.set(x, y, toByte(47.0 + 178.0 * red[size_t(y * SIZE + x)]), 0, 0,
                      toByte(221.0 + 34.0 * alpha[size_t(y * SIZE + x)]));
    return image;
}

// Distances to the nearest and second nearest feature point of a tileable grid of
// `cells` x `cells` cells with one jittered point each; x and y in tiles.
void worley(double x, double y, int cells, uint32_t seed, double& f1, double& f2) {
    f1 = f2 = 1e9;
    const int cx = int(std::floor(x * cells)), cy = int(std::floor(y * cells));
    for (int j = -2; j <= 2; ++j)
        for (int i = -2; i <= 2; ++i) {
            const uint32_t h =
                hash(uint32_t(wrap(cx + i, cells)), uint32_t(wrap(cy + j, cells)), seed);
            const double fx = (cx + i + 0.1 + 0.8 * unit(h)) / cells;
            const double fy = (cy + j + 0.1 + 0.8 * unit(hash(h, 7, seed))) / cells;
            const double d = std::sqrt((fx - x) * (fx - x) + (fy - y) * (fy - y)) * cells;
            if (d < f1)
                f2 = f1, f1 = d;
            else if (d < f2)
                f2 = d;
        }
}

// Grey stone: noisy cells, darker towards their middles, split by bright veins
// along the cell borders (F2 - F1 small) and finer branches from a second grid.
Image makeCrackle() {
    constexpr int SIZE = CRACKLE_IMAGE_WIDTH;
    std::vector<double> grey(SIZE * SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            const double u = (x + 0.5) / SIZE, v = (y + 0.5) / SIZE;
            const double wu = u + 0.06 * (fbm(u, v, 4, 3, 31) - 0.5);
            const double wv = v + 0.06 * (fbm(u, v, 4, 3, 32) - 0.5);
            double a1, a2, b1, b2;
            worley(wu, wv, 5, 33, a1, a2);
            worley(wu, wv, 11, 34, b1, b2);
            const double wide = (a2 - a1) / 0.06, fine = (b2 - b1) / 0.09;
            const double vein = 1.0 / (1.0 + wide * wide) + 0.35 / (1.0 + fine * fine);
            const double stone = 0.3 + 0.45 * fbm(u, v, 8, 4, 35) - 0.25 * std::min(a1, 1.0);
            grey[size_t(y * SIZE + x)] = stone + 0.6 * vein;
        }
    normalise(grey);
    Image image(SIZE, SIZE);
    for (int y = 0; y < SIZE; ++y)
        for (int x = 0; x < SIZE; ++x) {
            const uint8_t g = toByte(2.0 + 253.0 * grey[size_t(y * SIZE + x)]);
            image.set(x, y, g, g, g, 0);
        }
    return image;
}

// Radial glow: a monotone cubic through the given profile values, so that it
// passes exactly through them and falls smoothly in between; 0 from 31 on.
double glowProfile(double d) {
    static const double X[] = {0, 1, 10, 14, 20, 30, 31};
    static const double Y[] = {128, 126, 89, 70, 44, 2, 0};
    constexpr int N = 7;
    if (d >= X[N - 1]) return 0.0;
    double slope[N - 1], tangent[N];
    for (int k = 0; k < N - 1; ++k) slope[k] = (Y[k + 1] - Y[k]) / (X[k + 1] - X[k]);
    tangent[0] = 0.0;  // a round top
    tangent[N - 1] = 0.0;
    for (int k = 1; k < N - 1; ++k) {  // weighted harmonic mean keeps the curve monotone
        const double h0 = X[k] - X[k - 1], h1 = X[k + 1] - X[k];
        tangent[k] =
            3.0 * (h0 + h1) / ((2.0 * h1 + h0) / slope[k - 1] + (h1 + 2.0 * h0) / slope[k]);
    }
    int k = 0;
    while (d > X[k + 1]) ++k;
    const double h = X[k + 1] - X[k], t = (d - X[k]) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * Y[k] + (t3 - 2 * t2 + t) * h * tangent[k] +
           (-2 * t3 + 3 * t2) * Y[k + 1] + (t3 - t2) * h * tangent[k + 1];
}

Image makeGlow() {
    Image image(GLOW_IMAGE_WIDTH, GLOW_IMAGE_HEIGHT);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const double dx = x - GLOW_IMAGE_CENTRE, dy = y - GLOW_IMAGE_CENTRE;
            const uint8_t v = toByte(glowProfile(std::sqrt(dx * dx + dy * dy)));
            image.set(x, y, v, v, v, v);
        }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scene_images OUTPUT.cpp PREVIEW_DIR\n");
        return 1;
    }
    const std::string previewDir = argv[2];
    struct Named {
        const char* array;
        const char* preview;
        Image image;
    };
    const Named images[] = {
        {"plasmaImage", "plasma", makePlasma()},    {"hexImage", "hex", makeHex()},
        {"checkerImage", "checker", makeChecker()}, {"cloudImage", "cloud", makeCloud()},
        {"crackleImage", "crackle", makeCrackle()}, {"glowImageData", "glow", makeGlow()},
    };
    ArraySourceWriter source({"data/images.h"});
    for (const Named& n : images) {
        source.add(n.array, n.image.rgba);
        // Alpha is not coverage in these images (0 in most), so the previews are opaque.
        writePreview(previewDir, n.preview, n.image.width, n.image.height,
                     opaqueCopy(n.image.rgba));
    }
    if (!source.write(argv[1])) {
        std::fprintf(stderr, "scene_images: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
