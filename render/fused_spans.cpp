// The fused span loops and their chooser. The loops give the same bytes as
// the stage-by-stage path: the same float and double operations in the same
// order for every value, only regrouped so that one pass over the span does
// what the stages do in several.
#include <array>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "render/alpha_test_op.h"
#include "render/avx2.h"
#include "render/blend_op.h"
#include "render/depth_op.h"
#include "render/fragment_tables.h"
#include "render/span_kernels.h"
#include "render/texenv_ops.h"
#include "render/triangle_walk.h"

// The walks with the plain loops compiled in are left out where code size
// counts more than speed (the page: they add a quarter to its WebAssembly).
#ifndef VORNAK_INLINE_WALKS
#define VORNAK_INLINE_WALKS 1
#endif

// On x86-64 this file is compiled a second time for AVX2 (see avx2.h) with
// VORNAK_AVX2_WALKS_ONLY: that object holds only the walks, and the chooser
// below takes them where the processor runs them.
// By shading (flat, smooth, textured, textured with smooth colours): for the
// depth test LESS by stage and depth write, and for the depth test off (so no
// depth write) without a stage.
struct PlainWalks {
    std::array<std::array<std::array<TriangleWalk, 2>, 3>, 4> less;
    std::array<TriangleWalk, 4> always;
};
const PlainWalks& avx2PlainWalks();

namespace {

enum class SpanKind : uint8_t { FLAT, SMOOTH, TEXTURED_POWER_OF_TWO, TEXTURED };

// What the plain loops do between the depth test and the writes.
enum class SpanStage : uint8_t { NONE, STENCIL, ALPHA_BLEND };

#ifndef VORNAK_AVX2_WALKS_ONLY
FusedSpanLoop plainSpanLoop(SpanKind kind, SpanStage stage, uint8_t depthWrite, uint8_t func);
TriangleWalk plainSpanWalk(SpanKind kind, SpanStage stage, uint8_t depthWrite, uint8_t func,
                           uint8_t smooth);
FusedSpanLoop stagedSpanLoop(uint8_t func);

// True when op's class is Op itself. The type_info objects are compared by
// address: unique within the program, and a duplicate elsewhere would only
// keep the span on the stage-by-stage path.
template <typename Op, typename Interface>
bool isExactly(const Interface* op) {
    return &typeid(*op) == &typeid(Op);
}

bool isRendererBlendOp(const BlendFragmentOp* op) {
    return isExactly<BlendOp>(op) || isExactly<BlendConstantOneOp>(op) ||
           isExactly<BlendDestinationOneOp>(op) || isExactly<BlendSourcePairOp>(op);
}
#endif

}  // namespace

