// The passes of the fused span loops over one span: depths, texels, smooth
// colours, the combine, the depth test and the writes, each giving the bytes
// of the stage it stands for. Included by fused_spans.cpp alone.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "render/blend_lanes.h"
#include "render/fixed_point.h"
#include "render/lanes.h"
#include "render/rasterizer_internal.h"
#include "render/sgl.h"
#include "render/stencil_lanes.h"

namespace {

// Spans shorter than this add their depths one by one without further ado.
constexpr int32_t SHORT_SPAN = 6;

// Exponent of the unit in the last place of a nonzero finite float.
int ulpExponent(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, 4);
    const int biased = static_cast<int>((bits >> 23) & 0xFFu);
    return (biased == 0 ? 1 : biased) - 150;
}

// True when the double sums z0 + dz + dz + ... over n pixels are all exact:
// every value z0 + k dz (k < n) is then an integer multiple of the finer of the
// two units in the last place below 2^53 of it, so each addition of the chain
// gives the exact value and z0 + k x dz (k x dz is exact too) gives the same
// double, signed zeros included (an exact zero sum is +0 either way).
bool depthSumsExact(float z0, float dz, int32_t n) {
    if (!std::isfinite(z0) || !std::isfinite(dz)) return false;
    int e = 1000;
    if (z0 != 0.0f) e = ulpExponent(z0);
    if (dz != 0.0f) e = std::min(e, ulpExponent(dz));
    if (e == 1000) return true;
    const double bound = std::fabs(double{z0}) + double(n) * std::fabs(double{dz});
    // 2^(e + 52), a margin of two below the limit for the rounding of bound.
    const uint64_t limitBits = static_cast<uint64_t>(e + 52 + 1023) << 52;
    double limit;
    std::memcpy(&limit, &limitBits, 8);
    return bound < limit;
}

// The pixel count rounded up to whole rounds of four: the texel gathering
// works on whole rounds, and the values of pixels past the span are never used.
[[gnu::always_inline]] inline int32_t wholeRounds(int32_t n) {
    return (n + 3) & ~3;
}

// The values z0 + k x dz of successive rounds of four pixels, k from 0, in
// double: what the chain of additions gives where depthSumsExact holds. Two
// counters, each stepped by four, keep the chain from one round to the next
// to a single addition.
struct ExactDepthRounds {
    Doubles2 start;
    Doubles2 step;
    Doubles2 k01 = doubles2(0.0, 1.0);
    Doubles2 k23 = doubles2(2.0, 3.0);

    ExactDepthRounds(float z0, float dz) : start(splatDouble(z0)), step(splatDouble(dz)) {}

    [[gnu::always_inline]] void next(Doubles2& z01, Doubles2& z23) {
        z01 = start + k01 * step;
        z23 = start + k23 * step;
        const Doubles2 four = splatDouble(4.0);
        k01 = k01 + four;
        k23 = k23 + four;
    }
    // The same rounded to the depths' floats.
    [[gnu::always_inline]] Floats4 next() {
        Doubles2 z01, z23;
        next(z01, z23);
        return roundToFloats(z01, z23);
    }
};

// invW[i] = z0 + dz + ... + dz (i additions) in double precision, and with a
// depth array also depth[i] = float(invW[i]); invW and depth are filled for
// wholeRounds(n) pixels.
[[gnu::always_inline]] inline void fillInvW(double* invW, float* depth, float z0, float dz,
                                            int32_t n) {
    const int32_t rounds = wholeRounds(n);
    if (n >= SHORT_SPAN && depthSumsExact(z0, dz, n)) {
        ExactDepthRounds exact(z0, dz);
        for (int32_t i = 0; i < rounds; i += 4) {
            Doubles2 z01, z23;
            exact.next(z01, z23);
            storeDoubles2(invW + i, z01);
            storeDoubles2(invW + i + 2, z23);
            if (depth != nullptr) storeFloats4(depth + i, roundToFloats(z01, z23));
        }
        // z0 + 0 x dz turns -0 into +0; the chain starts with z0 itself.
        if (z0 == 0.0f && std::signbit(z0)) {
            invW[0] = z0;
            if (depth != nullptr) depth[0] = z0;
        }
        return;
    }
    // Four values a round, kept in registers: a vector load of values just
    // stored one by one would stall.
    double z = z0;
    const double step = dz;
    for (int32_t i = 0; i < rounds; i += 4) {
        const double z1 = z + step;
        const double z2 = z1 + step;
        const double z3 = z2 + step;
        const Doubles2 z01 = doubles2(z, z1);
        const Doubles2 z23 = doubles2(z2, z3);
        storeDoubles2(invW + i, z01);
        storeDoubles2(invW + i + 2, z23);
        if (depth != nullptr) storeFloats4(depth + i, roundToFloats(z01, z23));
        z = z3 + step;
    }
}

