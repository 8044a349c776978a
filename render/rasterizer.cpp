// Triangle setup, the row walk over the two active edges, and drawSpan, which
// runs each row's pixels through depth test, stencil test, colour generation,
// texture environment, alpha test, blending and depth write, in that order.
#include "render/rasterizer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "render/fixed_point.h"
#include "render/fragment_tables.h"
#include "render/sgl.h"

TriangleSetup triangleSetup;
EdgeSlot edgeSlots[2];

namespace {

// Rows above the FrameBuffer are stepped one at a time like drawn rows. A
// vertex further up than this (only far off-screen or non-finite geometry
// gets there) makes the edges jump the rows in one go instead of looping
// billions of times; x and the colours still land exactly, the float values
// up to rounding.
constexpr int32_t ROW_JUMP_LIMIT = 1 << 16;

void latchSurface(const FrameBuffer* fb, uint8_t which, uint8_t*& base, int32_t& pitch) {
    const Surface* s = fb != nullptr ? fb->surface(which) : nullptr;
    base = s != nullptr ? s->pixels() : nullptr;
    pitch = base != nullptr ? s->pitch() : 0;
}

// Repeats texel indices into 0 .. size - 1, also for negative coordinates;
// a power-of-two size wraps with a mask.
struct TexelWrap {
    int32_t size;
    uint32_t mask;  // size - 1 for a power of two, else 0
    bool powerOfTwo;

    explicit TexelWrap(int32_t n)
        : size(n), mask(static_cast<uint32_t>(n - 1)), powerOfTwo(n > 0 && (n & (n - 1)) == 0) {}

    uint32_t operator()(int32_t v) const {
        if (powerOfTwo) return static_cast<uint32_t>(v) & mask;
        const int32_t r = v % size;
        return static_cast<uint32_t>(r < 0 ? r + size : r);
    }
};

uint16_t add16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a + b);
}

void stepEdge(EdgeSlot& e, bool texturing, bool smooth) {
    e.x = wrapAdd(e.x, e.xStep);
    e.invW += e.invWStep;
    if (texturing) {
        e.sOverW += e.sOverWStep;
        e.tOverW += e.tOverWStep;
    }
    if (smooth) {
        for (int c = 0; c < 4; ++c) e.colour[c] = add16(e.colour[c], e.colourStep[c]);
    }
}

// `rows` steps at once (see ROW_JUMP_LIMIT).
void jumpEdge(EdgeSlot& e, uint32_t rows, bool texturing, bool smooth) {
    e.x = static_cast<int32_t>(static_cast<uint32_t>(e.x) + rows * static_cast<uint32_t>(e.xStep));
    const float k = static_cast<float>(rows);
    e.invW += k * e.invWStep;
    if (texturing) {
        e.sOverW += k * e.sOverWStep;
        e.tOverW += k * e.tOverWStep;
    }
    if (smooth) {
        for (int c = 0; c < 4; ++c) {
            e.colour[c] = add16(e.colour[c], static_cast<uint16_t>(rows * e.colourStep[c]));
        }
    }
}

// Colour generation for the alive pixels of a span; the running values
// advance for every pixel. The texel is the one under the perspective-correct
// (s, t) = (s/w, t/w) x w, with 1/w accumulated in double precision.
template <bool Texturing, bool Smooth>
void generateColours(const TriangleSetup& ts, SpanBuffers& sb, uint16_t n, double invW, float dz,
                     float sOverW, float ds, float tOverW, float dt, const uint16_t* colour,
                     const uint16_t* colourStep, const uint8_t* flatColour) {
    // Locals, so that the stores into the span arrays cannot make the loop reload them.
    const uint8_t* mask = sb.mask;
    [[maybe_unused]] uint8_t* texels = sb.texels;
    [[maybe_unused]] uint8_t* colours = sb.colours;
    [[maybe_unused]] const uint8_t* textureBase = ts.textureBase;
    [[maybe_unused]] const std::ptrdiff_t texturePitch = ts.texturePitch;
    [[maybe_unused]] const TexelWrap wrapS(ts.textureWidth);
    [[maybe_unused]] const TexelWrap wrapT(ts.textureHeight);
    uint16_t acc[4], step[4];
    uint8_t flat[4];
    std::memcpy(acc, colour, sizeof acc);
    std::memcpy(step, colourStep, sizeof step);
    std::memcpy(flat, flatColour, 4);
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
                    colours[i * 4 + c] = static_cast<uint8_t>(acc[c] >> 8);
                }
            }
            if constexpr (!Texturing && !Smooth) std::memcpy(colours + i * 4, flat, 4);
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