#ifndef VORNAK_AVX2_WALKS_ONLY
// Every span of the triangle takes a fused loop when the depth, alpha, texture
// environment and blend entries of its state are the renderer's own objects,
// whose arithmetic the loops repeat: the plain loops when nothing but the
// depth test stands between the fragments and a plain write, the others
// (alpha test, blending) through the stages' dispatchers. The plain loops
// also take the stencil test of the renderer's own object with pixels the
// depth test rejects kept, or the usual transparency blend (SRC_ALPHA,
// ONE_MINUS_SRC_ALPHA) in place of the plain write.
void latchFusedSpans(TriangleSetup& ts, const RenderContext& rc) {
    ts.fused = 0;
    ts.walk = nullptr;
    ts.oneColorWalk = nullptr;
    ts.oneColorLoop = nullptr;
    if (!fusedSpansAllowed) return;
    const FragmentTables& t = rc.tables;
    if (!t.depth.built || !t.stencil.built || !t.alpha.built || !t.blend.built) return;
    if (ts.colorBase == nullptr) return;
    // The alpha test and the texture environment read the colour arrays: only
    // the renderer's own objects are known to read alive pixels alone.
    const bool alphaTest = rc.enables[SGL_ALPHA_TEST] != 0;
    if (alphaTest) {
        const AlphaFragmentOp* alphaOp = t.alpha.entries[rc.alphaFunc];
        if (alphaOp != nullptr && !isExactly<AlphaTestOp>(alphaOp)) return;
    }
    // The built-in environment object of the mode: one whose arithmetic the
    // plain loops repeat (each object serves the modes it enumerates).
    bool texEnvKnown = false;
    if (ts.combine) {
        const TexEnvFragmentOp* texEnvOp = t.texEnv.entries[rc.texEnvMode];
        if (texEnvOp != nullptr) {
            texEnvKnown = isExactly<TexEnvReplaceOp>(texEnvOp) ||
                          isExactly<TexEnvModulateOp>(texEnvOp) ||
                          isExactly<TexEnvAddSubtractOp>(texEnvOp);
            if (!texEnvKnown) return;
        }
    }
    const DepthFragmentOp* depthOp = t.depth.entries[rc.depthFunc];
    if (depthOp == nullptr || !isExactly<DepthOp>(depthOp)) return;
    const bool depthTest = rc.enables[SGL_DEPTH_TEST] != 0;
    const uint8_t func = depthTest ? rc.depthFunc : 1;
    if (func == 0 || (func > 1 && ts.depthBase == nullptr)) return;
    const bool blending = rc.enables[SGL_BLEND] != 0;
    const uint8_t src = blending ? rc.blendSrc : BLEND_ONE;
    const uint8_t dst = blending ? rc.blendDst : BLEND_ZERO;
    if (src >= BLEND_TABLE_SIZE / 256) return;
    const BlendFragmentOp* blendOp = t.blend.entries[src * 256 + dst];
    if (blendOp == nullptr || !isRendererBlendOp(blendOp)) return;
    ts.stencilTest = rc.enables[SGL_STENCIL_TEST] != 0 ? 1 : 0;
    ts.alphaTest = alphaTest ? 1 : 0;
    ts.depthFunc = func;
    ts.depthWrite = depthTest && rc.depthWrite == 1 && ts.depthBase != nullptr ? 1 : 0;
    ts.plainBlend = src == BLEND_ONE && dst == BLEND_ZERO && isExactly<BlendOp>(blendOp) ? 1 : 0;
    ts.texEnvMode = rc.texEnvMode;
    ts.plainWrite = ts.plainBlend && (!ts.stencilTest || ts.stencilBase != nullptr) && !alphaTest &&
                            (!ts.combine || texEnvKnown)
                        ? 1
                        : 0;
    ts.blendSrc = src;
    ts.blendDst = dst;
    ts.blendOp = blendOp;
    ts.texturePowerOfTwo =
        ts.texturing && isPowerOfTwo(ts.textureWidth) && isPowerOfTwo(ts.textureHeight) ? 1 : 0;
    const bool alphaBlend = src == BLEND_SRC_ALPHA && dst == BLEND_ONE_MINUS_SRC_ALPHA &&
                            isExactly<BlendSourcePairOp>(blendOp) && !ts.stencilTest &&
                            !alphaTest && (!ts.combine || texEnvKnown);
    if (ts.plainWrite || alphaBlend) {
        const SpanKind kind = ts.texturing ? (ts.texturePowerOfTwo ? SpanKind::TEXTURED_POWER_OF_TWO
                                                                   : SpanKind::TEXTURED)
                              : ts.smooth  ? SpanKind::SMOOTH
                                           : SpanKind::FLAT;
        const SpanStage stage = alphaBlend       ? SpanStage::ALPHA_BLEND
                                : ts.stencilTest ? SpanStage::STENCIL
                                                 : SpanStage::NONE;
        ts.fusedLoop = plainSpanLoop(kind, stage, ts.depthWrite, func);
        ts.walk = plainSpanWalk(kind, stage, ts.depthWrite, func, ts.smooth);
        // Smooth colours that are all the flat colour: textured spans take it
        // as they are; untextured ones are flat spans unless the environment
        // combines them with it.
        if (ts.walk != nullptr && ts.smooth) {
            if (ts.texturing) {
                ts.oneColorWalk = plainSpanWalk(kind, stage, ts.depthWrite, func, 0);
            } else if (!ts.combine || ts.texEnvMode == SGL_REPLACE) {
                ts.oneColorWalk = plainSpanWalk(SpanKind::FLAT, stage, ts.depthWrite, func, 0);
                ts.oneColorLoop = plainSpanLoop(SpanKind::FLAT, stage, ts.depthWrite, func);
            }
        }
    } else {
        ts.fusedLoop = stagedSpanLoop(func);
    }
    ts.fused = 1;
}
#endif