// depth[i] = float(z0 + dz + ... + dz), as the stage-by-stage path stores it.
[[gnu::always_inline]] inline void fillDepths(float* depth, float z0, float dz, int32_t n) {
    if (n >= SHORT_SPAN && depthSumsExact(z0, dz, n)) {
        ExactDepthRounds rounds(z0, dz);
        int32_t i = 0;
        for (; i + 4 <= n; i += 4) storeFloats4(depth + i, rounds.next());
        for (; i < n; ++i) depth[i] = static_cast<float>(double{z0} + double(i) * double{dz});
        // z0 + 0 x dz turns -0 into +0; the chain starts with z0 itself.
        if (n > 0 && z0 == 0.0f && std::signbit(z0)) depth[0] = z0;
        return;
    }
    double z = z0;
    int32_t i = 0;
    // Four values per store, as the fused loops load them.
    for (; i + 4 <= n; i += 4) {
        const float d0 = static_cast<float>(z);
        z += dz;
        const float d1 = static_cast<float>(z);
        z += dz;
        const float d2 = static_cast<float>(z);
        z += dz;
        const float d3 = static_cast<float>(z);
        z += dz;
        storeFloats4(depth + i, floats4(d0, d1, d2, d3));
    }
    for (; i < n; ++i) {
        depth[i] = static_cast<float>(z);
        z += dz;
    }
}

// Texel lookup of one texture: where the texel under (s, t) is, the wrap of
// both coordinates into the texture included.
template <bool PowerOfTwo>
struct TexelLookup {
    const uint8_t* base;
    std::ptrdiff_t pitch;
    int32_t width;
    int32_t height;
    uint32_t maskS;
    uint32_t maskT;

    explicit TexelLookup(const TriangleSetup& ts)
        : base(ts.textureBase),
          pitch(ts.texturePitch),
          width(ts.textureWidth),
          height(ts.textureHeight),
          maskS(static_cast<uint32_t>(width - 1)),
          maskT(static_cast<uint32_t>(height - 1)) {}

    static uint32_t wrap(int32_t v, int32_t size, uint32_t mask) {
        if constexpr (PowerOfTwo) {
            (void)size;
            return static_cast<uint32_t>(v) & mask;
        } else {
            (void)mask;
            const int32_t r = v % size;
            return static_cast<uint32_t>(r < 0 ? r + size : r);
        }
    }

    uint32_t texel(int32_t s, int32_t t) const {
        uint32_t value;
        std::memcpy(&value,
                    base + static_cast<std::ptrdiff_t>(wrap(t, height, maskT)) * pitch +
                        static_cast<std::ptrdiff_t>(wrap(s, width, maskS)) * 4,
                    4);
        return value;
    }
};

// Four pixels' texels at a time. s/w and t/w advance together in lanes 0 and
// 1, each lane adding its own step in the same order as one by one; the
// products and truncations are the scalar ones lane by lane.
template <bool PowerOfTwo>
struct TexelRounds {
    TexelLookup<PowerOfTwo> lookup;
    Floats4 step;
    // A power-of-two texture stored without padding: the texel index is
    // (t << log2 width) | s, four at a time.
    bool indexed;
    int shift;
    Ints4 wrapS;
    Ints4 wrapT;