void setUpEdge(EdgeSlot& edge, const ScreenVertex& p, const ScreenVertex& q, int32_t rows) {
    const TriangleSetup& ts = triangleSetup;
    edge.x = toFixed16(p.x);
    edge.xStep = divideTrunc(wrapSub(toFixed16(q.x), edge.x), rows);
    const float n = static_cast<float>(rows);
    const float pInvW = 1.0f / p.w;
    const float qInvW = 1.0f / q.w;
    edge.invW = pInvW;
    edge.invWStep = (qInvW - pInvW) / n;
    if (ts.texturing) {
        edge.sOverW = p.s * pInvW;
        edge.tOverW = p.t * pInvW;
        edge.sOverWStep = (q.s * qInvW - edge.sOverW) / n;
        edge.tOverWStep = (q.t * qInvW - edge.tOverW) / n;
    }
    if (ts.smooth) {
        for (int c = 0; c < 4; ++c) {
            const int32_t start = p.colour[c] * 256;
            edge.colour[c] = static_cast<uint16_t>(start);
            edge.colourStep[c] =
                static_cast<uint16_t>(divideTrunc(q.colour[c] * 256 - start, rows));
        }
    }
}

void halfStepEdge(EdgeSlot& edge) {
    edge.x = truncToInt(static_cast<float>(edge.x) - static_cast<float>(edge.xStep) / 2.0f);
    edge.invW -= edge.invWStep / 2.0f;
    if (triangleSetup.texturing) {
        edge.sOverW -= edge.sOverWStep / 2.0f;
        edge.tOverW -= edge.tOverWStep / 2.0f;
    }
}

void latchTriangleState() {
    TriangleSetup& ts = triangleSetup;
    const RenderContext& rc = renderContext;
    const FrameBuffer* fb = sglGetFrameBuffer();
    ts.width = fb != nullptr ? static_cast<uint16_t>(fb->width()) : 0;
    ts.height = fb != nullptr ? static_cast<uint16_t>(fb->height()) : 0;
    latchSurface(fb, SGL_COLOR_BUFFER, ts.colourBase, ts.colourPitch);
    latchSurface(fb, SGL_DEPTH_BUFFER, ts.depthBase, ts.depthPitch);
    latchSurface(fb, SGL_STENCIL_BUFFER, ts.stencilBase, ts.stencilPitch);

    // Only a 4-byte texture with pixels can be sampled; anything else is no texture.
    const Surface* texture = rc.texture;
    ts.texturing = sglIsEnabled(SGL_TEXTURE) && texture != nullptr &&
                           texture->pixels() != nullptr && texture->bytesPerPixel() == 4
                       ? 1
                       : 0;
    if (ts.texturing) {
        ts.textureBase = texture->pixels();
        ts.texturePitch = texture->pitch();
        ts.textureWidth = texture->width();
        ts.textureHeight = texture->height();
    }

    ts.smooth = sglIsEnabled(SGL_SMOOTH);
    ts.flat = !ts.texturing && !ts.smooth ? 1 : 0;
    ts.combine = sglIsEnabled(SGL_TEXTURE_ENV);
    // Without the environment a textured triangle shows its texels only.
    if (!ts.combine && ts.texturing) ts.smooth = 0;
}