namespace {

// 1/w of every pixel of a textured span, in double precision.
double spanInvW[SPAN_CAPACITY];

// Where the span's pixels start in the depth, stencil and colour rows.
struct SpanRows {
    float* depth;
    uint8_t* stencil;
    uint8_t* color;
};

[[gnu::always_inline]] inline SpanRows spanRows(const TriangleSetup& ts, int16_t y, int32_t xl) {
    SpanRows rows;
    rows.depth = ts.depthBase != nullptr
                     ? reinterpret_cast<float*>(ts.depthBase +
                                                static_cast<std::ptrdiff_t>(y) * ts.depthPitch +
                                                static_cast<std::ptrdiff_t>(xl) * 4)
                     : nullptr;
    rows.stencil = ts.stencilBase != nullptr
                       ? ts.stencilBase + static_cast<std::ptrdiff_t>(y) * ts.stencilPitch + xl
                       : nullptr;
    rows.color = ts.colorBase + static_cast<std::ptrdiff_t>(y) * ts.colorPitch +
                 static_cast<std::ptrdiff_t>(xl) * 4;
    return rows;
}

// 1/w of the next four pixels, one addition after the other as fillInvW and
// fillDepths do for short spans; z moves on to the pixel after them.
[[gnu::always_inline]] inline void invWRound(double& z, float dz, Doubles2& invW01,
                                             Doubles2& invW23) {
    const double z1 = z + double{dz};
    const double z2 = z1 + double{dz};
    const double z3 = z2 + double{dz};
    invW01 = doubles2(z, z1);
    invW23 = doubles2(z2, z3);
    z = z3 + double{dz};
}

// x combined with y by the built-in texture environment's mode.
[[gnu::always_inline]] inline Ints4 combineMode(uint8_t mode, Ints4 x, Ints4 y) {
    switch (mode) {
        case SGL_MODULATE:
            return combinePixels<SGL_MODULATE>(x, y);
        case SGL_ADD:
            return combinePixels<SGL_ADD>(x, y);
        default:
            return combinePixels<SGL_SUBTRACT>(x, y);
    }
}

// A plain span of at most 4 x Rounds pixels with room for that many in its
// rows, written four pixels at a time; the pixels past the span are computed
// too and written back unchanged. All texels are read before the first
// write, as the texture may be the colour buffer.
template <SpanKind Kind, uint8_t Func, bool Write, int Rounds, typename Stage>
[[gnu::always_inline]] inline void shortPlainSpan(const TriangleSetup& ts, const SpanRows& rows,
                                                  int32_t n, float z0, float dz, float sOverW,
                                                  float ds, float tOverW, float dt,
                                                  const uint16_t* color, const uint16_t* colorStep,
                                                  const uint8_t* flat, const Stage& stage) {
    constexpr bool TEXTURED = Kind == SpanKind::TEXTURED_POWER_OF_TWO || Kind == SpanKind::TEXTURED;
    constexpr bool DEPTHS = Func > 1 || Write;
    // 1/w and the depths of the pixels, the depth test, then the texels:
    // where no pixel passes the test nothing is written (the plain loops keep
    // the stencil values of pixels the test rejects) and the texels are not
    // needed, as for a quarter of the short spans where surfaces hide others.
    Doubles2 invW[Rounds][2];
    Floats4 z[Rounds];
    Floats4 stored[Rounds];
    Ints4 pass[Rounds];
    Ints4 anyPass = splatByte(0);
    if constexpr (TEXTURED || DEPTHS) {
        double next = z0;
        for (int r = 0; r < Rounds; ++r) invWRound(next, dz, invW[r][0], invW[r][1]);
    }
    for (int r = 0; r < Rounds; ++r) {
        pass[r] = lanesBefore(n, r * 4);
        // Without a depth test or write there may be no depth row at all.
        z[r] = stored[r] = zeroFloats();
        if constexpr (DEPTHS) {
            z[r] = roundToFloats(invW[r][0], invW[r][1]);
            stored[r] = loadFloats4(rows.depth + r * 4);
        }
        if constexpr (Func > 1) pass[r] = andBits(pass[r], depthPasses4<Func>(z[r], stored[r]));
        anyPass = orBits(anyPass, pass[r]);
    }
    if constexpr (Func > 1) {
        if (!anyLane(anyPass)) return;
    }
    alignas(16) uint8_t gathered[Rounds * 16];
    if constexpr (TEXTURED) {
        const TexelRounds<Kind == SpanKind::TEXTURED_POWER_OF_TWO> texelRounds(ts, ds, dt);
        Floats4 st = floats4(sOverW, tOverW, 0.0f, 0.0f);
        for (int r = 0; r < Rounds; ++r) {
            texelRounds.template round<true>(invW[r][0], invW[r][1], st, gathered + r * 16);
        }
    }
    const Ints4 flat4 = splatPixel(flatPixel(flat));
    const bool combine = ts.combine && ts.texEnvMode != SGL_REPLACE;
    for (int r = 0; r < Rounds; ++r) {
        const uint32_t k = static_cast<uint32_t>(r) * 4;
        Ints4 colors = flat4;
        if constexpr (TEXTURED) {
            colors = loadAlignedInts4(gathered + r * 16);
            if (combine) {
                const Ints4 other = ts.smooth ? colorBytes(smoothPair(color, colorStep, k),
                                                           smoothPair(color, colorStep, k + 2))
                                              : flat4;
                colors = combineMode(ts.texEnvMode, colors, other);
            }
        } else if constexpr (Kind == SpanKind::SMOOTH) {
            colors =
                colorBytes(smoothPair(color, colorStep, k), smoothPair(color, colorStep, k + 2));
            if (combine) colors = combineMode(ts.texEnvMode, colors, flat4);
        }
        const Ints4 alive = stage.pass(pass[r], rows.stencil, r * 4);
        uint8_t* out = rows.color + r * 16;
        const Ints4 destination = loadInts4(out);
        storeInts4(out, selectBits(alive, stage.color(colors, destination), destination));
        if constexpr (Write) {
            storeInts4(rows.depth + r * 4,
                       selectBits(alive, floatBits(z[r]), floatBits(stored[r])));
        }
    }
}

// The colours of a span's first pixel: the 8.8 running colour's high bytes,
// or the flat colour.
[[gnu::always_inline]] inline uint32_t smoothPixel(const uint16_t* color) {
    uint8_t bytes[4];
    for (int c = 0; c < 4; ++c) bytes[c] = static_cast<uint8_t>(color[c] >> 8);
    uint32_t bits;
    std::memcpy(&bits, bytes, 4);
    return bits;
}

// A textured span of one pixel (a fifth of the spans of small triangles).
template <bool PowerOfTwo, uint8_t Func, bool Write>
[[gnu::always_inline]] inline void singleTexturedPixel(const TriangleSetup& ts,
                                                       const SpanRows& rows, float z0, float sOverW,
                                                       float tOverW, const uint16_t* color,
                                                       const uint8_t* flat) {
    if constexpr (Func > 1) {
        if (!depthPasses<Func>(z0, *rows.depth)) return;
    }
    const uint32_t texel = TexelRounds<PowerOfTwo>(ts, 0.0f, 0.0f).single(z0, sOverW, tOverW);
    Ints4 pixel = onePixel(texel);
    if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
        const uint32_t other = ts.smooth ? smoothPixel(color) : flatPixel(flat);
        pixel = combineMode(ts.texEnvMode, pixel, onePixel(other));
    }
    const uint32_t bits = firstPixel(pixel);
    std::memcpy(rows.color, &bits, 4);
    if constexpr (Write) *rows.depth = z0;
}