    TexelRounds(const TriangleSetup& ts, float ds, float dt)
        : lookup(ts),
          step(floats4(ds, dt, 0.0f, 0.0f)),
          indexed(PowerOfTwo && lookup.pitch == static_cast<std::ptrdiff_t>(lookup.width) * 4),
          shift(indexed ? __builtin_ctz(static_cast<unsigned>(lookup.width)) : 0),
          wrapS(splatPixel(lookup.maskS)),
          wrapT(splatPixel(lookup.maskT)) {}

    // The texel of one pixel, as round finds it for its first.
    [[gnu::always_inline]] uint32_t single(double invW, float sOverW, float tOverW) const {
        int32_t s, t;
        texelCoordinate(sOverW, tOverW, 1.0 / invW, s, t);
        if (indexed) {
            const uint32_t index = (static_cast<uint32_t>(t) & lookup.maskT) << shift |
                                   (static_cast<uint32_t>(s) & lookup.maskS);
            uint32_t texel;
            std::memcpy(&texel, lookup.base + static_cast<std::ptrdiff_t>(index) * 4, 4);
            return texel;
        }
        return lookup.texel(s, t);
    }

    // The texels of the four pixels whose 1/w are invW01 and invW23 and whose
    // (s/w, t/w) starts at st into out; st moves on to the pixel after them.
    // Short spans take the texel indices straight from the register (a
    // shorter wait for the texels); long ones store and load them, which
    // their loop runs faster.
    template <bool Short = false>
    [[gnu::always_inline]] void round(Doubles2 invW01, Doubles2 invW23, Floats4& st,
                                      uint8_t* out) const {
        const Doubles2 one = splatDouble(1.0);
        const Doubles2 w01 = one / invW01;
        const Doubles2 w23 = one / invW23;
        const Floats4 st0 = st;
        const Floats4 st1 = st0 + step;
        const Floats4 st2 = st1 + step;
        const Floats4 st3 = st2 + step;
        st = st3 + step;
        Ints4 sv, tv;
        texelCoordinates(st0, st1, st2, st3, w01, w23, sv, tv);
        if (indexed) {
            const Ints4 indexes =
                orBits(shiftLeft32(andBits(tv, wrapT), shift), andBits(sv, wrapS));
            uint32_t index[4];
            if constexpr (Short) {
                uint64_t index01, index23;
                lanePairs(indexes, index01, index23);
                index[0] = static_cast<uint32_t>(index01);
                index[1] = static_cast<uint32_t>(index01 >> 32);
                index[2] = static_cast<uint32_t>(index23);
                index[3] = static_cast<uint32_t>(index23 >> 32);
            } else {
                storeInts4(index, indexes);
            }
            for (int j = 0; j < 4; ++j) {
                std::memcpy(out + j * 4, lookup.base + static_cast<std::ptrdiff_t>(index[j]) * 4,
                            4);
            }
        } else {
            int32_t ss[4];
            int32_t ts4[4];
            storeInts4(ss, sv);
            storeInts4(ts4, tv);
            for (int j = 0; j < 4; ++j) {
                const uint32_t texel = lookup.texel(ss[j], ts4[j]);
                std::memcpy(out + j * 4, &texel, 4);
            }
        }
    }
};

// The texels of a span into texels (4 bytes per pixel), as generateColours
// finds them, for every pixel whether alive or not: reading has no effect.
// invW holds wholeRounds(n) values.
template <bool PowerOfTwo>
void gatherTexels(const TriangleSetup& ts, uint8_t* texels, const double* invW, int32_t n,
                  float sOverW, float ds, float tOverW, float dt) {
    const TexelRounds<PowerOfTwo> rounds(ts, ds, dt);
    Floats4 st = floats4(sOverW, tOverW, 0.0f, 0.0f);
    // Whole rounds, past the span's end too: invW is filled that far, every
    // texel index lands inside the texture, and the texel array has room.
    for (int32_t i = 0; i < n; i += 4) {
        rounds.round(loadDoubles2(invW + i), loadDoubles2(invW + i + 2), st, texels + i * 4);
    }
}

