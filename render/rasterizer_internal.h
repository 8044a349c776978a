// The rasterizer's own records and steps, shared by its files (set-up and
// edge walk, fused spans, stage-by-stage span) and open to tests and benchmarks.
#pragma once

#include <cstdint>
#include <cstring>

#include "render/render_context.h"

struct TriangleSetup;

// The triangle's set-up and row walk with a span loop built in (see
// rasterizeWith).
using TriangleWalk = void (*)();

// A fused span loop: the span's row y, first pixel xl and pixel count n after
// clipping, and the running values at its first pixel with their steps.
using FusedSpanLoop = void (*)(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0,
                               float dz, float sOverW, float ds, float tOverW, float dt,
                               const uint16_t* color, const uint16_t* colorStep);

// What one triangle draws with, latched before its first row.
struct TriangleSetup {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t* colorBase = nullptr;  // null (pitch 0) when the Surface is missing
    int32_t colorPitch = 0;
    uint8_t* depthBase = nullptr;
    int32_t depthPitch = 0;
    uint8_t* stencilBase = nullptr;
    int32_t stencilPitch = 0;
    // The bound texture, latched only while texturing. Lookups repeat the
    // texture in both directions, so any coordinate reads inside it.
    const uint8_t* textureBase = nullptr;
    int32_t texturePitch = 0;
    int32_t textureWidth = 0;
    int32_t textureHeight = 0;
    uint8_t texturing = 0;  // SGL_TEXTURE on and a usable texture bound
    uint8_t smooth = 0;     // interpolated colours
    uint8_t flat = 0;       // neither texturing nor SGL_SMOOTH: V2's colour everywhere
    uint8_t combine = 0;    // SGL_TEXTURE_ENV on
    uint8_t aIsLeft = 1;    // which edge slot is the left edge

    // The fused span loops, chosen once per triangle from the state when they
    // give the same bytes as the stage-by-stage path (see latchFusedSpans).
    uint8_t fused = 0;
    uint8_t depthFunc = 1;          // while fused: 1 (no comparison) to 7
    uint8_t depthWrite = 0;         // while fused: passing depths are stored
    uint8_t stencilTest = 0;        // while fused: SGL_STENCIL_TEST is on
    uint8_t alphaTest = 0;          // while fused: SGL_ALPHA_TEST is on
    uint8_t plainWrite = 0;         // while fused: nothing but the depth and stencil
                                    // tests between the fragments and a plain write
    uint8_t plainBlend = 0;         // while fused: blending off, fragments are copied
    uint8_t texEnvMode = 0;         // while fused: the environment's mode
    uint8_t texturePowerOfTwo = 0;  // both texture sides are powers of two
    uint8_t blendSrc = 0;           // while fused and blending: the pair and its object
    uint8_t blendDst = 0;
    const BlendFragmentOp* blendOp = nullptr;
    FusedSpanLoop fusedLoop = nullptr;  // while fused: the loop for the state
    TriangleWalk walk = nullptr;        // while fused: a walk built around that loop, if any
    // While walk is one with smooth colours: the walk and loop for triangles
    // of one colour at all three corners, without smooth colours (the flat
    // colour in their place; the loop null where it stays fusedLoop).
    TriangleWalk oneColorWalk = nullptr;
    FusedSpanLoop oneColorLoop = nullptr;
};

// The three screen vertices have one colour.
inline bool sameColors(const ScreenVertex* v) {
    uint32_t c[3];
    for (int i = 0; i < 3; ++i) std::memcpy(&c[i], v[i].color, 4);
    return c[0] == c[1] && c[1] == c[2];
}

// Draws a triangle of one colour with the one-colour walk: all its smooth
// colours are that colour, V2's, which the flat colour is. The walks with
// smooth colours hand such triangles over.
void walkOneColor();

// 1 (the default) lets latchTriangleState choose the fused span loops; 0 keeps
// every span on the stage-by-stage path, which tests compare them with.
extern uint8_t fusedSpansAllowed;

// One active edge at the current row.
struct EdgeSlot {
    int32_t x = 0;  // 16.16
    int32_t xStep = 0;
    float invW = 0.0f;
    float invWStep = 0.0f;
    float sOverW = 0.0f;  // s/w and t/w only while texturing
    float sOverWStep = 0.0f;
    float tOverW = 0.0f;
    float tOverWStep = 0.0f;
    uint16_t color[4] = {};  // 8.8, modulo 65536; only while smooth
    uint16_t colorStep[4] = {};
};

// Global scratch, overwritten by every triangle: the setup and the edge slots A and B.
extern TriangleSetup triangleSetup;
extern EdgeSlot edgeSlots[2];

// Fills triangleSetup from the bound FrameBuffer, the texture and the enables.
void latchTriangleState();

// Draws pixels xLeft .. xRight - 1 of row y (y >= 0), clipped to the
// FrameBuffer; texture and colour values at both ends come from the edge slots.
void drawSpan(int16_t y, int16_t xLeft, int16_t xRight, float invWLeft, float invWRight);

// Sets up an edge from p to q over `rows` rows (rows != 0) with the current
// triangleSetup's texturing and smooth switches, without the half step.
void setUpEdge(EdgeSlot& edge, const ScreenVertex& p, const ScreenVertex& q, int32_t rows);
// Moves x, 1/w, s/w and t/w back by half a step (not the colours), so that
// the step added before each row lands them on the row's middle.
void halfStepEdge(EdgeSlot& edge);

// The three span paths' shared parts, one file each: the chooser fills the
// fused fields of ts (fused_spans.cpp); the stage-by-stage path runs every
// stage through its dispatcher (span_stages.cpp), and both combine through
// combineFragments, which answers where the fragments' colours are now.
void latchFusedSpans(TriangleSetup& ts, const RenderContext& rc);
void stagedSpanGeneral(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0,
                       float dz, float sOverW, float ds, float tOverW, float dt,
                       const uint16_t* color, const uint16_t* colorStep);
const uint8_t* combineFragments(const TriangleSetup& ts, SpanBuffers& sb, uint16_t count,
                                const uint8_t* flat);

inline bool isPowerOfTwo(int32_t n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// The 8.8 colour sum modulo 65536.
inline uint16_t add16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a + b);
}