void rasterizeTriangle() {
    const FrameBuffer* fb = sglGetFrameBuffer();
    if (fb == nullptr) return;

    // Sort by row; the comparisons are strict, so equal rows keep submission order.
    const ScreenVertex* v = renderContext.screenVertices;
    const ScreenVertex* top = &v[0];
    const ScreenVertex* mid = &v[1];
    const ScreenVertex* bottom = &v[2];
    if (mid->y < top->y) std::swap(top, mid);
    if (bottom->y < top->y) std::swap(top, bottom);
    if (bottom->y < mid->y) std::swap(mid, bottom);

    const int32_t height = fb->height();
    const int32_t yT = truncToInt(top->y);
    const int32_t yM = truncToInt(mid->y);
    const int32_t yB = truncToInt(bottom->y);
    if (yT >= height || yB < 0) return;
    const bool flatTop = yT == yM;
    if (flatTop && yT == yB) return;
    // Row counts wrap like the machine's subtraction for rows far apart. They
    // are 0 only when a NaN row broke the sort; such a triangle has no rows.
    const int32_t longRows = wrapSub(yB, yT);
    const int32_t shortRows = flatTop ? longRows : wrapSub(yM, yT);
    if (longRows == 0) return;
    if (flatTop && top->x > mid->x) std::swap(top, mid);

    latchTriangleState();
    TriangleSetup& ts = triangleSetup;
    const bool texturing = ts.texturing != 0;
    const bool smooth = ts.smooth != 0;
    EdgeSlot& a = edgeSlots[0];
    EdgeSlot& b = edgeSlots[1];
    if (flatTop) {
        setUpEdge(a, *top, *bottom, longRows);
        setUpEdge(b, *mid, *bottom, longRows);
        ts.aIsLeft = 1;
    } else {
        setUpEdge(a, *top, *mid, shortRows);
        setUpEdge(b, *top, *bottom, longRows);
        ts.aIsLeft = a.xStep > b.xStep ? 0 : 1;
    }
    halfStepEdge(a);
    halfStepEdge(b);
    const EdgeSlot& left = ts.aIsLeft ? a : b;
    const EdgeSlot& right = ts.aIsLeft ? b : a;

    int32_t y = yT;
    // Rows left on the long and on the short edge; they reach 0 by counting down.
    uint32_t longLeft = static_cast<uint32_t>(longRows);
    uint32_t shortLeft = static_cast<uint32_t>(shortRows);
    for (;;) {
        if (y < -ROW_JUMP_LIMIT) {
            // Jump to row 0, or to just before the next change of edge.
            uint64_t rows = static_cast<uint64_t>(-static_cast<int64_t>(y));
            rows = std::min<uint64_t>(rows, longLeft - 1u);
            if (!flatTop) rows = std::min<uint64_t>(rows, shortLeft - 1u);
            const uint32_t k = static_cast<uint32_t>(rows);
            jumpEdge(a, k, texturing, smooth);
            jumpEdge(b, k, texturing, smooth);
            y = wrapAdd(y, static_cast<int32_t>(k));
            longLeft -= k;
            shortLeft -= k;
        }
        stepEdge(a, texturing, smooth);
        stepEdge(b, texturing, smooth);
        if (y >= height) break;
        if (y >= 0) {
            drawSpan(static_cast<int16_t>(y), static_cast<int16_t>(left.x >> 16),
                     static_cast<int16_t>(right.x >> 16), left.invW, right.invW);
        }
        ++y;
        --longLeft;
        --shortLeft;
        if (longLeft == 0) break;
        if (!flatTop && shortLeft == 0) {
            // The short edge ends at M: edge A continues from M to B over the
            // remaining rows; its colours restart at M's.
            setUpEdge(a, *mid, *bottom, static_cast<int32_t>(longLeft));
            halfStepEdge(a);
            shortLeft = longLeft;
        }
    }
}