// The 8.8 running colour of pixels k and k + 1 (colour + k x step modulo
// 65536), one 16-bit lane per channel.
[[gnu::always_inline]] inline Ints4 smoothPair(const uint16_t* color, const uint16_t* colorStep,
                                               uint32_t k) {
    // The low 16 bits of the lane products are the products modulo 65536.
    return addWords(wordsTwice(color),
                    multiplyWords(wordsTwice(colorStep), wordHalves(static_cast<uint16_t>(k),
                                                                    static_cast<uint16_t>(k + 1))));
}

// The high bytes of two pairs of running colours: four pixels' colours.
[[gnu::always_inline]] inline Ints4 colorBytes(Ints4 pair01, Ints4 pair23) {
    return packWords(shiftDownWords8(pair01), shiftDownWords8(pair23));
}

// colours[i] = the 8.8 running colour's high bytes: colour + i x step, modulo 65536.
[[gnu::always_inline]] inline void smoothColors(uint8_t* colors, const uint16_t* color,
                                                const uint16_t* colorStep, int32_t n) {
    int32_t i = 0;
    // Two pixels per register, four per round; short spans go one by one.
    if (n >= 4) {
        Ints4 a01 = smoothPair(color, colorStep, 0);
        Ints4 a23 = smoothPair(color, colorStep, 2);
        const Ints4 step4 = subtractWords(smoothPair(color, colorStep, 4), a01);
        for (; i + 4 <= n; i += 4) {
            storeInts4(colors + i * 4, colorBytes(a01, a23));
            a01 = addWords(a01, step4);
            a23 = addWords(a23, step4);
        }
    }
    uint16_t acc[4];
    for (int c = 0; c < 4; ++c) {
        acc[c] = static_cast<uint16_t>(color[c] + static_cast<uint32_t>(i) * colorStep[c]);
    }
    for (; i < n; ++i) {
        // One 4-byte store per pixel, which a 4-byte load of the pixel can take over.
        uint8_t pixel[4];
        for (int c = 0; c < 4; ++c) {
            pixel[c] = static_cast<uint8_t>(acc[c] >> 8);
            acc[c] = add16(acc[c], colorStep[c]);
        }
        std::memcpy(colors + i * 4, pixel, 4);
    }
}

// The flat colour's four bytes as one pixel.
[[gnu::always_inline]] inline uint32_t flatPixel(const uint8_t* flat) {
    uint32_t bits;
    std::memcpy(&bits, flat, 4);
    return bits;
}

// Depth test, plain colour write and depth write in one pass. fragments is
// null for one flat colour.
template <uint8_t Func, bool Write>
[[gnu::always_inline]] inline void writeSpan(const float* depth, float* depthRow,
                                             const uint8_t* fragments, const uint8_t* flat,
                                             uint8_t* colorRow, int32_t n) {
    int32_t i = 0;
    const Ints4 flat4 = splatPixel(flatPixel(flat));
    for (; i + 4 <= n; i += 4) {
        Ints4 pass = allOnes();
        Floats4 z = zeroFloats();
        Floats4 stored = zeroFloats();
        if constexpr (Func > 1 || Write) z = loadFloats4(depth + i);
        if constexpr (Func > 1 || Write) stored = loadFloats4(depthRow + i);
        if constexpr (Func > 1) pass = depthPasses4<Func>(z, stored);
        uint8_t* out = colorRow + i * 4;
        const Ints4 source = fragments != nullptr ? loadInts4(fragments + i * 4) : flat4;
        if constexpr (Func > 1) {
            storeInts4(out, selectBits(pass, source, loadInts4(out)));
        } else {
            storeInts4(out, source);
        }
        if constexpr (Write) {
            storeInts4(depthRow + i, selectBits(pass, floatBits(z), floatBits(stored)));
        }
    }
    // Without branches on the comparison, which small triangles make unpredictable.
    for (; i < n; ++i) {
        uint32_t pass = ~0u;
        if constexpr (Func > 1) pass = depthPasses<Func>(depth[i], depthRow[i]) ? ~0u : 0u;
        uint32_t source, old;
        std::memcpy(&source, fragments != nullptr ? fragments + i * 4 : flat, 4);
        std::memcpy(&old, colorRow + i * 4, 4);
        const uint32_t merged = (source & pass) | (old & ~pass);
        std::memcpy(colorRow + i * 4, &merged, 4);
        if constexpr (Write) {
            uint32_t z, stored;
            std::memcpy(&z, depth + i, 4);
            std::memcpy(&stored, depthRow + i, 4);
            const uint32_t depthBits = (z & pass) | (stored & ~pass);
            std::memcpy(depthRow + i, &depthBits, 4);
        }
    }
}

