// Blend objects. All of them compute in unsigned 16-bit lanes, two pixels at a
// time: every product is at most 256 x 255 = 65280, sums saturate at 65535 and
// the result saturates at 255 when it is packed into bytes. The general object
// has loops per pair of factor sources, the rest of each factor worked out per
// span; the fast ones are instantiated per factor code, so their loops carry
// no branch on the state.
#include "render/blend_op.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include "render/avx2.h"
#include "render/blend_lanes.h"
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

// A factor code as f_j = add + sign x V_j, where V is the source pixel, the
// destination pixel or the blend colour, or its alpha in every channel.
struct Factor {
    enum From : uint8_t { SOURCE, DESTINATION, CONSTANT };
    From from = SOURCE;
    int add = 0;
    int sign = 0;
    bool alpha = false;
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
    f.alpha = what == 3 || what == 5;
    return f;
}

// Runs round(source pixels, destination pixels), which gives four result
// pixels, over the span's whole rounds of four: rounds whose four pixels are
// all rejected are skipped, the others store the pixels whose mask byte is 0.
// Returns how many pixels it went through.
template <typename Round>
[[gnu::always_inline]] inline unsigned storeRoundsOfFour(const uint8_t* src, const uint8_t* dst,
                                                         uint8_t* out, const uint8_t* mask,
                                                         uint16_t n, Round round) {
    unsigned i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t maskBytes;
        std::memcpy(&maskBytes, mask + i, 4);
        if (maskBytes == 0xFFFFFFFFu) continue;  // all four rejected
        const Ints4 result = round(src + i * 4, dst + i * 4);
        uint8_t* o = out + i * 4;
        if (maskBytes == 0) {  // all four alive
            storeInts4(o, result);
            continue;
        }
        storeInts4(o, selectBits(aliveLanes(mask + i), result, loadInts4(o)));
    }
    return i;
}

// Runs kernel(source lanes, destination lanes) over the span two pixels at a
// time; an odd last pixel goes through the same lanes padded with a rejected one.
template <typename Kernel>
void blendLanes(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                uint16_t n, Kernel kernel) {
    // Four pixels a round: the same kernel on each half.
    unsigned i =
        storeRoundsOfFour(src, dst, out, mask, n, [&](const uint8_t* s4, const uint8_t* d4) {
            const Ints4 s = loadInts4(s4);
            const Ints4 d = loadInts4(d4);
            const Lanes low = kernel(Lanes{lowPixelsAsWords(s)}, Lanes{lowPixelsAsWords(d)});
            const Lanes high = kernel(Lanes{highPixelsAsWords(s)}, Lanes{highPixelsAsWords(d)});
            return packWords(low.v, high.v);
        });
    for (; i + 2 <= n; i += 2) {
        storeTwoPixels(kernel(Lanes{loadTwoPixelsAsWords(src + i * 4)},
                              Lanes{loadTwoPixelsAsWords(dst + i * 4)})
                           .v,
                       mask + i, out + i * 4);
    }
    if (i < n) {
        uint8_t s[8] = {};
        uint8_t d[8] = {};
        uint8_t o[8] = {};
        const uint8_t m[2] = {mask[i], 255};
        std::memcpy(s, src + i * 4, 4);
        std::memcpy(d, dst + i * 4, 4);
        std::memcpy(o, out + i * 4, 4);
        storeTwoPixels(kernel(Lanes{loadTwoPixelsAsWords(s)}, Lanes{loadTwoPixelsAsWords(d)}).v, m,
                       o);
        std::memcpy(out + i * 4, o, 4);
    }
}

// f = add + sign x V in lanes, V being the source, destination or blend colour,
// or its alpha in every channel.
inline Lanes factorLanes(const Factor& f, Lanes s, Lanes d, Lanes k) {
    if (f.sign == 0) return splat(static_cast<uint16_t>(f.add));
    Lanes v = f.from == Factor::SOURCE ? s : f.from == Factor::DESTINATION ? d : k;
    if (f.alpha) v = alphaOf(v);
    const Lanes add = splat(static_cast<uint16_t>(f.add));
    return f.sign > 0 ? add + v : add - v;
}

// Where the general object's factor takes its V from, each with loops of its own:
// FIXED for the factors that are the same for every pixel (ZERO, ONE, the
// blend colour's).
enum class FactorSource : uint8_t { FIXED, SOURCE, SOURCE_ALPHA, DESTINATION, DESTINATION_ALPHA };