void drawSpan(int16_t y, int16_t xLeft, int16_t xRight, float invWLeft, float invWRight) {
    const TriangleSetup& ts = triangleSetup;
    const int32_t width = ts.width;
    if (xRight < 0 || xLeft >= width || xLeft >= xRight) return;
    int32_t xl = xLeft;
    int32_t n = xRight - xLeft;

    // Steps over the unclipped span.
    const EdgeSlot& left = ts.aIsLeft ? edgeSlots[0] : edgeSlots[1];
    const EdgeSlot& right = ts.aIsLeft ? edgeSlots[1] : edgeSlots[0];
    const float length = static_cast<float>(n);
    const float dz = (invWRight - invWLeft) / length;
    float zl = invWLeft;
    float ds = 0.0f, dt = 0.0f, sOverW = 0.0f, tOverW = 0.0f;
    if (ts.texturing) {
        ds = (right.sOverW - left.sOverW) / length;
        dt = (right.tOverW - left.tOverW) / length;
        sOverW = left.sOverW + ds / 2.0f;
        tOverW = left.tOverW + dt / 2.0f;
    }
    uint16_t colour[4] = {};
    uint16_t colourStep[4] = {};
    if (ts.smooth) {
        for (int c = 0; c < 4; ++c) {
            colourStep[c] = static_cast<uint16_t>(
                divideTrunc(int32_t{right.colour[c]} - int32_t{left.colour[c]}, n));
            colour[c] = left.colour[c];
        }
    }

    // Clip to the FrameBuffer; pixel 0 gets what the unclipped span gives it.
    if (xl < 0) {
        const float skipped = static_cast<float>(xl);
        zl = zl - skipped * dz;
        sOverW = sOverW - skipped * ds;
        tOverW = tOverW - skipped * dt;
        for (int c = 0; c < 4; ++c) {
            colour[c] =
                static_cast<uint16_t>(colour[c] - static_cast<uint32_t>(xl) * colourStep[c]);
        }
        n += xl;
        xl = 0;
    }
    if (xRight >= width) n = n + width - xRight;
    if (n <= 0) return;
    const uint16_t count = static_cast<uint16_t>(n);

    SpanBuffers& sb = renderContext.spans;
    const float z0 = zl + dz / 2.0f;
    if (ts.depthBase != nullptr) {
        double z = z0;
        for (int32_t i = 0; i < n; ++i) {
            sb.depth[i] = static_cast<float>(z);
            z += dz;
        }
    }
    float* depthRow =
        ts.depthBase != nullptr
            ? reinterpret_cast<float*>(ts.depthBase + std::ptrdiff_t{y} * ts.depthPitch +
                                       std::ptrdiff_t{xl} * 4)
            : nullptr;
    uint8_t* stencilRow = ts.stencilBase != nullptr
                              ? ts.stencilBase + std::ptrdiff_t{y} * ts.stencilPitch + xl
                              : nullptr;

    if (depthTestSpan(sb.depth, depthRow, sb.mask, count) != 1) return;
    if (stencilTestSpan(stencilRow, sb.mask, count) != 1) return;

    const uint8_t* flatColour = renderContext.screenVertices[2].colour;
    if (ts.texturing && ts.smooth) {
        generateColours<true, true>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, colour,
                                    colourStep, flatColour);
    } else if (ts.texturing) {
        generateColours<true, false>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, colour,
                                     colourStep, flatColour);
    } else if (ts.smooth) {
        generateColours<false, true>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, colour,
                                     colourStep, flatColour);
    } else {
        generateColours<false, false>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, colour,
                                      colourStep, flatColour);
    }

    const uint8_t* fragments = ts.texturing ? sb.texels : sb.colours;
    if (ts.combine) {
        if (ts.texturing && ts.smooth) {
            texEnvCombineSpan(sb.texels, sb.colours, sb.texels, sb.mask, count);
        } else if (ts.texturing) {
            texEnvCombineConstantSpan(sb.texels, flatColour, sb.texels, sb.mask, count);
        } else if (ts.smooth) {
            texEnvCombineConstantSpan(sb.colours, flatColour, sb.texels, sb.mask, count);
            fragments = sb.texels;
        }
    }

    if (alphaTestSpan(fragments, sb.mask, count) != 1) return;
    if (ts.colourBase != nullptr) {
        uint8_t* colourRow =
            ts.colourBase + std::ptrdiff_t{y} * ts.colourPitch + std::ptrdiff_t{xl} * 4;
        blendSpan(fragments, colourRow, colourRow, sb.mask, count);
    }
    depthWriteSpan(sb.depth, depthRow, sb.mask, count);
}
