// Blend objects. The general one reads a per-span description of its two
// factors; the fast ones are instantiated per factor code so that their loops
// carry no branch on the state. The fast arithmetic is that of unsigned 16-bit
// lanes: every product is at most 256 x 255 = 65280, sums saturate at 65535 and
// the result saturates at 255.
#include "render/blend_op.h"

#include <algorithm>

#include "render/sgl.h"

namespace {

constexpr unsigned A = 3;

constexpr uint8_t FACTOR_CODES[14] = {
    BLEND_ZERO,
    BLEND_ONE,
    BLEND_SRC_COLOR,
    BLEND_SRC_ALPHA,
    BLEND_ONE_MINUS_SRC_COLOR,
    BLEND_ONE_MINUS_SRC_ALPHA,
    BLEND_DST_COLOR,
    BLEND_DST_ALPHA,
    BLEND_ONE_MINUS_DST_COLOR,
    BLEND_ONE_MINUS_DST_ALPHA,
    BLEND_CONSTANT_COLOR,
    BLEND_CONSTANT_ALPHA,
    BLEND_ONE_MINUS_CONSTANT_COLOR,
    BLEND_ONE_MINUS_CONSTANT_ALPHA,
};

// A factor code as f_j = add + sign x V[channel[j]], where V is the source
// pixel, the destination pixel or the blend colour.
struct Factor {
    enum From : uint8_t { SOURCE, DESTINATION, CONSTANT };
    From from = SOURCE;
    int add = 0;
    int sign = 0;
    uint8_t channel[4] = {0, 1, 2, 3};
};

Factor describe(uint8_t code) {
    Factor f;
    const uint8_t origin = code >> 4;
    const uint8_t what = code & 0x0F;
    const bool known =
        (origin == 0 && what <= 5) || ((origin == 2 || origin == 4) && what >= 2 && what <= 5);
    if (!known || what == 0) return f;  // ZERO
    if (what == 1) {
        f.add = 256;
        return f;
    }
    f.from = origin == 0 ? Factor::SOURCE : origin == 2 ? Factor::DESTINATION : Factor::CONSTANT;
    f.add = what <= 3 ? 1 : 256;
    f.sign = what <= 3 ? 1 : -1;
    if (what == 3 || what == 5) std::fill(f.channel, f.channel + 4, uint8_t{A});
    return f;
}

inline int factorValue(const Factor& f, const uint8_t* const from[3], unsigned j) {
    return f.add + f.sign * from[f.from][f.channel[j]];
}

inline uint8_t saturate(unsigned v) {
    return static_cast<uint8_t>(v > 255 ? 255 : v);
}

// Applies pixel(s, d, o) to every alive pixel of the span.
template <typename Pixel>
void forAlive(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask, uint16_t n,
              Pixel pixel) {
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] != 0) continue;
        pixel(src + i * 4, dst + i * 4, out + i * 4);
    }
}

template <uint8_t Code>
void blendConstantOne(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                      uint16_t n) {
    uint8_t k[4];
    sglGetBlendColor(k);
    unsigned f[4];
    for (unsigned j = 0; j < 4; ++j) {
        switch (Code) {
            case BLEND_CONSTANT_COLOR:
                f[j] = k[j] + 1u;
                break;
            case BLEND_CONSTANT_ALPHA:
                f[j] = k[A] + 1u;
                break;
            case BLEND_ONE_MINUS_CONSTANT_COLOR:
                f[j] = 256u - k[j];
                break;
            default:
                f[j] = 256u - k[A];
                break;
        }
    }
    forAlive(src, dst, out, mask, n, [&f](const uint8_t* s, const uint8_t* d, uint8_t* o) {
        for (unsigned j = 0; j < 4; ++j) o[j] = saturate(((f[j] * s[j]) >> 8) + d[j]);
    });
}

