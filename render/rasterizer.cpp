// Triangle set-up and edge walk: the vertices sorted by row, the two active
// edges stepped in 16.16 fixed point, and each row's span set up and handed to
// the span loop the triangle's state chose (fused_spans.cpp, span_stages.cpp).
#include "render/rasterizer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "render/fixed_point.h"
#include "render/lanes.h"
#include "render/rasterizer_internal.h"
#include "render/sgl.h"

TriangleSetup triangleSetup;
EdgeSlot edgeSlots[2];
uint8_t fusedSpansAllowed = 1;

namespace {

// Rows above the FrameBuffer are stepped one at a time like drawn rows. A
// vertex further up than this (only far off-screen or non-finite geometry
// gets there) makes the edges jump the rows in one go instead of looping
// billions of times; x and the colours still land exactly, the float values
// up to rounding.
constexpr int32_t ROW_JUMP_LIMIT = 1 << 16;

void latchTriangleStateAgainIfChanged();
template <bool Texturing, bool Smooth>
[[gnu::always_inline]] inline void setUpEdgeFrom(EdgeSlot& edge, const ScreenVertex& p,
                                                 const ScreenVertex& q, int32_t rows, float pInvW,
                                                 float qInvW);
template <bool Texturing>
[[gnu::always_inline]] inline void halfStep(EdgeSlot& edge);
template <bool Texturing, bool Smooth>
[[gnu::always_inline]] inline void stepEdge(EdgeSlot& e);
void jumpEdge(EdgeSlot& e, uint32_t rows, bool texturing, bool smooth);
template <bool Texturing, bool Smooth>
[[gnu::always_inline]] inline void drawSpanBetween(const TriangleSetup& ts, const EdgeSlot& left,
                                                   const EdgeSlot& right, int16_t y, int16_t xLeft,
                                                   int16_t xRight, float invWLeft, float invWRight);

// The vertices sorted by row, with their first rows and row counts.
struct SortedTriangle {
    const ScreenVertex* top;
    const ScreenVertex* mid;
    const ScreenVertex* bottom;
    int32_t height;
    int32_t yT;
    int32_t longRows;
    int32_t shortRows;
    bool flatTop;
};
template <bool Texturing, bool Smooth>
void walkTriangle(const SortedTriangle& sorted);

// Calls f.operator()<Texturing, Smooth>() with ts's switches as constants: the
// edge and span code is compiled once for each combination, so the rows test
// neither.
template <typename F>
[[gnu::always_inline]] inline void withSwitches(const TriangleSetup& ts, F&& f) {
    if (ts.texturing) {
        if (ts.smooth) {
            f.template operator()<true, true>();
        } else {
            f.template operator()<true, false>();
        }
    } else if (ts.smooth) {
        f.template operator()<false, true>();
    } else {
        f.template operator()<false, false>();
    }
}

}  // namespace

void rasterizeTriangle() {
    const FrameBuffer* fb = boundFrameBuffer();
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

    latchTriangleStateAgainIfChanged();
    const SortedTriangle sorted{top, mid, bottom, height, yT, longRows, shortRows, flatTop};
    withSwitches(triangleSetup,
                 [&]<bool Texturing, bool Smooth>() { walkTriangle<Texturing, Smooth>(sorted); });
}