// The stages a plain span loop runs between the depth test and the writes, one
// round of four pixels at a time: pass(alive, stencil row, offset) answers
// the pixels still alive, color(fragments, destination) the colours written.

// Nothing between them: the fragments are written as they are.
struct PlainRound {
    static constexpr bool STENCIL = false;
    [[gnu::always_inline]] Ints4 pass(Ints4 alive, uint8_t*, int32_t) const { return alive; }
    [[gnu::always_inline]] Ints4 color(Ints4 source, Ints4) const { return source; }
};

// Blending with the source pair (SRC_ALPHA, ONE_MINUS_SRC_ALPHA) of the
// renderer's own object.
struct AlphaBlendRound {
    static constexpr bool STENCIL = false;
    [[gnu::always_inline]] Ints4 pass(Ints4 alive, uint8_t*, int32_t) const { return alive; }
    [[gnu::always_inline]] Ints4 color(Ints4 source, Ints4 destination) const {
        return sourcePairPixels<BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA>(source, destination);
    }
};

// The stencil test of the renderer's own object for stencil functions 1 to 7
// with pixels the depth test rejected kept as they are, four pixels a round:
// the test compares (stored & valueMask) with (ref & valueMask) as unsigned
// bytes, and the alive pixels get the pass or the fail operation.
struct StencilRound {
    static constexpr bool STENCIL = true;
    StencilUpdateLanes onFail;
    StencilUpdateLanes onPass;
    Ints4 write;
    Ints4 values;
    StencilComparison comparison;

    StencilRound(uint8_t opFail, uint8_t opPass, uint8_t func, uint8_t ref, uint8_t valueMask,
                 uint8_t writeMask)
        : onFail(stencilUpdate(opFail, ref, writeMask)),
          onPass(stencilUpdate(opPass, ref, writeMask)),
          write(splatByte(writeMask)),
          values(splatByte(valueMask)),
          comparison(func, static_cast<uint8_t>(ref & valueMask)) {}

    // Tests and updates the four stored values at stencil among the pixels
    // alive (all-ones lanes); answers the pixels that passed.
    [[gnu::always_inline]] Ints4 round(Ints4 alive, uint8_t* stencil) const {
        uint32_t stored;
        std::memcpy(&stored, stencil, 4);
        const Ints4 s = onePixel(stored);
        // The four pixels' lanes as the first four mask bytes, as sixteen takes them.
        const Ints4 none = splatByte(0);
        Ints4 passing;
        const Ints4 updated = update(s, laneMaskBytes(alive, none, none, none), passing);
        const uint32_t updatedBits = firstPixel(updated);
        std::memcpy(stencil, &updatedBits, 4);
        Ints4 rounds[4];
        byteMaskLanes(passing, rounds);
        return rounds[0];
    }

    // As round, for the sixteen stored values at stencil: alive holds a mask
    // byte per pixel (all ones where alive), and the answer all ones in the
    // bytes of the pixels that passed.
    [[gnu::always_inline]] Ints4 sixteen(Ints4 alive, uint8_t* stencil) const {
        Ints4 passing;
        storeInts4(stencil, update(loadInts4(stencil), alive, passing));
        return passing;
    }

    [[gnu::always_inline]] Ints4 pass(Ints4 alive, uint8_t* stencilRow, int32_t i) const {
        return round(alive, stencilRow + i);
    }
    [[gnu::always_inline]] Ints4 color(Ints4 source, Ints4) const { return source; }