template <uint8_t Code>
void blendDestinationOne(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                         uint16_t n) {
    forAlive(src, dst, out, mask, n, [](const uint8_t* s, const uint8_t* d, uint8_t* o) {
        uint8_t t[4];
        for (unsigned j = 0; j < 4; ++j) {
            unsigned product;
            switch (Code) {
                case BLEND_DST_COLOR:
                    product = (s[j] + 1u) * d[j];
                    break;
                case BLEND_DST_ALPHA:
                    product = (s[j] + 1u) * d[A];
                    break;
                case BLEND_ONE_MINUS_DST_COLOR:
                    product = (256u - d[j]) * s[j];
                    break;
                default:
                    product = (256u - d[A]) * s[j];
                    break;
            }
            t[j] = static_cast<uint8_t>(product >> 8);
        }
        for (unsigned j = 0; j < 4; ++j) o[j] = saturate(unsigned{t[j]} + d[j]);
    });
}

template <uint8_t SrcCode>
inline unsigned sourceProduct(const uint8_t* s, unsigned j) {
    switch (SrcCode) {
        case BLEND_SRC_COLOR:
            return (s[j] + 1u) * s[j];
        case BLEND_SRC_ALPHA:
            return (s[A] + 1u) * s[j];
        case BLEND_ONE_MINUS_SRC_COLOR:
            return (256u - s[j]) * s[j];
        default:
            return (256u - s[A]) * s[j];
    }
}

template <uint8_t SrcCode, uint8_t DstCode>
inline unsigned destinationProduct(const uint8_t* s, const uint8_t* d, unsigned j) {
    switch (DstCode) {
        case BLEND_SRC_COLOR:
            // With a colour source factor the destination SRC_COLOR term swaps
            // its operands; the picture depends on this.
            if (SrcCode == BLEND_SRC_COLOR || SrcCode == BLEND_ONE_MINUS_SRC_COLOR)
                return (d[j] + 1u) * s[j];
            return (s[j] + 1u) * d[j];
        case BLEND_SRC_ALPHA:
            return (s[A] + 1u) * d[j];
        case BLEND_ONE_MINUS_SRC_COLOR:
            return (256u - s[j]) * d[j];
        default:
            return (256u - s[A]) * d[j];
    }
}

template <uint8_t SrcCode, uint8_t DstCode>
void blendSourcePair(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                     uint16_t n) {
    forAlive(src, dst, out, mask, n, [](const uint8_t* s, const uint8_t* d, uint8_t* o) {
        uint8_t result[4];
        for (unsigned j = 0; j < 4; ++j) {
            const unsigned sum =
                sourceProduct<SrcCode>(s, j) + destinationProduct<SrcCode, DstCode>(s, d, j);
            result[j] = static_cast<uint8_t>(std::min(sum, 65535u) >> 8);
        }
        for (unsigned j = 0; j < 4; ++j) o[j] = result[j];
    });
}

using SpanBlend = void (*)(const uint8_t*, const uint8_t*, uint8_t*, const uint8_t*, uint16_t);

template <uint8_t SrcCode>
constexpr SpanBlend sourcePairRow(uint8_t dstCode) {
    switch (dstCode) {
        case BLEND_SRC_COLOR:
            return blendSourcePair<SrcCode, BLEND_SRC_COLOR>;
        case BLEND_SRC_ALPHA:
            return blendSourcePair<SrcCode, BLEND_SRC_ALPHA>;
        case BLEND_ONE_MINUS_SRC_COLOR:
            return blendSourcePair<SrcCode, BLEND_ONE_MINUS_SRC_COLOR>;
        case BLEND_ONE_MINUS_SRC_ALPHA:
            return blendSourcePair<SrcCode, BLEND_ONE_MINUS_SRC_ALPHA>;
        default:
            return nullptr;
    }
}

SpanBlend sourcePairBlend(uint8_t srcCode, uint8_t dstCode) {
    switch (srcCode) {
        case BLEND_SRC_COLOR:
            return sourcePairRow<BLEND_SRC_COLOR>(dstCode);
        case BLEND_SRC_ALPHA:
            return sourcePairRow<BLEND_SRC_ALPHA>(dstCode);
        case BLEND_ONE_MINUS_SRC_COLOR:
            return sourcePairRow<BLEND_ONE_MINUS_SRC_COLOR>(dstCode);
        case BLEND_ONE_MINUS_SRC_ALPHA:
            return sourcePairRow<BLEND_ONE_MINUS_SRC_ALPHA>(dstCode);
        default:
            return nullptr;
    }
}

