// Stencil test. Every operation is the same expression with three per-span
// parameters, so the per-pixel loop only chooses which set applies.
#include "render/stencil_op.h"

#include <cstring>

#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
#include <emmintrin.h>
#endif

namespace {

// new = (s & ~wm) | (((((s & keep) | fill) ^ flip) + add) & wm): one expression
// with per-span parameters for every operation. Only the bits under the write
// mask change. Increment and decrement count in the field under the mask, and
// wrap: with the mask 255, 255 + 1 is 0 and 0 - 1 is 255.
struct StencilUpdate {
    uint8_t keep;
    uint8_t fill;
    uint8_t flip;
    uint8_t add;
};

StencilUpdate stencilUpdate(uint8_t op, uint8_t ref, uint8_t writeMask) {
    const uint8_t belowMask = static_cast<uint8_t>(~writeMask);
    switch (op) {
        case 0:
            return {0x00, 0x00, 0x00, 0};
        case 2:
            return {0x00, 0x00, ref, 0};
        case 3:
            return {0xFF, 0x00, 0xFF, 0};
        // Ones in the bits outside the mask carry the increment into the field.
        case 4:
            return {0xFF, belowMask, 0x00, 1};
        case 5:
            return {writeMask, 0x00, 0x00, 255};
        default:
            return {0xFF, 0x00, 0x00, 0};
    }
}

inline uint8_t apply(const StencilUpdate& u, uint8_t s, uint8_t writeMask) {
    const uint8_t changed = static_cast<uint8_t>((((s & u.keep) | u.fill) ^ u.flip) + u.add);
    return static_cast<uint8_t>((s & ~writeMask) | (changed & writeMask));
}

#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
// The update of sixteen stored values at once, byte by byte as apply does.
inline __m128i apply16(const StencilUpdate& u, __m128i s, __m128i writeMask) {
    const __m128i changed = _mm_add_epi8(
        _mm_xor_si128(_mm_or_si128(_mm_and_si128(s, _mm_set1_epi8(static_cast<char>(u.keep))),
                                   _mm_set1_epi8(static_cast<char>(u.fill))),
                      _mm_set1_epi8(static_cast<char>(u.flip))),
        _mm_set1_epi8(static_cast<char>(u.add)));
    return _mm_or_si128(_mm_andnot_si128(writeMask, s), _mm_and_si128(changed, writeMask));
}

inline __m128i select16(__m128i choose, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(choose, a), _mm_andnot_si128(choose, b));
}

// The unsigned byte comparisons of the stencil functions 1 to 7 (all ones where s passes).
template <uint8_t Func>
inline __m128i passes16(__m128i s, __m128i r) {
    const __m128i ones = _mm_set1_epi8(-1);
    switch (Func) {
        case 2:  // s < r
            return _mm_xor_si128(_mm_cmpeq_epi8(_mm_max_epu8(s, r), s), ones);
        case 3:  // s <= r
            return _mm_cmpeq_epi8(_mm_min_epu8(s, r), s);
        case 4:  // s > r
            return _mm_xor_si128(_mm_cmpeq_epi8(_mm_min_epu8(s, r), s), ones);
        case 5:  // s >= r
            return _mm_cmpeq_epi8(_mm_max_epu8(s, r), s);
        case 6:
            return _mm_cmpeq_epi8(s, r);
        case 7:
            return _mm_xor_si128(_mm_cmpeq_epi8(s, r), ones);
        default:
            return ones;
    }
}
#endif