  private:
    // The stored values s updated among the alive bytes, byte by byte;
    // passing gets all ones where an alive value passed the test.
    [[gnu::always_inline]] Ints4 update(Ints4 s, Ints4 alive, Ints4& passing) const {
        const Ints4 test = comparison.passes(andBits(s, values));
        passing = andBits(alive, test);
        const Ints4 failing = andNotBits(test, alive);
        return selectBits(passing, applyStencilLanes(onPass, s, write),
                          selectBits(failing, applyStencilLanes(onFail, s, write), s));
    }
};

// One round of four pixels of roundsWriteSpan at depth, depthRow, stencil
// and out, among the lanes in span.
template <uint8_t Func, bool Write, typename Stage>
[[gnu::always_inline]] inline void roundsWriteRound(const Stage& stage, Ints4 span,
                                                    const float* depth, float* depthRow,
                                                    uint8_t* stencil, Ints4 source, uint8_t* out) {
    Ints4 pass = span;
    Floats4 z = zeroFloats();
    Floats4 stored = zeroFloats();
    if constexpr (Func > 1 || Write) z = loadFloats4(depth);
    if constexpr (Func > 1 || Write) stored = loadFloats4(depthRow);
    if constexpr (Func > 1) pass = andBits(pass, depthPasses4<Func>(z, stored));
    pass = stage.pass(pass, stencil, 0);
    const Ints4 destination = loadInts4(out);
    storeInts4(out, selectBits(pass, stage.color(source, destination), destination));
    if constexpr (Write) storeInts4(depthRow, selectBits(pass, floatBits(z), floatBits(stored)));
}

// Sixteen pixels of roundsWriteSpan with the stencil test, all of them in the
// span: the depth tests of four rounds, one stencil pass, the writes.
template <uint8_t Func, bool Write>
[[gnu::always_inline]] inline void stencilSixteen(const StencilRound& stage, const float* depth,
                                                  float* depthRow, uint8_t* stencil,
                                                  const uint8_t* fragments, Ints4 flat4,
                                                  uint8_t* out) {
    Floats4 z[4] = {};
    Floats4 stored[4] = {};
    Ints4 pass[4] = {allOnes(), allOnes(), allOnes(), allOnes()};
    for (int r = 0; r < 4; ++r) {
        if constexpr (Func > 1 || Write) {
            z[r] = loadFloats4(depth + r * 4);
            stored[r] = loadFloats4(depthRow + r * 4);
        }
        if constexpr (Func > 1) pass[r] = depthPasses4<Func>(z[r], stored[r]);
    }
    byteMaskLanes(stage.sixteen(laneMaskBytes(pass[0], pass[1], pass[2], pass[3]), stencil), pass);
    for (int r = 0; r < 4; ++r) {
        const Ints4 source = fragments != nullptr ? loadInts4(fragments + r * 16) : flat4;
        const Ints4 destination = loadInts4(out + r * 16);
        storeInts4(out + r * 16, selectBits(pass[r], source, destination));
        if constexpr (Write) {
            storeInts4(depthRow + r * 4,
                       selectBits(pass[r], floatBits(z[r]), floatBits(stored[r])));
        }
    }
}

