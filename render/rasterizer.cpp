// Triangles: the state a triangle draws with latched, and its rows walked
// (triangle_walk.h) with the walk the state chose, which has the span loop
// built in, or with the latched span loop (fused_spans.cpp, span_stages.cpp).
#include "render/rasterizer.h"

#include <cstring>

#include "render/avx2.h"
#include "render/fixed_point.h"
#include "render/lanes.h"
#include "render/rasterizer_internal.h"
#include "render/sgl.h"
#include "render/triangle_walk.h"

TriangleSetup triangleSetup;
EdgeSlot edgeSlots[2];
uint8_t fusedSpansAllowed = 1;

namespace {

void latchTriangleStateAgainIfChanged();
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
    if (boundFrameBuffer() == nullptr) return;
    latchTriangleStateAgainIfChanged();
    if (triangleSetup.walk != nullptr) {
        triangleSetup.walk();
        return;
    }
    withSwitches(triangleSetup,
                 []<bool Texturing, bool Smooth>() { walk::rasterizeWith<Texturing, Smooth>(); });
}

void walkOneColor() {
    // The switches the one-colour walk and loop read are set for this triangle alone.
    TriangleSetup& ts = triangleSetup;
    const FusedSpanLoop loop = ts.fusedLoop;
    const uint8_t flat = ts.flat;
    if (ts.oneColorLoop != nullptr) {  // untextured: flat spans
        ts.fusedLoop = ts.oneColorLoop;
        ts.flat = 1;
    }
    ts.smooth = 0;
    ts.oneColorWalk();
    ts.smooth = 1;
    ts.flat = flat;
    ts.fusedLoop = loop;
}

// ---------------------------------------------------------------------------
// Edges and spans (the walk itself is in triangle_walk.h).

void walk::jumpEdge(EdgeSlot& e, uint32_t rows, bool texturing, bool smooth) {
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

void setUpEdge(EdgeSlot& edge, const ScreenVertex& p, const ScreenVertex& q, int32_t rows) {
    const Quotients reciprocals = divide4(1.0f, 1.0f, 1.0f, 1.0f, p.w, q.w, 1.0f, 1.0f);
    const float pInvW = reciprocals.v[0];
    const float qInvW = reciprocals.v[1];
    withSwitches(triangleSetup, [&]<bool Texturing, bool Smooth>() {
        walk::setUpEdgeFrom<Texturing, Smooth>(edge, p, q, rows, pInvW, qInvW);
    });
}

void halfStepEdge(EdgeSlot& edge) {
    if (triangleSetup.texturing) {
        walk::halfStep<true>(edge);
    } else {
        walk::halfStep<false>(edge);
    }
}

void drawSpan(int16_t y, int16_t xLeft, int16_t xRight, float invWLeft, float invWRight) {
    const TriangleSetup& ts = triangleSetup;
    const EdgeSlot& left = ts.aIsLeft ? edgeSlots[0] : edgeSlots[1];
    const EdgeSlot& right = ts.aIsLeft ? edgeSlots[1] : edgeSlots[0];
    withSwitches(ts, [&]<bool Texturing, bool Smooth>() {
        walk::drawSpanBetween<Texturing, Smooth>(ts, left, right, y, xLeft, xRight, invWLeft,
                                                 invWRight);
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

// Times latchTriangleState has run: while it stays the same, triangleSetup
// holds the last latch (the walks change only aIsLeft, which each sets).
uint32_t latchCount = 0;

}  // namespace

void latchTriangleState() {
    ++latchCount;
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
    uint8_t avx2Allowed = 0;
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
    in.avx2Allowed = avx2Allowed;
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

// The eight enables as one word, compared in one instruction (memcmp would be a call).
uint64_t enableBits(const uint8_t (&enables)[8]) {
    uint64_t bits;
    std::memcpy(&bits, enables, sizeof bits);
    return bits;
}

bool matchesCurrentState(const LatchInputs& in) {
    const RenderContext& rc = renderContext;
    const FragmentTables& t = rc.tables;
    return in.frameBuffer == rc.frameBuffer && in.texture == rc.texture &&
           in.tablesGeneration == t.generation &&
           enableBits(in.enables) == enableBits(rc.enables) && in.initialised == rc.initialised &&
           in.fusedAllowed == fusedSpansAllowed && in.avx2Allowed == avx2Allowed &&
           in.alphaFunc == rc.alphaFunc && in.texEnvMode == rc.texEnvMode &&
           in.depthFunc == rc.depthFunc && in.depthWrite == rc.depthWrite &&
           in.blendSrc == rc.blendSrc && in.blendDst == rc.blendDst &&
           in.built[0] == t.depth.built && in.built[1] == t.stencil.built &&
           in.built[2] == t.alpha.built && in.built[3] == t.blend.built &&
           in.surfaceGeneration == surfaceLayoutGeneration();
}

LatchInputs latchedInputs;
TriangleSetup latchedSetup;
uint32_t latchedCount = 0;  // latchCount when triangleSetup last held latchedSetup
bool latchedValid = false;

void latchTriangleStateAgainIfChanged() {
    if (latchedValid && matchesCurrentState(latchedInputs)) {
        // Only a latch for another state since (tests run them) needs the copy.
        if (latchCount != latchedCount) {
            triangleSetup = latchedSetup;
            latchedCount = latchCount;
        }
        return;
    }
    const LatchInputs in = currentLatchInputs();
    latchTriangleState();
    latchedInputs = in;
    latchedSetup = triangleSetup;
    latchedCount = latchCount;
    latchedValid = true;
}

}  // namespace