// A textured span of two pixels (a quarter of the spans of small triangles):
// each pixel as singleTexturedPixel draws it, the second one step further,
// their depths tested first.
template <bool PowerOfTwo, uint8_t Func, bool Write>
[[gnu::always_inline]] inline void twoTexturedPixels(const TriangleSetup& ts, const SpanRows& rows,
                                                     float z0, float dz, float sOverW, float ds,
                                                     float tOverW, float dt, const uint16_t* color,
                                                     const uint16_t* colorStep,
                                                     const uint8_t* flat) {
    const double invW[2] = {z0, double{z0} + double{dz}};
    const float depth[2] = {z0, static_cast<float>(invW[1])};
    bool pass[2] = {true, true};
    if constexpr (Func > 1) {
        pass[0] = depthPasses<Func>(depth[0], rows.depth[0]);
        pass[1] = depthPasses<Func>(depth[1], rows.depth[1]);
        if (!pass[0] && !pass[1]) return;
    }
    const TexelRounds<PowerOfTwo> lookup(ts, 0.0f, 0.0f);
    // All texels are read before the first write, as the texture may be the colour buffer.
    uint32_t bits[2] = {lookup.single(invW[0], sOverW, tOverW),
                        lookup.single(invW[1], sOverW + ds, tOverW + dt)};
    if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
        uint16_t next[4];
        for (int c = 0; c < 4; ++c) next[c] = add16(color[c], colorStep[c]);
        for (int k = 0; k < 2; ++k) {
            const uint32_t other = ts.smooth ? smoothPixel(k == 0 ? color : next) : flatPixel(flat);
            bits[k] = firstPixel(combineMode(ts.texEnvMode, onePixel(bits[k]), onePixel(other)));
        }
    }
    for (int k = 0; k < 2; ++k) {
        if (!pass[k]) continue;
        std::memcpy(rows.color + k * 4, &bits[k], 4);
        if constexpr (Write) rows.depth[k] = depth[k];
    }
}