// writeSpan with a stage between the depth test and the writes. depth and
// fragments have room for whole rounds of four; when the rows do not, the
// last round goes through copies.
template <uint8_t Func, bool Write, typename Stage>
void roundsWriteSpan(const Stage& stage, const float* depth, float* depthRow, uint8_t* stencilRow,
                     const uint8_t* fragments, const uint8_t* flat, uint8_t* colorRow, int32_t n,
                     bool roundsFit) {
    const Ints4 flat4 = splatPixel(flatPixel(flat));
    const int32_t inRows = roundsFit ? n : n & ~3;
    int32_t i = 0;
    if constexpr (Stage::STENCIL) {
        // Sixteen pixels share one pass over their stencil bytes. The stencil
        // rows are memory of their own, and each round reads and writes only
        // its own depths and colours: the order of the writes stays the same.
        for (; i + 16 <= inRows; i += 16) {
            stencilSixteen<Func, Write>(
                stage, depth + i, Func > 1 || Write ? depthRow + i : nullptr, stencilRow + i,
                fragments != nullptr ? fragments + i * 4 : nullptr, flat4, colorRow + i * 4);
        }
    }
    for (; i < inRows; i += 4) {
        roundsWriteRound<Func, Write>(
            stage, lanesBefore(n, i), depth + i, Func > 1 || Write ? depthRow + i : nullptr,
            Stage::STENCIL ? stencilRow + i : nullptr,
            fragments != nullptr ? loadInts4(fragments + i * 4) : flat4, colorRow + i * 4);
    }
    if (i < n) {
        const auto rest = static_cast<size_t>(n - i);
        alignas(16) float depths[4] = {};
        uint8_t stencils[4] = {};
        alignas(16) uint8_t colors[16] = {};
        if constexpr (Func > 1 || Write) std::memcpy(depths, depthRow + i, rest * 4);
        if constexpr (Stage::STENCIL) std::memcpy(stencils, stencilRow + i, rest);
        std::memcpy(colors, colorRow + i * 4, rest * 4);
        roundsWriteRound<Func, Write>(stage, lanesBefore(n, i), depth + i, depths, stencils,
                                      fragments != nullptr ? loadInts4(fragments + i * 4) : flat4,
                                      colors);
        // Colours before depths, as the rows may be one Surface.
        if constexpr (Stage::STENCIL) std::memcpy(stencilRow + i, stencils, rest);
        std::memcpy(colorRow + i * 4, colors, rest * 4);
        if constexpr (Write) std::memcpy(depthRow + i, depths, rest * 4);
    }
}

// writeSpan for one flat colour with depths whose sums are exact (see
// depthSumsExact; z0 not -0): each round's depths made where they are used,
// as fillDepths makes them, instead of going through an array.
template <uint8_t Func, bool Write>
void flatExactSpan(float z0, float dz, float* depthRow, const uint8_t* flat, uint8_t* colorRow,
                   int32_t n) {
    ExactDepthRounds rounds(z0, dz);
    const uint32_t flatBits = flatPixel(flat);
    const Ints4 flat4 = splatPixel(flatBits);
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const Floats4 z = rounds.next();
        const Floats4 stored = loadFloats4(depthRow + i);
        uint8_t* out = colorRow + i * 4;
        Ints4 pass = allOnes();
        if constexpr (Func > 1) {
            pass = depthPasses4<Func>(z, stored);
            storeInts4(out, selectBits(pass, flat4, loadInts4(out)));
        } else {
            storeInts4(out, flat4);
        }
        if constexpr (Write) {
            storeInts4(depthRow + i, selectBits(pass, floatBits(z), floatBits(stored)));
        }
    }
    for (; i < n; ++i) {
        const float z = static_cast<float>(double{z0} + double(i) * double{dz});
        if constexpr (Func > 1) {
            if (!depthPasses<Func>(z, depthRow[i])) continue;
        }
        std::memcpy(colorRow + i * 4, &flatBits, 4);
        if constexpr (Write) depthRow[i] = z;
    }
}

// roundsWriteSpan for smooth colours, a stage other than the stencil test,
// depths whose sums are exact (see depthSumsExact; z0 not -0) and rows with
// room for the last round of four: each round's depths and colours made
// where they are used, as fillDepths and smoothColors make them, instead of
// going through arrays.
template <uint8_t Func, bool Write, typename Stage>
void smoothExactSpan(const Stage& stage, float z0, float dz, float* depthRow, const uint16_t* color,
                     const uint16_t* colorStep, uint8_t* colorRow, int32_t n) {
    ExactDepthRounds rounds(z0, dz);
    Ints4 a01 = smoothPair(color, colorStep, 0);
    Ints4 a23 = smoothPair(color, colorStep, 2);
    const Ints4 step4 = subtractWords(smoothPair(color, colorStep, 4), a01);
    for (int32_t i = 0; i < n; i += 4) {
        const Floats4 z = rounds.next();
        const Ints4 source = colorBytes(a01, a23);
        a01 = addWords(a01, step4);
        a23 = addWords(a23, step4);
        const Floats4 stored = loadFloats4(depthRow + i);
        Ints4 pass = lanesBefore(n, i);
        if constexpr (Func > 1) pass = andBits(pass, depthPasses4<Func>(z, stored));
        pass = stage.pass(pass, nullptr, 0);
        uint8_t* out = colorRow + i * 4;
        const Ints4 destination = loadInts4(out);
        storeInts4(out, selectBits(pass, stage.color(source, destination), destination));
        if constexpr (Write) {
            storeInts4(depthRow + i, selectBits(pass, floatBits(z), floatBits(stored)));
        }
    }
}