FactorSource factorSource(const Factor& f) {
    if (f.sign == 0 || f.from == Factor::CONSTANT) return FactorSource::FIXED;
    if (f.from == Factor::SOURCE)
        return f.alpha ? FactorSource::SOURCE_ALPHA : FactorSource::SOURCE;
    return f.alpha ? FactorSource::DESTINATION_ALPHA : FactorSource::DESTINATION;
}

// A factor's lanes worked out once per span: the fixed factor, or add and a
// negation (all ones for sign -1) so that add + sign x V is add + ((V ^ m) - m),
// the same value modulo 65536.
struct FactorTerm {
    Lanes fixed;
    Lanes add;
    Lanes negate;
};

// The blend colour, one word per channel.
Lanes blendColorLanes() {
    uint8_t k[4];
    sglGetBlendColor(k);
    const uint16_t k16[4] = {k[0], k[1], k[2], k[3]};
    return perChannel(k16);
}

FactorTerm factorTerm(const Factor& f, Lanes constant) {
    return {factorLanes(f, constant, constant, constant), splat(static_cast<uint16_t>(f.add)),
            splat(f.sign < 0 ? 0xFFFF : 0)};
}

template <FactorSource From>
[[gnu::always_inline]] inline Lanes factorOf(const FactorTerm& t, Lanes s, Lanes d) {
    if constexpr (From == FactorSource::FIXED) {
        return t.fixed;
    } else {
        Lanes v = From == FactorSource::SOURCE || From == FactorSource::SOURCE_ALPHA ? s : d;
        if constexpr (From == FactorSource::SOURCE_ALPHA || From == FactorSource::DESTINATION_ALPHA)
            v = alphaOf(v);
        return t.add + (Lanes{xorBits(v.v, t.negate.v)} - t.negate);
    }
}

// Each term is truncated on its own; their sum (at most 510) saturates in the pack.
template <FactorSource Src, FactorSource Dst>
void blendGeneral(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                  uint16_t n, FactorTerm sf, FactorTerm df) {
    blendLanes(src, dst, out, mask, n, [sf, df](Lanes s, Lanes d) {
        return shiftDown8(factorOf<Src>(sf, s, d) * s) + shiftDown8(factorOf<Dst>(df, s, d) * d);
    });
}

using GeneralBlend = void (*)(const uint8_t*, const uint8_t*, uint8_t*, const uint8_t*, uint16_t,
                              FactorTerm, FactorTerm);

template <size_t Src, size_t... Dst>
constexpr std::array<GeneralBlend, 5> generalBlendRow(std::index_sequence<Dst...>) {
    return {blendGeneral<static_cast<FactorSource>(Src), static_cast<FactorSource>(Dst)>...};
}

template <size_t... Src>
constexpr std::array<std::array<GeneralBlend, 5>, 5> generalBlends(std::index_sequence<Src...>) {
    return {generalBlendRow<Src>(std::make_index_sequence<5>())...};
}

constexpr std::array<std::array<GeneralBlend, 5>, 5> GENERAL_BLENDS =
    generalBlends(std::make_index_sequence<5>());

// The factors f_j of the constant-colour source code Code, from the blend colour.
template <uint8_t Code>
void constantOneFactors(uint16_t f[4]) {
    uint8_t k[4];
    sglGetBlendColor(k);
    for (unsigned j = 0; j < 4; ++j) {
        switch (Code) {
            case BLEND_CONSTANT_COLOR:
                f[j] = static_cast<uint16_t>(k[j] + 1);
                break;
            case BLEND_CONSTANT_ALPHA:
                f[j] = static_cast<uint16_t>(k[A] + 1);
                break;
            case BLEND_ONE_MINUS_CONSTANT_COLOR:
                f[j] = static_cast<uint16_t>(256 - k[j]);
                break;
            default:
                f[j] = static_cast<uint16_t>(256 - k[A]);
                break;
        }
    }
}