namespace {

template <bool Texturing, bool Smooth>
void walkTriangle(const SortedTriangle& sorted) {
    const ScreenVertex* top = sorted.top;
    const ScreenVertex* mid = sorted.mid;
    const ScreenVertex* bottom = sorted.bottom;
    const int32_t height = sorted.height;
    const int32_t yT = sorted.yT;
    const int32_t longRows = sorted.longRows;
    const int32_t shortRows = sorted.shortRows;
    const bool flatTop = sorted.flatTop;
    TriangleSetup& ts = triangleSetup;
    constexpr bool texturing = Texturing;
    constexpr bool smooth = Smooth;
    // The edges live in locals while the rows are walked and are left in
    // edgeSlots at the end, as drawSpan reads them.
    EdgeSlot a;
    EdgeSlot b;
    struct KeepEdges {
        const EdgeSlot& a;
        const EdgeSlot& b;
        ~KeepEdges() {
            edgeSlots[0] = a;
            edgeSlots[1] = b;
        }
    } keepEdges{a, b};
    // 1/w of the three vertices, each divided once for all the edges.
    const Quotients invW = divide4(1.0f, 1.0f, 1.0f, 1.0f, top->w, mid->w, bottom->w, 1.0f);
    const float topInvW = invW.v[0];
    const float midInvW = invW.v[1];
    const float bottomInvW = invW.v[2];
    if (flatTop) {
        setUpEdgeFrom<Texturing, Smooth>(a, *top, *bottom, longRows, topInvW, bottomInvW);
        setUpEdgeFrom<Texturing, Smooth>(b, *mid, *bottom, longRows, midInvW, bottomInvW);
        ts.aIsLeft = 1;
    } else {
        setUpEdgeFrom<Texturing, Smooth>(a, *top, *mid, shortRows, topInvW, midInvW);
        setUpEdgeFrom<Texturing, Smooth>(b, *top, *bottom, longRows, topInvW, bottomInvW);
        ts.aIsLeft = a.xStep > b.xStep ? 0 : 1;
    }
    halfStep<Texturing>(a);
    halfStep<Texturing>(b);
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
        stepEdge<Texturing, Smooth>(a);
        stepEdge<Texturing, Smooth>(b);
        if (y >= height) break;
        if (y >= 0) {
            drawSpanBetween<Texturing, Smooth>(
                ts, left, right, static_cast<int16_t>(y), static_cast<int16_t>(left.x >> 16),
                static_cast<int16_t>(right.x >> 16), left.invW, right.invW);
        }
        ++y;
        --longLeft;
        --shortLeft;
        if (longLeft == 0) break;
        if (!flatTop && shortLeft == 0) {
            // The short edge ends at M: edge A continues from M to B over the
            // remaining rows; its colours restart at M's.
            setUpEdgeFrom<Texturing, Smooth>(a, *mid, *bottom, static_cast<int32_t>(longLeft),
                                             midInvW, bottomInvW);
            halfStep<Texturing>(a);
            shortLeft = longLeft;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Edges.

namespace {
// divideTrunc for a numerator below 2^16 in magnitude, through a double
// division: the quotient's distance to the next integer away from zero is at
// least 1/|divisor|, far more than the division's rounding error, so the
// truncated double is the integer quotient.
inline int32_t divideSmall(int32_t numerator, int32_t divisor) {
    return static_cast<int32_t>(static_cast<double>(numerator) / static_cast<double>(divisor));
}

// Four colour steps divideTrunc(num[c], divisor) for numerators below 2^16 in
// magnitude and a nonzero divisor. While the divisor is exact in a float, a
// float division does: its rounding error, under 2^-24 of a quotient below
// 2^16, stays under 1/|divisor|, the least distance from a fractional quotient
// to the next integer away from zero, so truncation gives the integer
// quotient. Larger divisors take double divisions (see divideSmall).
inline void divideColorSteps(Ints4 num, int32_t divisor, uint16_t out[4]) {
    if (divisor > -(1 << 24) && divisor < (1 << 24)) {
        const Floats4 q = intsToFloats(num) / splatFloat(static_cast<float>(divisor));
        storeLowWords(truncateToInts(q), out);
    } else {
        alignas(16) int32_t n[4];
        storeInts4(n, num);
        for (int c = 0; c < 4; ++c) out[c] = static_cast<uint16_t>(divideSmall(n[c], divisor));
    }
}

// setUpEdge with 1/p.w and 1/q.w given.
template <bool Texturing, bool Smooth>
[[gnu::always_inline]] inline void setUpEdgeFrom(EdgeSlot& edge, const ScreenVertex& p,
                                                 const ScreenVertex& q, int32_t rows, float pInvW,
                                                 float qInvW) {
    edge.x = toFixed16(p.x);
    edge.xStep = divideTrunc(wrapSub(toFixed16(q.x), edge.x), rows);
    const float n = static_cast<float>(rows);
    edge.invW = pInvW;
    if constexpr (Texturing) {
        edge.sOverW = p.s * pInvW;
        edge.tOverW = p.t * pInvW;
        const Quotients steps = divide4(qInvW - pInvW, q.s * qInvW - edge.sOverW,
                                        q.t * qInvW - edge.tOverW, 0.0f, n, n, n, 1.0f);
        edge.invWStep = steps.v[0];
        edge.sOverWStep = steps.v[1];
        edge.tOverWStep = steps.v[2];
    } else {
        edge.invWStep = (qInvW - pInvW) / n;
    }
    if constexpr (Smooth) {
        const Ints4 start = shiftLeftInts8(bytesAsInts(p.color));
        storeLowWords(start, edge.color);
        divideColorSteps(subtractInts(shiftLeftInts8(bytesAsInts(q.color)), start), rows,
                         edge.colorStep);
    }
}

template <bool Texturing>
[[gnu::always_inline]] inline void halfStep(EdgeSlot& edge) {
    edge.x = truncToInt(static_cast<float>(edge.x) - static_cast<float>(edge.xStep) / 2.0f);
    edge.invW -= edge.invWStep / 2.0f;
    if constexpr (Texturing) {
        edge.sOverW -= edge.sOverWStep / 2.0f;
        edge.tOverW -= edge.tOverWStep / 2.0f;
    }
}

template <bool Texturing, bool Smooth>
[[gnu::always_inline]] inline void stepEdge(EdgeSlot& e) {
    e.x = wrapAdd(e.x, e.xStep);
    e.invW += e.invWStep;
    if constexpr (Texturing) {
        e.sOverW += e.sOverWStep;
        e.tOverW += e.tOverWStep;
    }
    if constexpr (Smooth) {
        for (int c = 0; c < 4; ++c) e.color[c] = add16(e.color[c], e.colorStep[c]);
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
            e.color[c] = add16(e.color[c], static_cast<uint16_t>(rows * e.colorStep[c]));
        }
    }
}

}  // namespace

void setUpEdge(EdgeSlot& edge, const ScreenVertex& p, const ScreenVertex& q, int32_t rows) {
    const Quotients reciprocals = divide4(1.0f, 1.0f, 1.0f, 1.0f, p.w, q.w, 1.0f, 1.0f);
    const float pInvW = reciprocals.v[0];
    const float qInvW = reciprocals.v[1];
    withSwitches(triangleSetup, [&]<bool Texturing, bool Smooth>() {
        setUpEdgeFrom<Texturing, Smooth>(edge, p, q, rows, pInvW, qInvW);
    });
}

void halfStepEdge(EdgeSlot& edge) {
    if (triangleSetup.texturing) {
        halfStep<true>(edge);
    } else {
        halfStep<false>(edge);
    }
}

// ---------------------------------------------------------------------------
// Spans: the steps over the unclipped span, the clipping, and the loop.

namespace {

// drawSpan with its left and right edges given.
template <bool Texturing, bool Smooth>
[[gnu::always_inline]] inline void drawSpanBetween(const TriangleSetup& ts, const EdgeSlot& left,
                                                   const EdgeSlot& right, int16_t y, int16_t xLeft,
                                                   int16_t xRight, float invWLeft,
                                                   float invWRight) {
    const int32_t width = ts.width;
    if (xRight < 0 || xLeft >= width || xLeft >= xRight) return;
    int32_t xl = xLeft;
    int32_t n = xRight - xLeft;

    // Steps over the unclipped span.
    const float length = static_cast<float>(n);
    float dz;
    float ds = 0.0f, dt = 0.0f, sOverW = 0.0f, tOverW = 0.0f;
    if constexpr (Texturing) {
        const Quotients steps =
            divide4(invWRight - invWLeft, right.sOverW - left.sOverW, right.tOverW - left.tOverW,
                    0.0f, length, length, length, 1.0f);
        dz = steps.v[0];
        ds = steps.v[1];
        dt = steps.v[2];
        sOverW = left.sOverW + ds / 2.0f;
        tOverW = left.tOverW + dt / 2.0f;
    } else {
        dz = (invWRight - invWLeft) / length;
    }
    float zl = invWLeft;
    uint16_t color[4] = {};
    uint16_t colorStep[4] = {};
    if constexpr (Smooth) {
        std::memcpy(color, left.color, sizeof color);
        divideColorSteps(subtractInts(wordsAsInts(right.color), wordsAsInts(left.color)), n,
                         colorStep);
    }

    // Clip to the FrameBuffer; pixel 0 gets what the unclipped span gives it.
    if (xl < 0) {
        const float skipped = static_cast<float>(xl);
        zl = zl - skipped * dz;
        sOverW = sOverW - skipped * ds;
        tOverW = tOverW - skipped * dt;
        for (int c = 0; c < 4; ++c) {
            color[c] = static_cast<uint16_t>(color[c] - static_cast<uint32_t>(xl) * colorStep[c]);
        }
        n += xl;
        xl = 0;
    }
    if (xRight >= width) n = n + width - xRight;
    if (n <= 0) return;
    const FusedSpanLoop loop = ts.fused ? ts.fusedLoop : stagedSpanGeneral;
    loop(ts, y, xl, n, zl + dz / 2.0f, dz, sOverW, ds, tOverW, dt, color, colorStep);
}

}  // namespace

void drawSpan(int16_t y, int16_t xLeft, int16_t xRight, float invWLeft, float invWRight) {
    const TriangleSetup& ts = triangleSetup;
    const EdgeSlot& left = ts.aIsLeft ? edgeSlots[0] : edgeSlots[1];
    const EdgeSlot& right = ts.aIsLeft ? edgeSlots[1] : edgeSlots[0];
    withSwitches(ts, [&]<bool Texturing, bool Smooth>() {
        drawSpanBetween<Texturing, Smooth>(ts, left, right, y, xLeft, xRight, invWLeft, invWRight);
    });
}

// ---------------------------------------------------------------------------
// The state a triangle draws with.

namespace {

void latchSurface(const FrameBuffer* fb, uint8_t which, uint8_t*& base, int32_t& pitch) {
    const Surface* s = fb != nullptr ? fb->surface(which) : nullptr;
    base = s != nullptr ? s->pixels() : nullptr;
    pitch = base != nullptr ? s->pitch() : 0;
}

}  // namespace

void latchTriangleState() {
    TriangleSetup& ts = triangleSetup;
    const RenderContext& rc = renderContext;
    const FrameBuffer* fb = rc.initialised ? rc.frameBuffer : nullptr;
    ts.width = fb != nullptr ? static_cast<uint16_t>(fb->width()) : 0;
    ts.height = fb != nullptr ? static_cast<uint16_t>(fb->height()) : 0;
    latchSurface(fb, SGL_COLOR_BUFFER, ts.colorBase, ts.colorPitch);
    latchSurface(fb, SGL_DEPTH_BUFFER, ts.depthBase, ts.depthPitch);
    latchSurface(fb, SGL_STENCIL_BUFFER, ts.stencilBase, ts.stencilPitch);

    // Only a 4-byte texture with pixels can be sampled; anything else is no
    // texture. While texturing is off the bound one is not looked at: it may be
    // gone already.
    const Surface* texture = rc.enables[SGL_TEXTURE] != 0 ? rc.texture : nullptr;
    const uint8_t* texturePixels = texture != nullptr ? texture->pixels() : nullptr;
    const bool texturing =
        rc.enables[SGL_TEXTURE] != 0 && texturePixels != nullptr && texture->bytesPerPixel() == 4;
    if (texturing) {
        ts.textureBase = texturePixels;
        ts.texturePitch = texture->pitch();
        ts.textureWidth = texture->width();
        ts.textureHeight = texture->height();
    }
    const bool combine = rc.enables[SGL_TEXTURE_ENV] != 0;
    const bool smoothEnabled = rc.enables[SGL_SMOOTH] != 0;
    ts.texturing = texturing ? 1 : 0;
    ts.flat = !texturing && !smoothEnabled ? 1 : 0;
    ts.combine = combine ? 1 : 0;
    // Without the environment a textured triangle shows its texels only.
    ts.smooth = smoothEnabled && (combine || !texturing) ? 1 : 0;
    latchFusedSpans(ts, rc);
}

namespace {

// Everything latchTriangleState reads, compared before each triangle: while it
// stays the same, so does the latched setup, and the triangle takes a copy of
// it instead of latching again (most triangles follow others in one state).
// The comparison reads the state where it lives, field by field, rather than
// gathering a copy first: loading such a copy back whole waits for its stores.
struct LatchInputs {
    const FrameBuffer* frameBuffer = nullptr;
    const Surface* texture = nullptr;
    uint32_t surfaceGeneration = 0;
    uint32_t tablesGeneration = 0;
    uint8_t enables[8] = {};
    uint8_t initialised = 0;
    uint8_t fusedAllowed = 0;
    uint8_t alphaFunc = 0;
    uint8_t texEnvMode = 0;
    uint8_t depthFunc = 0;
    uint8_t depthWrite = 0;
    uint8_t blendSrc = 0;
    uint8_t blendDst = 0;
    uint8_t built[4] = {};
};

LatchInputs currentLatchInputs() {
    const RenderContext& rc = renderContext;
    const FragmentTables& t = rc.tables;
    LatchInputs in;
    in.frameBuffer = rc.frameBuffer;
    in.texture = rc.texture;
    in.surfaceGeneration = surfaceLayoutGeneration();
    in.tablesGeneration = t.generation;
    std::memcpy(in.enables, rc.enables, sizeof in.enables);
    in.initialised = rc.initialised;
    in.fusedAllowed = fusedSpansAllowed;
    in.alphaFunc = rc.alphaFunc;
    in.texEnvMode = rc.texEnvMode;
    in.depthFunc = rc.depthFunc;
    in.depthWrite = rc.depthWrite;
    in.blendSrc = rc.blendSrc;
    in.blendDst = rc.blendDst;
    in.built[0] = t.depth.built;
    in.built[1] = t.stencil.built;
    in.built[2] = t.alpha.built;
    in.built[3] = t.blend.built;
    return in;
}

bool matchesCurrentState(const LatchInputs& in) {
    const RenderContext& rc = renderContext;
    const FragmentTables& t = rc.tables;
    return in.frameBuffer == rc.frameBuffer && in.texture == rc.texture &&
           in.tablesGeneration == t.generation &&
           std::memcmp(in.enables, rc.enables, sizeof in.enables) == 0 &&
           in.initialised == rc.initialised && in.fusedAllowed == fusedSpansAllowed &&
           in.alphaFunc == rc.alphaFunc && in.texEnvMode == rc.texEnvMode &&
           in.depthFunc == rc.depthFunc && in.depthWrite == rc.depthWrite &&
           in.blendSrc == rc.blendSrc && in.blendDst == rc.blendDst &&
           in.built[0] == t.depth.built && in.built[1] == t.stencil.built &&
           in.built[2] == t.alpha.built && in.built[3] == t.blend.built &&
           in.surfaceGeneration == surfaceLayoutGeneration();
}

LatchInputs latchedInputs;
TriangleSetup latchedSetup;
bool latchedValid = false;

void latchTriangleStateAgainIfChanged() {
    if (latchedValid && matchesCurrentState(latchedInputs)) {
        triangleSetup = latchedSetup;
        return;
    }
    const LatchInputs in = currentLatchInputs();
    latchTriangleState();
    latchedInputs = in;
    latchedSetup = triangleSetup;
    latchedValid = true;
}

}  // namespace