template <uint8_t Func>
void stagedSpan(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0, float dz,
                float sOverW, float ds, float tOverW, float dt, const uint16_t* color,
                const uint16_t* colorStep);

// The stencil round of the current stencil state, or null when the state is
// one the plain loops leave to the stages: another object, the function
// never, or pixels the depth test rejects getting an operation of their own.
// The state is read per span, as the stencil dispatcher reads it; the answer
// is worked out again only when the state's bytes or the tables have changed.
const StencilRound* currentStencilRound() {
    // The seven stencil bytes lie side by side; the byte after them comes along.
    constexpr size_t STATE = offsetof(RenderContext, stencilOpRejected);
    static_assert(offsetof(RenderContext, stencilWriteMask) == STATE + 6);
    const RenderContext& rc = renderContext;
    const FragmentTables& t = rc.tables;
    uint64_t state;
    std::memcpy(&state, reinterpret_cast<const unsigned char*>(&rc) + STATE, sizeof state);
    static uint64_t answeredState = ~uint64_t{0};
    static uint32_t answeredGeneration = ~0u;
    static const StencilRound* answer = nullptr;
    if (state == answeredState && t.generation == answeredGeneration) return answer;
    answeredState = state;
    answeredGeneration = t.generation;
    answer = nullptr;
    const StencilFragmentOp* op =
        t.stencil.entries[rc.stencilOpRejected + 6 * rc.stencilOpFail + 36 * rc.stencilOpPass];
    if (op == nullptr || op != t.stencilTestOp || rc.stencilOpRejected != STENCIL_KEEP ||
        rc.stencilFunc == 0 || rc.stencilFunc > 7) {
        return answer;
    }
    static StencilRound latched(STENCIL_KEEP, STENCIL_KEEP, 1, 0, 0, 0);
    latched = StencilRound(rc.stencilOpFail, rc.stencilOpPass, rc.stencilFunc, rc.stencilRef,
                           rc.stencilValueMask, rc.stencilWriteMask);
    answer = &latched;
    return answer;
}

// A flat or smooth span of one pixel (a fifth of the spans of small
// triangles): the pixel alone, without the rounds of four.
template <SpanKind Kind, uint8_t Func, bool Write>
[[gnu::always_inline]] inline void singleColorPixel(const TriangleSetup& ts, const SpanRows& rows,
                                                    float z0, const uint16_t* color,
                                                    const uint8_t* flat) {
    if constexpr (Func > 1) {
        if (!depthPasses<Func>(z0, *rows.depth)) return;
    }
    uint32_t bits = flatPixel(flat);
    if constexpr (Kind == SpanKind::SMOOTH) {
        bits = smoothPixel(color);
        if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
            bits =
                firstPixel(combineMode(ts.texEnvMode, onePixel(bits), onePixel(flatPixel(flat))));
        }
    }
    std::memcpy(rows.color, &bits, 4);
    if constexpr (Write) *rows.depth = z0;
}