// out = min(255, ((f_j x S_j) >> 8) + D_j) over one span; AllAlive when no
// mask byte of the span is set (the mask is not read then).
template <bool AllAlive = false>
[[gnu::always_inline]] inline void blendConstantOneRow(const uint8_t* src, const uint8_t* dst,
                                                       uint8_t* out, const uint8_t* mask,
                                                       uint16_t n, const uint16_t f[4]) {
    unsigned i = 0;
    // (f x S) >> 8 is the high half of (S << 8) x f, at most 255; the 16-bit
    // sum with D then saturates at 255 exactly as a saturating byte add does.
    const Ints4 f4 = wordsTwice(f);
    auto round = [&](const uint8_t* s4, const uint8_t* d4) {
        const Ints4 s = loadInts4(s4);
        const Ints4 low = multiplyHighWords(lowPixelsAsHighBytes(s), f4);
        const Ints4 high = multiplyHighWords(highPixelsAsHighBytes(s), f4);
        return addSaturatedBytes(packWords(low, high), loadInts4(d4));
    };
    if constexpr (AllAlive) {
        for (; i + 4 <= n; i += 4) storeInts4(out + i * 4, round(src + i * 4, dst + i * 4));
    } else {
        i = storeRoundsOfFour(src, dst, out, mask, n, round);
    }
    if (i == n) return;
    // At most three pixels are left.
    static constexpr uint8_t ALIVE[4] = {};
    const Lanes factor = perChannel(f);
    blendLanes(src + i * 4, dst + i * 4, out + i * 4, AllAlive ? ALIVE : mask + i,
               static_cast<uint16_t>(n - i),
               [factor](Lanes s, Lanes d) { return addSaturated(shiftDown8(factor * s), d); });
}

template <uint8_t Code>
void blendConstantOne(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                      uint16_t n) {
    uint16_t f[4];
    constantOneFactors<Code>(f);
    blendConstantOneRow(src, dst, out, mask, n, f);
}

#ifdef VORNAK_AVX2
// True when the memory of rows of n pixels at a and at b intersects.
bool overlap(const uint8_t* a, std::ptrdiff_t aPitch, const uint8_t* b, std::ptrdiff_t bPitch,
             uint16_t n, int rows) {
    auto span = [n, rows](const uint8_t* first, std::ptrdiff_t pitch) {
        const auto firstRow = reinterpret_cast<std::uintptr_t>(first);
        const auto lastRow = reinterpret_cast<std::uintptr_t>(first + (rows - 1) * pitch);
        return std::pair{std::min(firstRow, lastRow), std::max(firstRow, lastRow) + n * 4u};
    };
    const auto [aStart, aEnd] = span(a, aPitch);
    const auto [bStart, bEnd] = span(b, bPitch);
    return aStart < bEnd && bStart < aEnd;
}

// A factor code as blendGeneralRowsAvx2 takes it: the same value modulo 65536
// as factorTerm's (the fixed factor in add, V masked off).
BlendFactorLanes rowsFactor(uint8_t code, Lanes constant) {
    const Factor f = describe(code);
    BlendFactorLanes out{};
    if (factorSource(f) == FactorSource::FIXED) {
        uint16_t fixed[8];
        storeInts4(fixed, factorLanes(f, constant, constant, constant).v);
        std::copy_n(fixed, 4, out.add);
        return out;
    }
    std::fill_n(out.add, 4, static_cast<uint16_t>(f.add));
    out.negate = f.sign < 0 ? 0xFFFF : 0;
    out.fromSource = f.from == Factor::SOURCE ? 0xFFFF : 0;
    out.fromDestination = f.from == Factor::DESTINATION ? 0xFFFF : 0;
    out.alpha = f.alpha;
    return out;
}
#endif

template <uint8_t Code>
void blendConstantOneRows(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                          std::ptrdiff_t dstPitch, const uint8_t* mask, uint16_t n, int rows) {
    uint16_t f[4];
    constantOneFactors<Code>(f);
    // Rectangles without a test have every pixel alive: no mask to look at.
    if (mask == nullptr || std::all_of(mask, mask + n, [](uint8_t m) { return m == 0; })) {
        // Eight pixels a round (then four, then the rest) where the processor has
        // AVX2, unless source and destination share memory: eight pixels read
        // at once could include some that the rounds of four write before
        // reading them.
        uint16_t done = 0;
#ifdef VORNAK_AVX2
        if (avx2Usable() && !overlap(src, srcPitch, dst, dstPitch, n, rows))
            done = blendConstantOneRowsAvx2(src, srcPitch, dst, dstPitch, n, rows, f);
#endif
        if (done == n) return;
        for (int r = 0; r < rows; ++r, src += srcPitch, dst += dstPitch) {
            blendConstantOneRow<true>(src + done * 4, dst + done * 4, dst + done * 4, nullptr,
                                      static_cast<uint16_t>(n - done), f);
        }
        return;
    }
    for (int r = 0; r < rows; ++r, src += srcPitch, dst += dstPitch) {
        blendConstantOneRow(src, dst, dst, mask, n, f);
    }
}

