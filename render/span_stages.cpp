// The stage-by-stage span: every pixel of a row through depth test, stencil
// test, colour generation, texture environment, alpha test, blending and depth
// write, in that order, each stage through its table's dispatcher.
#include <cstddef>
#include <cstring>

#include "render/fixed_point.h"
#include "render/fragment_tables.h"
#include "render/rasterizer_internal.h"

namespace {

template <bool Texturing, bool Smooth>
void generateColors(const TriangleSetup& ts, SpanBuffers& sb, uint16_t n, double invW, float dz,
                    float sOverW, float ds, float tOverW, float dt, const uint16_t* color,
                    const uint16_t* colorStep, const uint8_t* flatColor);

}  // namespace

void stagedSpanGeneral(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0,
                       float dz, float sOverW, float ds, float tOverW, float dt,
                       const uint16_t* color, const uint16_t* colorStep) {
    const uint16_t count = static_cast<uint16_t>(n);
    SpanBuffers& sb = renderContext.spans;
    if (ts.depthBase != nullptr) {
        double z = z0;
        for (int32_t i = 0; i < n; ++i) {
            sb.depth[i] = static_cast<float>(z);
            z += dz;
        }
    }
    float* depthRow = ts.depthBase != nullptr
                          ? reinterpret_cast<float*>(
                                ts.depthBase + static_cast<std::ptrdiff_t>(y) * ts.depthPitch +
                                static_cast<std::ptrdiff_t>(xl) * 4)
                          : nullptr;
    uint8_t* stencilRow =
        ts.stencilBase != nullptr
            ? ts.stencilBase + static_cast<std::ptrdiff_t>(y) * ts.stencilPitch + xl
            : nullptr;

    if (depthTestSpan(sb.depth, depthRow, sb.mask, count) != 1) return;
    if (stencilTestSpan(stencilRow, sb.mask, count) != 1) return;

    const uint8_t* flatColor = renderContext.screenVertices[2].color;
    if (ts.texturing && ts.smooth) {
        generateColors<true, true>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color, colorStep,
                                   flatColor);
    } else if (ts.texturing) {
        generateColors<true, false>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color, colorStep,
                                    flatColor);
    } else if (ts.smooth) {
        generateColors<false, true>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color, colorStep,
                                    flatColor);
    } else {
        generateColors<false, false>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color,
                                     colorStep, flatColor);
    }

    const uint8_t* fragments = combineFragments(ts, sb, count, flatColor);

    if (alphaTestSpan(fragments, sb.mask, count) != 1) return;
    if (ts.colorBase != nullptr) {
        uint8_t* colorRow = ts.colorBase + static_cast<std::ptrdiff_t>(y) * ts.colorPitch +
                            static_cast<std::ptrdiff_t>(xl) * 4;
        blendSpan(fragments, colorRow, colorRow, sb.mask, count);
    }
    depthWriteSpan(sb.depth, depthRow, sb.mask, count);
}

// The texture environment's combine stage over a span; answers where the
// fragments' colours are now (the texels, or the interpolated colours when
// nothing was combined into the texel array).
const uint8_t* combineFragments(const TriangleSetup& ts, SpanBuffers& sb, uint16_t count,
                                const uint8_t* flat) {
    const uint8_t* fragments = ts.texturing ? sb.texels : sb.colors;
    if (ts.combine) {
        if (ts.texturing && ts.smooth) {
            texEnvCombineSpan(sb.texels, sb.colors, sb.texels, sb.mask, count);
        } else if (ts.texturing) {
            texEnvCombineConstantSpan(sb.texels, flat, sb.texels, sb.mask, count);
        } else if (ts.smooth) {
            texEnvCombineConstantSpan(sb.colors, flat, sb.texels, sb.mask, count);
            fragments = sb.texels;
        }
    }
    return fragments;
}

namespace {

// Repeats texel indices into 0 .. size - 1, also for negative coordinates;
// a power-of-two size wraps with a mask.
struct TexelWrap {
    int32_t size;
    uint32_t mask;  // size - 1 for a power of two, else 0
    bool powerOfTwo;

    explicit TexelWrap(int32_t n)
        : size(n), mask(static_cast<uint32_t>(n - 1)), powerOfTwo(isPowerOfTwo(n)) {}

    uint32_t operator()(int32_t v) const {
        if (powerOfTwo) return static_cast<uint32_t>(v) & mask;
        const int32_t r = v % size;
        return static_cast<uint32_t>(r < 0 ? r + size : r);
    }
};

// Colour generation for the alive pixels of a span; the running values
// advance for every pixel. The texel is the one under the perspective-correct
// (s, t) = (s/w, t/w) x w, with 1/w accumulated in double precision.
template <bool Texturing, bool Smooth>
void generateColors(const TriangleSetup& ts, SpanBuffers& sb, uint16_t n, double invW, float dz,
                    float sOverW, float ds, float tOverW, float dt, const uint16_t* color,
                    const uint16_t* colorStep, const uint8_t* flatColor) {
    // Locals, so that the stores into the span arrays cannot make the loop reload them.
    const uint8_t* mask = sb.mask;
    [[maybe_unused]] uint8_t* texels = sb.texels;
    [[maybe_unused]] uint8_t* colors = sb.colors;
    [[maybe_unused]] const uint8_t* textureBase = ts.textureBase;
    [[maybe_unused]] const std::ptrdiff_t texturePitch = ts.texturePitch;
    [[maybe_unused]] const TexelWrap wrapS(ts.textureWidth);
    [[maybe_unused]] const TexelWrap wrapT(ts.textureHeight);
    uint16_t acc[4], step[4];
    uint8_t flat[4];
    std::memcpy(acc, color, sizeof acc);
    std::memcpy(step, colorStep, sizeof step);
    std::memcpy(flat, flatColor, 4);
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) {
            if constexpr (Texturing) {
                const double w = 1.0 / invW;
                const int32_t s = truncToInt(static_cast<double>(sOverW) * w);
                const int32_t t = truncToInt(static_cast<double>(tOverW) * w);
                // Explicit conversions: uint32_t does not fit a 32-bit ptrdiff_t (wasm32).
                const uint8_t* texel = textureBase +
                                       static_cast<std::ptrdiff_t>(wrapT(t)) * texturePitch +
                                       static_cast<std::ptrdiff_t>(wrapS(s)) * 4;
                std::memcpy(texels + i * 4, texel, 4);
            }
            if constexpr (Smooth) {
                for (int c = 0; c < 4; ++c) {
                    colors[i * 4 + c] = static_cast<uint8_t>(acc[c] >> 8);
                }
            }
            if constexpr (!Texturing && !Smooth) std::memcpy(colors + i * 4, flat, 4);
        }
        if constexpr (Texturing) {
            invW += dz;
            sOverW += ds;
            tOverW += dt;
        }
        if constexpr (Smooth) {
            for (int c = 0; c < 4; ++c) acc[c] = add16(acc[c], step[c]);
        }
    }
}

}  // namespace
