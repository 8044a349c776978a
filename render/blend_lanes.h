// The blend arithmetic in unsigned 16-bit lanes, two pixels to a register,
// and the products of the pairs of source-derived factor codes: the blend
// objects and the fused span loops share them. Included by blend_op.cpp and
// fused_spans.cpp.
#pragma once

#include <cstdint>

#include "render/lanes.h"
#include "render/sgl.h"

namespace {

// Eight unsigned 16-bit lanes hold two pixels (R, G, B, A, R, G, B, A).
struct Lanes {
    Ints4 v;
};

inline Lanes operator+(Lanes a, Lanes b) {
    return {addWords(a.v, b.v)};
}
inline Lanes operator-(Lanes a, Lanes b) {
    return {subtractWords(a.v, b.v)};
}
// Low 16 bits of the product; every product here is at most 256 x 255.
inline Lanes operator*(Lanes a, Lanes b) {
    return {multiplyWords(a.v, b.v)};
}
inline Lanes shiftDown8(Lanes a) {
    return {shiftDownWords8(a.v)};
}
inline Lanes addSaturated(Lanes a, Lanes b) {
    return {addSaturatedWords(a.v, b.v)};
}
inline Lanes splat(uint16_t x) {
    return {splatWord(x)};
}
inline Lanes alphaOf(Lanes a) {
    return {alphaWords(a.v)};
}
inline Lanes perChannel(const uint16_t f[4]) {
    return {wordsTwice(f)};
}

template <uint8_t SrcCode>
inline Lanes sourceProduct(Lanes s) {
    switch (SrcCode) {
        case BLEND_SRC_COLOR:
            return (s + splat(1)) * s;
        case BLEND_SRC_ALPHA:
            return (alphaOf(s) + splat(1)) * s;
        case BLEND_ONE_MINUS_SRC_COLOR:
            return (splat(256) - s) * s;
        default:
            return (splat(256) - alphaOf(s)) * s;
    }
}

template <uint8_t SrcCode, uint8_t DstCode>
inline Lanes destinationProduct(Lanes s, Lanes d) {
    switch (DstCode) {
        case BLEND_SRC_COLOR:
            // After a colour source factor the SRC_COLOR destination term swaps
            // its operands; the picture depends on this.
            if (SrcCode == BLEND_SRC_COLOR || SrcCode == BLEND_ONE_MINUS_SRC_COLOR)
                return (d + splat(1)) * s;
            return (s + splat(1)) * d;
        case BLEND_SRC_ALPHA:
            return (alphaOf(s) + splat(1)) * d;
        case BLEND_ONE_MINUS_SRC_COLOR:
            return (splat(256) - s) * d;
        default:
            return (splat(256) - alphaOf(s)) * d;
    }
}

// Four pixels of the source pair (SrcCode, DstCode) at once:
// min(65535, P + Q) >> 8 on each half, saturated to bytes in the pack.
template <uint8_t SrcCode, uint8_t DstCode>
[[gnu::always_inline]] inline Ints4 sourcePairPixels(Ints4 s, Ints4 d) {
    auto kernel = [](Lanes sl, Lanes dl) {
        return shiftDown8(
            addSaturated(sourceProduct<SrcCode>(sl), destinationProduct<SrcCode, DstCode>(sl, dl)));
    };
    const Lanes low = kernel(Lanes{lowPixelsAsWords(s)}, Lanes{lowPixelsAsWords(d)});
    const Lanes high = kernel(Lanes{highPixelsAsWords(s)}, Lanes{highPixelsAsWords(d)});
    return packWords(low.v, high.v);
}

}  // namespace