template <uint8_t Code>
void blendDestinationOne(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                         uint16_t n) {
    blendLanes(src, dst, out, mask, n, [](Lanes s, Lanes d) {
        const Lanes one = splat(1);
        const Lanes full = splat(256);
        Lanes product;
        switch (Code) {
            case BLEND_DST_COLOR:
                product = (s + one) * d;
                break;
            case BLEND_DST_ALPHA:
                product = (s + one) * alphaOf(d);
                break;
            case BLEND_ONE_MINUS_DST_COLOR:
                product = (full - d) * s;
                break;
            default:
                product = (full - alphaOf(d)) * s;
                break;
        }
        return addSaturated(shiftDown8(product), d);
    });
}

template <uint8_t SrcCode, uint8_t DstCode>
void blendSourcePair(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
                     uint16_t n) {
    blendLanes(src, dst, out, mask, n, [](Lanes s, Lanes d) {
        return shiftDown8(
            addSaturated(sourceProduct<SrcCode>(s), destinationProduct<SrcCode, DstCode>(s, d)));
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
    if (srcCode == BLEND_ONE && dstCode == BLEND_ZERO) {
        // Plain writes (blending off): the factors leave the source exactly as it is.
        unsigned i =
            storeRoundsOfFour(src, dst, out, mask, n,
                              [](const uint8_t* s4, const uint8_t*) { return loadInts4(s4); });
        for (; i < n; ++i)
            if (mask[i] == 0) std::memcpy(out + i * 4, src + i * 4, 4);
        return;
    }
    const Lanes constant = blendColorLanes();
    const Factor sf = describe(srcCode);
    const Factor df = describe(dstCode);
    GENERAL_BLENDS[static_cast<size_t>(factorSource(sf))][static_cast<size_t>(factorSource(df))](
        src, dst, out, mask, n, factorTerm(sf, constant), factorTerm(df, constant));
}

void BlendOp::blendRows(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                        std::ptrdiff_t dstPitch, const uint8_t* mask, uint8_t srcCode,
                        uint8_t dstCode, uint16_t n, int rows) const {
#ifdef VORNAK_AVX2
    // Eight pixels a round where the processor has AVX2, every pixel is alive
    // and source and destination do not share memory (see blendConstantOneRows).
    // (ZERO, ONE) and (ONE, ZERO) keep blend's own loops, which write nothing
    // or copy.
    const bool blends = !(srcCode == BLEND_ZERO && dstCode == BLEND_ONE) &&
                        !(srcCode == BLEND_ONE && dstCode == BLEND_ZERO);
    if (blends && avx2Usable() && std::all_of(mask, mask + n, [](uint8_t m) { return m == 0; }) &&
        !overlap(src, srcPitch, dst, dstPitch, n, rows)) {
        const Lanes constant = blendColorLanes();
        blendGeneralRowsAvx2(src, srcPitch, dst, dstPitch, n, rows, rowsFactor(srcCode, constant),
                             rowsFactor(dstCode, constant));
        return;
    }
#endif
    for (int r = 0; r < rows; ++r, src += srcPitch, dst += dstPitch) {
        blend(src, dst, dst, mask, srcCode, dstCode, n);
    }
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

void BlendConstantOneOp::blendRows(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                                   std::ptrdiff_t dstPitch, const uint8_t* mask, uint8_t srcCode,
                                   uint16_t n, int rows) const {
    switch (srcCode) {
        case BLEND_CONSTANT_COLOR:
            return blendConstantOneRows<BLEND_CONSTANT_COLOR>(src, srcPitch, dst, dstPitch, mask, n,
                                                              rows);
        case BLEND_CONSTANT_ALPHA:
            return blendConstantOneRows<BLEND_CONSTANT_ALPHA>(src, srcPitch, dst, dstPitch, mask, n,
                                                              rows);
        case BLEND_ONE_MINUS_CONSTANT_COLOR:
            return blendConstantOneRows<BLEND_ONE_MINUS_CONSTANT_COLOR>(src, srcPitch, dst,
                                                                        dstPitch, mask, n, rows);
        case BLEND_ONE_MINUS_CONSTANT_ALPHA:
            return blendConstantOneRows<BLEND_ONE_MINUS_CONSTANT_ALPHA>(src, srcPitch, dst,
                                                                        dstPitch, mask, n, rows);
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