// The depth test alone into mask (0 alive, 255 rejected); 1 if a pixel passed.
template <uint8_t Func>
uint8_t maskSpan(const float* depth, const float* depthRow, uint8_t* mask, int32_t n) {
    if constexpr (Func <= 1) {
        std::memset(mask, 0, static_cast<uint16_t>(n));
        return n > 0 ? 1 : 0;
    } else {
        uint8_t any = 0;
        int32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            const Ints4 pass =
                depthPasses4<Func>(loadFloats4(depth + i), loadFloats4(depthRow + i));
            any |= anyLane(pass) ? 1 : 0;
            storeMaskBytes(pass, mask + i);
        }
        for (; i < n; ++i) {
            const bool pass = depthPasses<Func>(depth[i], depthRow[i]);
            mask[i] = pass ? 0 : 255;
            any |= pass ? 1 : 0;
        }
        return any;
    }
}

// The built-in texture environment's arithmetic over every pixel of a span
// (modes 1 modulate (a x b + b) >> 8, 2 add up to 255, 3 subtract down to 0;
// mode 0 is a copy the callers skip): out = a op b, b one colour if constant.
// out may be a.
template <uint8_t Mode>
void combineSpanIn(const uint8_t* a, const uint8_t* b, bool constant, uint8_t* out, int32_t n) {
    int32_t i = 0;
    uint32_t k = 0;
    if (constant) std::memcpy(&k, b, 4);
    const Ints4 splat = splatPixel(k);
    for (; i + 4 <= n; i += 4) {
        const Ints4 y = constant ? splat : loadInts4(b + i * 4);
        storeInts4(out + i * 4, combinePixels<Mode>(loadInts4(a + i * 4), y));
    }
    // The last pixels one per register.
    for (; i < n; ++i) {
        uint32_t x, y;
        std::memcpy(&x, a + i * 4, 4);
        std::memcpy(&y, constant ? b : b + i * 4, 4);
        const uint32_t r = firstPixel(combinePixels<Mode>(onePixel(x), onePixel(y)));
        std::memcpy(out + i * 4, &r, 4);
    }
}

[[gnu::always_inline]] inline void combineSpan(const uint8_t* a, const uint8_t* b, bool constant,
                                               uint8_t* out, uint8_t mode, int32_t n) {
    switch (mode) {
        case SGL_MODULATE:
            return combineSpanIn<SGL_MODULATE>(a, b, constant, out, n);
        case SGL_ADD:
            return combineSpanIn<SGL_ADD>(a, b, constant, out, n);
        default:
            return combineSpanIn<SGL_SUBTRACT>(a, b, constant, out, n);
    }
}

// Copies the 4-byte values (colours or depths) of the alive pixels (mask
// byte 0) from `from` into row, bit for bit.
inline void copyAlive(const void* from, void* to, const uint8_t* mask, int32_t n) {
    const auto* fragments = static_cast<const uint8_t*>(from);
    auto* row = static_cast<uint8_t*>(to);
    int32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint8_t* out = row + i * 4;
        storeInts4(out,
                   selectBits(aliveLanes(mask + i), loadInts4(fragments + i * 4), loadInts4(out)));
    }
    for (; i < n; ++i) {
        if (mask[i] == 0) std::memcpy(row + i * 4, fragments + i * 4, 4);
    }
}

}  // namespace