// Spans without alpha test, the built-in texture environment's modes combined
// in the loop: one loop per colour source, stage (nothing, the stencil test
// or the transparency blend), depth function and depth write, chosen per
// triangle.
template <SpanKind Kind, typename Stage, uint8_t Func, bool Write>
[[gnu::always_inline]] inline void plainSpan(const TriangleSetup& ts, int16_t y, int32_t xl,
                                             int32_t n, float z0, float dz, float sOverW, float ds,
                                             float tOverW, float dt, const uint16_t* color,
                                             const uint16_t* colorStep) {
    SpanBuffers& sb = renderContext.spans;
    constexpr bool NEED_DEPTH = Func > 1 || Write;
    const Stage* stagePointer = nullptr;
    if constexpr (Stage::STENCIL) {
        stagePointer = currentStencilRound();
        if (stagePointer == nullptr) {
            stagedSpan<Func>(ts, y, xl, n, z0, dz, sOverW, ds, tOverW, dt, color, colorStep);
            return;
        }
    } else {
        static constexpr Stage STATELESS{};
        stagePointer = &STATELESS;
    }
    const Stage& stage = *stagePointer;
    constexpr bool PLAIN = std::is_same_v<Stage, PlainRound>;
    const SpanRows rows = spanRows(ts, y, xl);
    const uint8_t* flat = renderContext.screenVertices[2].color;
    if constexpr (PLAIN &&
                  (Kind == SpanKind::TEXTURED_POWER_OF_TWO || Kind == SpanKind::TEXTURED)) {
        if (n == 1) {
            singleTexturedPixel<Kind == SpanKind::TEXTURED_POWER_OF_TWO, Func, Write>(
                ts, rows, z0, sOverW, tOverW, color, flat);
            return;
        }
        if (n == 2) {
            twoTexturedPixels<Kind == SpanKind::TEXTURED_POWER_OF_TWO, Func, Write>(
                ts, rows, z0, dz, sOverW, ds, tOverW, dt, color, colorStep, flat);
            return;
        }
    }
    if constexpr (PLAIN && (Kind == SpanKind::FLAT || Kind == SpanKind::SMOOTH)) {
        if (n == 1) {
            singleColorPixel<Kind, Func, Write>(ts, rows, z0, color, flat);
            return;
        }
    }
    if (n <= 4 && xl + 4 <= ts.width) {
        shortPlainSpan<Kind, Func, Write, 1>(ts, rows, n, z0, dz, sOverW, ds, tOverW, dt, color,
                                             colorStep, flat, stage);
        return;
    }
    if (n <= 8 && xl + 8 <= ts.width) {
        shortPlainSpan<Kind, Func, Write, 2>(ts, rows, n, z0, dz, sOverW, ds, tOverW, dt, color,
                                             colorStep, flat, stage);
        return;
    }
    const uint8_t* fragments = nullptr;
    if constexpr (Kind == SpanKind::FLAT) {
        if constexpr (PLAIN && NEED_DEPTH) {
            if (!(z0 == 0.0f && std::signbit(z0)) && depthSumsExact(z0, dz, n)) {
                flatExactSpan<Func, Write>(z0, dz, rows.depth, flat, rows.color, n);
                return;
            }
        }
        if (NEED_DEPTH) fillDepths(sb.depth, z0, dz, n);
    } else if constexpr (Kind == SpanKind::SMOOTH) {
        if constexpr (NEED_DEPTH && !Stage::STENCIL) {
            if (!(ts.combine && ts.texEnvMode != SGL_REPLACE) && xl + wholeRounds(n) <= ts.width &&
                !(z0 == 0.0f && std::signbit(z0)) && depthSumsExact(z0, dz, n)) {
                smoothExactSpan<Func, Write>(stage, z0, dz, rows.depth, color, colorStep,
                                             rows.color, n);
                return;
            }
        }
        if (NEED_DEPTH) fillDepths(sb.depth, z0, dz, n);
        smoothColors(sb.colors, color, colorStep, n);
        fragments = sb.colors;
        if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
            combineSpan(sb.colors, flat, true, sb.texels, ts.texEnvMode, n);
            fragments = sb.texels;
        }
    } else {
        fillInvW(spanInvW, NEED_DEPTH ? sb.depth : nullptr, z0, dz, n);
        gatherTexels<Kind == SpanKind::TEXTURED_POWER_OF_TWO>(ts, sb.texels, spanInvW, n, sOverW,
                                                              ds, tOverW, dt);
        if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
            if (ts.smooth) {
                smoothColors(sb.colors, color, colorStep, n);
                combineSpan(sb.texels, sb.colors, false, sb.texels, ts.texEnvMode, n);
            } else {
                combineSpan(sb.texels, flat, true, sb.texels, ts.texEnvMode, n);
            }
        }
        fragments = sb.texels;
    }
    if constexpr (PLAIN) {
        writeSpan<Func, Write>(sb.depth, rows.depth, fragments, flat, rows.color, n);
    } else {
        roundsWriteSpan<Func, Write>(stage, sb.depth, rows.depth, rows.stencil, fragments, flat,
                                     rows.color, n, xl + ((n + 3) & ~3) <= ts.width);
    }
}

// maskSpan over whole rounds of four, the mask bytes past the span 255; the
// depth row has room for the last round (the depths past the span are
// compared, and never used).
template <uint8_t Func>
uint8_t maskRounds(const float* depth, const float* depthRow, uint8_t* mask, int32_t n) {
    uint8_t any = 0;
    for (int32_t i = 0; i < n; i += 4) {
        Ints4 pass = lanesBefore(n, i);
        if constexpr (Func > 1) {
            pass = andBits(pass,
                           depthPasses4<Func>(loadFloats4(depth + i), loadFloats4(depthRow + i)));
        }
        any |= anyLane(pass) ? 1 : 0;
        storeMaskBytes(pass, mask + i);
    }
    return any;
}

