// Blend rows in AVX2 (built with -mavx2; see avx2.h). Every unpack and pack
// works within each 128-bit half, so each half does exactly what the SSE2
// rounds of four pixels do.
#include <immintrin.h>

#include "render/avx2.h"

uint16_t blendConstantOneRowsAvx2(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                                  std::ptrdiff_t dstPitch, uint16_t n, int rows,
                                  const uint16_t f[4]) {
    const uint16_t eights = static_cast<uint16_t>(n & ~7u);
    const bool hasFour = (n & 4u) != 0;
    const unsigned rest = n & 3u;
    // The lanes of the one to three pixels after the rounds: masked loads and
    // stores leave the memory past the row untouched.
    const __m128i restLanes =
        _mm_cmpgt_epi32(_mm_set1_epi32(static_cast<int>(rest)), _mm_setr_epi32(0, 1, 2, 3));
    const __m128i factors4 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(f));
    const __m128i factors = _mm_unpacklo_epi64(factors4, factors4);
    const __m256i factors8 = _mm256_broadcastsi128_si256(factors);
    const __m256i zero = _mm256_setzero_si256();
    // A round of four pixels in one half: the four after the rounds of eight
    // and the last one to three, rather than a call per row for them.
    const auto four = [factors](__m128i s, __m128i d) {
        const __m128i low = _mm_mulhi_epu16(_mm_unpacklo_epi8(_mm_setzero_si128(), s), factors);
        const __m128i high = _mm_mulhi_epu16(_mm_unpackhi_epi8(_mm_setzero_si128(), s), factors);
        return _mm_adds_epu8(_mm_packus_epi16(low, high), d);
    };
    for (int r = 0; r < rows; ++r, src += srcPitch, dst += dstPitch) {
        for (unsigned i = 0; i < eights; i += 8) {
            const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4));
            __m256i* d = reinterpret_cast<__m256i*>(dst + i * 4);
            // (f x S) >> 8 as the high half of (S << 8) x f, at most 255.
            const __m256i low = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(zero, s), factors8);
            const __m256i high = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(zero, s), factors8);
            _mm256_storeu_si256(
                d, _mm256_adds_epu8(_mm256_packus_epi16(low, high), _mm256_loadu_si256(d)));
        }
        if (hasFour) {
            const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + eights * 4));
            __m128i* d = reinterpret_cast<__m128i*>(dst + eights * 4);
            _mm_storeu_si128(d, four(s, _mm_loadu_si128(d)));
        }
        if (rest != 0) {
            const auto* s = reinterpret_cast<const int*>(src + (n & ~3u) * 4);
            int* d = reinterpret_cast<int*>(dst + (n & ~3u) * 4);
            _mm_maskstore_epi32(
                d, restLanes,
                four(_mm_maskload_epi32(s, restLanes), _mm_maskload_epi32(d, restLanes)));
        }
    }
    return n;
}

namespace {

struct FactorWords {
    __m256i add;
    __m256i negate;
    __m256i fromSource;
    __m256i fromDestination;
    bool alpha;

    explicit FactorWords(const BlendFactorLanes& f)
        : add(_mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(f.add)))),
          negate(_mm256_set1_epi16(static_cast<short>(f.negate))),
          fromSource(_mm256_set1_epi16(static_cast<short>(f.fromSource))),
          fromDestination(_mm256_set1_epi16(static_cast<short>(f.fromDestination))),
          alpha(f.alpha) {}

    // The factor's words for the source and destination words s and d.
    [[gnu::always_inline]] __m256i of(__m256i s, __m256i d) const {
        __m256i v =
            _mm256_or_si256(_mm256_and_si256(s, fromSource), _mm256_and_si256(d, fromDestination));
        if (alpha) v = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0xFF), 0xFF);
        return _mm256_add_epi16(add, _mm256_sub_epi16(_mm256_xor_si256(v, negate), negate));
    }
};

}  // namespace

void blendGeneralRowsAvx2(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                          std::ptrdiff_t dstPitch, uint16_t n, int rows,
                          const BlendFactorLanes& source, const BlendFactorLanes& destination) {
    const FactorWords fs(source);
    const FactorWords fd(destination);
    const unsigned eights = n & ~7u;
    const __m256i restLanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(n & 7u)),
                                                 _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    // Eight pixels: each 128-bit half blends its four as the SSE2 rounds do.
    const auto eight = [&fs, &fd](__m256i s, __m256i d) {
        const __m256i zero = _mm256_setzero_si256();
        const auto words = [&](__m256i sw, __m256i dw) {
            const __m256i sourceTerm = _mm256_srli_epi16(_mm256_mullo_epi16(fs.of(sw, dw), sw), 8);
            const __m256i destinationTerm =
                _mm256_srli_epi16(_mm256_mullo_epi16(fd.of(sw, dw), dw), 8);
            return _mm256_add_epi16(sourceTerm, destinationTerm);
        };
        return _mm256_packus_epi16(
            words(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero)),
            words(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero)));
    };
    for (int r = 0; r < rows; ++r, src += srcPitch, dst += dstPitch) {
        for (unsigned i = 0; i < eights; i += 8) {
            __m256i* d = reinterpret_cast<__m256i*>(dst + i * 4);
            _mm256_storeu_si256(
                d, eight(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4)),
                         _mm256_loadu_si256(d)));
        }
        if (eights != n) {
            const auto* s = reinterpret_cast<const int*>(src + eights * 4);
            int* d = reinterpret_cast<int*>(dst + eights * 4);
            _mm256_maskstore_epi32(
                d, restLanes,
                eight(_mm256_maskload_epi32(s, restLanes), _mm256_maskload_epi32(d, restLanes)));
        }
    }
}