int enumerateWithOne(FragmentKey& key, unsigned index, uint8_t firstCode) {
    if (index >= 4) return 0;
    key.part[0] = static_cast<uint8_t>(firstCode + index);
    key.part[1] = BLEND_ONE;
    return 1;
}

}  // namespace

int BlendOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= 14 * 14) return 0;
    key.part[0] = FACTOR_CODES[index % 14];
    key.part[1] = FACTOR_CODES[index / 14];
    return 1;
}

void BlendOp::blend(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                    uint8_t srcCode, uint8_t dstCode, uint16_t n) const {
    if (srcCode == BLEND_ZERO && dstCode == BLEND_ONE && dst == out) return;
    uint8_t k[4];
    sglGetBlendColor(k);
    const Factor sf = describe(srcCode);
    const Factor df = describe(dstCode);
    forAlive(src, dst, out, mask, n, [&](const uint8_t* s, const uint8_t* d, uint8_t* o) {
        const uint8_t* const from[3] = {s, d, k};
        uint8_t result[4];
        for (unsigned j = 0; j < 4; ++j) {
            const unsigned sourceTerm = unsigned(factorValue(sf, from, j) * s[j]) >> 8;
            const unsigned destinationTerm = unsigned(factorValue(df, from, j) * d[j]) >> 8;
            result[j] = saturate(sourceTerm + destinationTerm);
        }
        // Written after all four channels are read, so out may alias src or dst.
        for (unsigned j = 0; j < 4; ++j) o[j] = result[j];
    });
}

int BlendConstantOneOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateWithOne(key, index, BLEND_CONSTANT_COLOR);
}

void BlendConstantOneOp::blend(const uint8_t* src, const uint8_t* dst, uint8_t* out,
                               const uint8_t* mask, uint8_t srcCode, uint8_t, uint16_t n) const {
    switch (srcCode) {
        case BLEND_CONSTANT_COLOR:
            return blendConstantOne<BLEND_CONSTANT_COLOR>(src, dst, out, mask, n);
        case BLEND_CONSTANT_ALPHA:
            return blendConstantOne<BLEND_CONSTANT_ALPHA>(src, dst, out, mask, n);
        case BLEND_ONE_MINUS_CONSTANT_COLOR:
            return blendConstantOne<BLEND_ONE_MINUS_CONSTANT_COLOR>(src, dst, out, mask, n);
        case BLEND_ONE_MINUS_CONSTANT_ALPHA:
            return blendConstantOne<BLEND_ONE_MINUS_CONSTANT_ALPHA>(src, dst, out, mask, n);
        default:
            return;
    }
}

int BlendDestinationOneOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateWithOne(key, index, BLEND_DST_COLOR);
}

void BlendDestinationOneOp::blend(const uint8_t* src, const uint8_t* dst, uint8_t* out,
                                  const uint8_t* mask, uint8_t srcCode, uint8_t, uint16_t n) const {
    switch (srcCode) {
        case BLEND_DST_COLOR:
            return blendDestinationOne<BLEND_DST_COLOR>(src, dst, out, mask, n);
        case BLEND_DST_ALPHA:
            return blendDestinationOne<BLEND_DST_ALPHA>(src, dst, out, mask, n);
        case BLEND_ONE_MINUS_DST_COLOR:
            return blendDestinationOne<BLEND_ONE_MINUS_DST_COLOR>(src, dst, out, mask, n);
        case BLEND_ONE_MINUS_DST_ALPHA:
            return blendDestinationOne<BLEND_ONE_MINUS_DST_ALPHA>(src, dst, out, mask, n);
        default:
            return;
    }
}

int BlendSourcePairOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= 16) return 0;
    key.part[0] = static_cast<uint8_t>(BLEND_SRC_COLOR + index / 4);
    key.part[1] = static_cast<uint8_t>(BLEND_SRC_COLOR + index % 4);
    return 1;
}

void BlendSourcePairOp::blend(const uint8_t* src, const uint8_t* dst, uint8_t* out,
                              const uint8_t* mask, uint8_t srcCode, uint8_t dstCode,
                              uint16_t n) const {
    const SpanBlend run = sourcePairBlend(srcCode, dstCode);
    if (run != nullptr) run(src, dst, out, mask, n);
}