// The stages after the depth test, in their order, through the same
// dispatchers as the stage-by-stage path; the spans' colour arrays hold every
// pixel's values, which those stages only read for alive pixels.
//
// roundsFit: the rows have room for the span's last round of four, which the
// depth test and the copies of alive pixels then run whole, the pixels past
// the span rejected.
template <uint8_t Func>
void maskedSpan(const TriangleSetup& ts, const float* depth, float* depthRow, uint8_t* stencilRow,
                uint8_t* colorRow, int32_t n, bool roundsFit) {
    SpanBuffers& sb = renderContext.spans;
    int32_t copied = n;
    if (roundsFit) {
        if (maskRounds<Func>(depth, depthRow, sb.mask, n) == 0) return;
        copied = (n + 3) & ~3;
    } else if (maskSpan<Func>(depth, depthRow, sb.mask, n) == 0) {
        return;
    }
    const uint16_t count = static_cast<uint16_t>(n);
    // A test that is off lets every pixel through: its dispatcher is skipped.
    if (ts.stencilTest && stencilTestSpan(stencilRow, sb.mask, count) != 1) return;
    const uint8_t* flat = renderContext.screenVertices[2].color;
    if (ts.flat) {
        for (int32_t i = 0; i < n; ++i) std::memcpy(sb.colors + i * 4, flat, 4);
    }
    const uint8_t* fragments = combineFragments(ts, sb, count, flat);
    if (ts.alphaTest && alphaTestSpan(fragments, sb.mask, count) != 1) return;
    if (ts.plainBlend) {
        copyAlive(fragments, colorRow, sb.mask, copied);
    } else {
        // The renderer's blend objects write alive pixels only: they take the
        // whole rounds too.
        ts.blendOp->blend(fragments, colorRow, colorRow, sb.mask, ts.blendSrc, ts.blendDst,
                          static_cast<uint16_t>(copied));
    }
    if (ts.depthWrite) copyAlive(depth, depthRow, sb.mask, copied);
}

// Every other fused span: the arrays, then the stages through maskedSpan.
template <uint8_t Func>
void stagedSpan(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0, float dz,
                float sOverW, float ds, float tOverW, float dt, const uint16_t* color,
                const uint16_t* colorStep) {
    SpanBuffers& sb = renderContext.spans;
    const bool needDepth = Func > 1 || ts.depthWrite;
    const SpanRows rows = spanRows(ts, y, xl);
    if (ts.texturing) {
        fillInvW(spanInvW, needDepth ? sb.depth : nullptr, z0, dz, n);
        if (ts.texturePowerOfTwo) {
            gatherTexels<true>(ts, sb.texels, spanInvW, n, sOverW, ds, tOverW, dt);
        } else {
            gatherTexels<false>(ts, sb.texels, spanInvW, n, sOverW, ds, tOverW, dt);
        }
    } else if (needDepth) {
        fillDepths(sb.depth, z0, dz, n);
    }
    if (ts.smooth) smoothColors(sb.colors, color, colorStep, n);
    const bool roundsFit = xl + ((n + 3) & ~3) <= ts.width;
    maskedSpan<Func>(ts, sb.depth, rows.depth, rows.stencil, rows.color, n, roundsFit);
}

#ifndef VORNAK_AVX2_WALKS_ONLY
template <SpanKind Kind, typename Stage, bool Write, size_t... Func>
constexpr std::array<FusedSpanLoop, 8> plainSpans(std::index_sequence<Func...>) {
    return {plainSpan<Kind, Stage, static_cast<uint8_t>(Func), Write>...};
}

template <SpanKind Kind, typename Stage>
constexpr std::array<std::array<FusedSpanLoop, 8>, 2> plainSpansByWrite() {
    return {plainSpans<Kind, Stage, false>(std::make_index_sequence<8>()),
            plainSpans<Kind, Stage, true>(std::make_index_sequence<8>())};
}

template <SpanKind Kind>
constexpr std::array<std::array<std::array<FusedSpanLoop, 8>, 2>, 3> plainSpansByStage() {
    return {plainSpansByWrite<Kind, PlainRound>(), plainSpansByWrite<Kind, StencilRound>(),
            plainSpansByWrite<Kind, AlphaBlendRound>()};
}

template <size_t... Func>
constexpr std::array<FusedSpanLoop, 8> stagedSpans(std::index_sequence<Func...>) {
    return {stagedSpan<static_cast<uint8_t>(Func)>...};
}

constexpr std::array<std::array<std::array<FusedSpanLoop, 8>, 2>, 3> PLAIN_SPANS[4] = {
    plainSpansByStage<SpanKind::FLAT>(),
    plainSpansByStage<SpanKind::SMOOTH>(),
    plainSpansByStage<SpanKind::TEXTURED_POWER_OF_TWO>(),
    plainSpansByStage<SpanKind::TEXTURED>(),
};

