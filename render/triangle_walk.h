// The triangle's edge walk: its edges set up and stepped row by row in 16.16
// fixed point, each row's span set up and drawn. Included by the rasterizer,
// which walks with the latched span loop, and by the fused loops, which build
// the walk around their hottest loops.
#pragma once

#include <algorithm>
#include <cstring>
#include <utility>

#include "render/fixed_point.h"
#include "render/lanes.h"
#include "render/rasterizer_internal.h"

namespace walk {

// Rows above the FrameBuffer are stepped one at a time like drawn rows. A
// vertex further up than this (only far off-screen or non-finite geometry
// gets there) makes the edges jump the rows in one go instead of looping
// billions of times; x and the colours still land exactly, the float values
// up to rounding.
constexpr int32_t ROW_JUMP_LIMIT = 1 << 16;

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

// `rows` steps at once (see ROW_JUMP_LIMIT).
void jumpEdge(EdgeSlot& e, uint32_t rows, bool texturing, bool smooth);

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

// drawSpan with its left and right edges given.
template <bool Texturing, bool Smooth, FusedSpanLoop Direct = nullptr>
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
    if constexpr (Direct != nullptr) {
        Direct(ts, y, xl, n, zl + dz / 2.0f, dz, sOverW, ds, tOverW, dt, color, colorStep);
        return;
    }
    const FusedSpanLoop loop = ts.fused ? ts.fusedLoop : stagedSpanGeneral;
    loop(ts, y, xl, n, zl + dz / 2.0f, dz, sOverW, ds, tOverW, dt, color, colorStep);
}

// Walks the triangle's rows: the edges set up from the sorted vertices, then
// stepped row by row. The rows on the FrameBuffer have their spans drawn by
// Direct when given (the latched fused loop, compiled into the walk); the
// rows reached through a jump from far above, and all of them without Direct,
// by the latched loop through its address.
template <bool Texturing, bool Smooth, FusedSpanLoop Direct = nullptr>
[[gnu::always_inline]] inline void walkTriangle(const SortedTriangle& sorted) {
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
    // The edge from M to B, which takes slot A's place after the short edge,
    // set up now so that its divisions overlap the rows above M.
    EdgeSlot lower;
    const uint32_t lowerRows = static_cast<uint32_t>(longRows) - static_cast<uint32_t>(shortRows);
    if (lowerRows != 0) {  // 0 with a flat top
        setUpEdgeFrom<Texturing, Smooth>(lower, *mid, *bottom, static_cast<int32_t>(lowerRows),
                                         midInvW, bottomInvW);
        halfStep<Texturing>(lower);
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
        // The rows on the FrameBuffer up to the next change of edge or the
        // FrameBuffer's last row go without the checks of the rows outside it.
        uint32_t part = flatTop ? longLeft : std::min(longLeft, shortLeft);
        if (y >= 0 && y < height) [[likely]] {
            part = static_cast<uint32_t>(std::min<int64_t>(part, int64_t{height} - y));
            for (uint32_t k = part; k != 0; --k) {
                stepEdge<Texturing, Smooth>(a);
                stepEdge<Texturing, Smooth>(b);
                drawSpanBetween<Texturing, Smooth, Direct>(
                    ts, left, right, static_cast<int16_t>(y), static_cast<int16_t>(left.x >> 16),
                    static_cast<int16_t>(right.x >> 16), left.invW, right.invW);
                ++y;
            }
            longLeft -= part;
            shortLeft -= part;
        } else {
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
        }
        if (longLeft == 0) break;
        if (!flatTop && shortLeft == 0) {
            // The short edge ends at M: edge A continues from M to B over the
            // remaining rows; its colours restart at M's.
            a = lower;
            shortLeft = longLeft;
        }
    }
}

// Draws the triangle of renderContext.screenVertices with the latched state:
// its vertices sorted by row, then walkTriangle.
template <bool Texturing, bool Smooth, FusedSpanLoop Direct = nullptr>
void rasterizeWith() {
    // Sort by row; the comparisons are strict, so equal rows keep submission order.
    const ScreenVertex* v = renderContext.screenVertices;
    const ScreenVertex* top = &v[0];
    const ScreenVertex* mid = &v[1];
    const ScreenVertex* bottom = &v[2];
    if (mid->y < top->y) std::swap(top, mid);
    if (bottom->y < top->y) std::swap(top, bottom);
    if (bottom->y < mid->y) std::swap(mid, bottom);

    const int32_t height = boundFrameBuffer()->height();
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
    walkTriangle<Texturing, Smooth, Direct>(
        SortedTriangle{top, mid, bottom, height, yT, longRows, shortRows, flatTop});
}

}  // namespace walk