template <uint8_t Func, typename Passes>
uint8_t testSpan(uint8_t* stencil, uint8_t* mask, uint16_t n, const StencilUpdate& rejected,
                 const StencilUpdate& fail, const StencilUpdate& pass, uint8_t valueMask,
                 uint8_t ref, uint8_t writeMask, Passes passes) {
    const uint8_t maskedRef = ref & valueMask;
    uint8_t anyPassed = 0;
    unsigned i = 0;
#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
    // Sixteen pixels a round: each pixel's new value and mask byte chosen
    // without a branch from the three updates, as the loop below chooses them.
    const __m128i zero = _mm_setzero_si128();
    const __m128i write = _mm_set1_epi8(static_cast<char>(writeMask));
    const __m128i values = _mm_set1_epi8(static_cast<char>(valueMask));
    const __m128i reference = _mm_set1_epi8(static_cast<char>(maskedRef));
    int passedBits = 0;
    auto round = [&](uint8_t* stencil16, uint8_t* mask16) {
        __m128i* stored = reinterpret_cast<__m128i*>(stencil16);
        __m128i* maskBytes = reinterpret_cast<__m128i*>(mask16);
        const __m128i s = _mm_loadu_si128(stored);
        const __m128i m = _mm_loadu_si128(maskBytes);
        const __m128i alive = _mm_cmpeq_epi8(m, zero);
        const __m128i passing =
            _mm_and_si128(alive, passes16<Func>(_mm_and_si128(s, values), reference));
        const __m128i failing = _mm_andnot_si128(passing, alive);
        passedBits |= _mm_movemask_epi8(passing);
        const __m128i updated =
            select16(passing, apply16(pass, s, write),
                     select16(failing, apply16(fail, s, write), apply16(rejected, s, write)));
        _mm_storeu_si128(stored, updated);
        _mm_storeu_si128(maskBytes, _mm_or_si128(m, failing));
    };
    for (; i + 16 <= n; i += 16) round(stencil + i, mask + i);
    // The last pixels through one round of copies, the lanes past them
    // rejected (their results are not copied back): no branch per pixel.
    if (i < n) {
        const unsigned rest = n - i;
        alignas(16) uint8_t stencil16[16] = {};
        alignas(16) uint8_t mask16[16];
        std::memset(mask16, 255, sizeof mask16);
        std::memcpy(stencil16, stencil + i, rest);
        std::memcpy(mask16, mask + i, rest);
        round(stencil16, mask16);
        std::memcpy(stencil + i, stencil16, rest);
        std::memcpy(mask + i, mask16, rest);
        i = n;
    }
    anyPassed = passedBits != 0 ? 1 : 0;
#endif
    for (; i < n; ++i) {
        const uint8_t s = stencil[i];
        if (mask[i] != 0) {
            stencil[i] = apply(rejected, s, writeMask);
        } else if (passes(static_cast<uint8_t>(s & valueMask), maskedRef)) {
            stencil[i] = apply(pass, s, writeMask);
            anyPassed = 1;
        } else {
            mask[i] = 255;
            stencil[i] = apply(fail, s, writeMask);
        }
    }
    return anyPassed;
}

}  // namespace

uint8_t applyStencilOp(uint8_t op, uint8_t stored, uint8_t ref, uint8_t writeMask) {
    return apply(stencilUpdate(op, ref, writeMask), stored, writeMask);
}

int StencilTestOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= 216) return 0;
    key.part[0] = static_cast<uint8_t>(index % 6);
    key.part[1] = static_cast<uint8_t>((index / 6) % 6);
    key.part[2] = static_cast<uint8_t>(index / 36);
    return 1;
}

uint8_t StencilTestOp::test(uint8_t* stencil, uint8_t* mask, uint16_t n, uint8_t opRejected,
                            uint8_t opFail, uint8_t opPass, uint8_t valueMask, uint8_t func,
                            uint8_t ref, uint8_t writeMask) const {
    const StencilUpdate rejected = stencilUpdate(opRejected, ref, writeMask);
    const StencilUpdate fail = stencilUpdate(opFail, ref, writeMask);
    const StencilUpdate pass = stencilUpdate(opPass, ref, writeMask);
    auto run = [&]<uint8_t Func>(auto passes) {
        return testSpan<Func>(stencil, mask, n, rejected, fail, pass, valueMask, ref, writeMask,
                              passes);
    };
    switch (func) {
        case 1:
            return run.operator()<1>([](uint8_t, uint8_t) { return true; });
        case 2:
            return run.operator()<2>([](uint8_t s, uint8_t r) { return s < r; });
        case 3:
            return run.operator()<3>([](uint8_t s, uint8_t r) { return s <= r; });
        case 4:
            return run.operator()<4>([](uint8_t s, uint8_t r) { return s > r; });
        case 5:
            return run.operator()<5>([](uint8_t s, uint8_t r) { return s >= r; });
        case 6:
            return run.operator()<6>([](uint8_t s, uint8_t r) { return s == r; });
        case 7:
            return run.operator()<7>([](uint8_t s, uint8_t r) { return s != r; });
        default:
            break;
    }
    // Function 0 passes nothing: rejected pixels before the first alive one
    // still get their operation, then the test ends.
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) return 0;
        stencil[i] = apply(rejected, stencil[i], writeMask);
    }
    return 0;
}