constexpr std::array<FusedSpanLoop, 8> STAGED_SPANS = stagedSpans(std::make_index_sequence<8>());

FusedSpanLoop plainSpanLoop(SpanKind kind, SpanStage stage, uint8_t depthWrite, uint8_t func) {
    return PLAIN_SPANS[static_cast<int>(kind)][static_cast<int>(stage)][depthWrite][func];
}
#endif

#if VORNAK_INLINE_WALKS
// The row walk with a plain loop compiled into it: no call per row, which
// costs small triangles most. Built for the depth test LESS and for drawing
// with the test off (backdrops), and for textures whose sides are powers of
// two, which the show and most 3D drawing use; Smooth only matters to textured
// spans (combined with smooth colours).
template <SpanKind Kind, typename Stage, bool Write, bool Smooth, uint8_t Func = 2>
void walkWithPlainSpan() {
    constexpr bool TEXTURED = Kind == SpanKind::TEXTURED_POWER_OF_TWO || Kind == SpanKind::TEXTURED;
    if constexpr (Smooth) {
        if (triangleSetup.oneColorWalk != nullptr && sameColors(renderContext.screenVertices)) {
            walkOneColor();
            return;
        }
    }
    walk::rasterizeWith<TEXTURED, Smooth, &plainSpan<Kind, Stage, Func, Write>>();
}

template <SpanKind Kind, typename Stage, bool Smooth>
constexpr std::array<TriangleWalk, 2> plainWalksByWrite() {
    return {walkWithPlainSpan<Kind, Stage, false, Smooth>,
            walkWithPlainSpan<Kind, Stage, true, Smooth>};
}

template <SpanKind Kind, bool Smooth = Kind == SpanKind::SMOOTH>
constexpr std::array<std::array<TriangleWalk, 2>, 3> plainWalksByStage() {
    return {plainWalksByWrite<Kind, PlainRound, Smooth>(),
            plainWalksByWrite<Kind, StencilRound, Smooth>(),
            plainWalksByWrite<Kind, AlphaBlendRound, Smooth>()};
}

// The walks for the test LESS, then those for the test off.
constexpr PlainWalks PLAIN_WALKS = {
    {plainWalksByStage<SpanKind::FLAT>(), plainWalksByStage<SpanKind::SMOOTH>(),
     plainWalksByStage<SpanKind::TEXTURED_POWER_OF_TWO>(),
     plainWalksByStage<SpanKind::TEXTURED_POWER_OF_TWO, true>()},
    {walkWithPlainSpan<SpanKind::FLAT, PlainRound, false, false, 1>,
     walkWithPlainSpan<SpanKind::SMOOTH, PlainRound, false, true, 1>,
     walkWithPlainSpan<SpanKind::TEXTURED_POWER_OF_TWO, PlainRound, false, false, 1>,
     walkWithPlainSpan<SpanKind::TEXTURED_POWER_OF_TWO, PlainRound, false, true, 1>},
};

#ifndef VORNAK_AVX2_WALKS_ONLY
// The AVX2 walks where they are built and the processor runs them.
const PlainWalks& plainWalks() {
#ifdef VORNAK_AVX2
    if (avx2Usable()) return avx2PlainWalks();
#endif
    return PLAIN_WALKS;
}

TriangleWalk plainSpanWalk(SpanKind kind, SpanStage stage, uint8_t depthWrite, uint8_t func,
                           uint8_t smooth) {
    if (kind == SpanKind::TEXTURED) return nullptr;
    const int shading =
        kind == SpanKind::TEXTURED_POWER_OF_TWO && smooth ? 3 : static_cast<int>(kind);
    if (func == 1) {
        return stage == SpanStage::NONE && depthWrite == 0 ? plainWalks().always[shading] : nullptr;
    }
    if (func != 2) return nullptr;
    return plainWalks().less[shading][static_cast<int>(stage)][depthWrite];
}
#endif
#else
TriangleWalk plainSpanWalk(SpanKind, SpanStage, uint8_t, uint8_t, uint8_t) {
    return nullptr;
}
#endif

#ifndef VORNAK_AVX2_WALKS_ONLY
FusedSpanLoop stagedSpanLoop(uint8_t func) {
    return STAGED_SPANS[func];
}
#endif

}  // namespace

#ifdef VORNAK_AVX2_WALKS_ONLY
const PlainWalks& avx2PlainWalks() {
    return PLAIN_WALKS;
}
#endif
