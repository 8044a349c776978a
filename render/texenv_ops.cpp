// Texture environment objects. The second operand advances by bStride bytes
// per pixel: 4 for an array, 0 for one constant colour.
#include "render/texenv_ops.h"

#include <cstring>

#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
#include <emmintrin.h>
#endif

namespace {

#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
// Four pixels a round for the pixels up to a multiple of four: the second
// operand from the array or the one colour, the result stored where alive.
// Returns how many pixels it did.
template <typename Kernel>
unsigned combineAlive4(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
                       const uint8_t* mask, uint16_t n, Kernel kernel) {
    unsigned i = 0;
    uint32_t constant = 0;
    if (bStride == 0) std::memcpy(&constant, b, 4);
    const __m128i splat = _mm_set1_epi32(static_cast<int>(constant));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i * 4));
        const __m128i y =
            bStride == 0 ? splat : _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i * 4));
        const __m128i r = kernel(x, y);
        uint32_t maskBytes;
        std::memcpy(&maskBytes, mask + i, 4);
        __m128i m = _mm_cvtsi32_si128(static_cast<int>(maskBytes));
        m = _mm_unpacklo_epi8(m, m);
        m = _mm_unpacklo_epi16(m, m);
        const __m128i alive = _mm_cmpeq_epi8(m, zero);
        __m128i* o = reinterpret_cast<__m128i*>(out + i * 4);
        _mm_storeu_si128(
            o, _mm_or_si128(_mm_and_si128(alive, r), _mm_andnot_si128(alive, _mm_loadu_si128(o))));
    }
    return i;
}
#endif

template <typename Channel>
void combineAlive(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
                  const uint8_t* mask, uint16_t n, Channel channel, unsigned first = 0) {
    for (unsigned i = first; i < n; ++i) {
        if (mask[i] != 0) continue;
        const uint8_t* bi = b + i * bStride;
        for (unsigned j = 0; j < 4; ++j) out[i * 4 + j] = channel(a[i * 4 + j], bi[j]);
    }
}

void replace(const uint8_t* a, uint8_t* out, uint16_t n) {
    if (a != out) std::memmove(out, a, size_t{n} * 4);
}

// (a x b + b) >> 8 stays within 16 bits: at most 255 x 255 + 255.
void modulate(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
              const uint8_t* mask, uint16_t n) {
    unsigned first = 0;
#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
    first = combineAlive4(a, b, bStride, out, mask, n, [](__m128i x, __m128i y) {
        const __m128i zero = _mm_setzero_si128();
        auto half = [](__m128i x16, __m128i y16) {
            return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(x16, y16), y16), 8);
        };
        return _mm_packus_epi16(half(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero)),
                                half(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero)));
    });
#endif
    combineAlive(
        a, b, bStride, out, mask, n,
        [](uint8_t x, uint8_t y) { return static_cast<uint8_t>((unsigned{x} * y + y) >> 8); },
        first);
}

void addOrSubtract(const uint8_t* a, const uint8_t* b, unsigned bStride, uint8_t* out,
                   const uint8_t* mask, uint8_t mode, uint16_t n) {
    unsigned first = 0;
    if (mode == 2) {
#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
        first = combineAlive4(a, b, bStride, out, mask, n,
                              [](__m128i x, __m128i y) { return _mm_adds_epu8(x, y); });
#endif
        combineAlive(
            a, b, bStride, out, mask, n,
            [](uint8_t x, uint8_t y) {
                const unsigned sum = unsigned{x} + y;
                return static_cast<uint8_t>(sum > 255 ? 255 : sum);
            },
            first);
    } else {
#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
        first = combineAlive4(a, b, bStride, out, mask, n,
                              [](__m128i x, __m128i y) { return _mm_subs_epu8(x, y); });
#endif
        combineAlive(
            a, b, bStride, out, mask, n,
            [](uint8_t x, uint8_t y) { return static_cast<uint8_t>(x > y ? x - y : 0); }, first);
    }
}

int enumerateModes(FragmentKey& key, unsigned index, uint8_t firstMode, unsigned count) {
    if (index >= count) return 0;
    key.part[0] = static_cast<uint8_t>(firstMode + index);
    return 1;
}

}  // namespace

int TexEnvReplaceOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateModes(key, index, 0, 1);
}
void TexEnvReplaceOp::combine(const uint8_t* a, const uint8_t*, uint8_t* out, const uint8_t*,
                              uint8_t, uint16_t n) const {
    replace(a, out, n);
}
void TexEnvReplaceOp::combineConstant(const uint8_t* a, const uint8_t*, uint8_t* out,
                                      const uint8_t*, uint8_t, uint16_t n) const {
    replace(a, out, n);
}

int TexEnvModulateOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateModes(key, index, 1, 1);
}
void TexEnvModulateOp::combine(const uint8_t* a, const uint8_t* b, uint8_t* out,
                               const uint8_t* mask, uint8_t, uint16_t n) const {
    modulate(a, b, 4, out, mask, n);
}
void TexEnvModulateOp::combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out,
                                       const uint8_t* mask, uint8_t, uint16_t n) const {
    modulate(a, k, 0, out, mask, n);
}

int TexEnvAddSubtractOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    return enumerateModes(key, index, 2, 2);
}
void TexEnvAddSubtractOp::combine(const uint8_t* a, const uint8_t* b, uint8_t* out,
                                  const uint8_t* mask, uint8_t mode, uint16_t n) const {
    addOrSubtract(a, b, 4, out, mask, mode, n);
}
void TexEnvAddSubtractOp::combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out,
                                          const uint8_t* mask, uint8_t mode, uint16_t n) const {
    addOrSubtract(a, k, 0, out, mask, mode, n);
}
