// The lane operations of the renderer's span loops: SSE2 where the compiler
// targets it, otherwise scalar twins that give the same bits lane for lane.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "render/fixed_point.h"

// The one switch between the two (VORNAK_SCALAR_LANES forces the twins).
#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
#define VORNAK_SSE2_LANES 1
#include <emmintrin.h>
#else
#define VORNAK_SSE2_LANES 0
#endif

// Depth comparisons of the depth-function codes 1 to 7 (1 passes everything),
// with the answer of the float operators for NaN.
template <uint8_t Func>
inline bool depthPasses(float z, float stored) {
    switch (Func) {
        case 2:
            return z >= stored;
        case 3:
            return z > stored;
        case 4:
            return z <= stored;
        case 5:
            return z < stored;
        case 6:
            return z == stored;
        case 7:
            return z != stored;
        default:
            return true;
    }
}

// The result of the one-pixel texture environment modes on one byte each.
inline uint8_t modulateByte(unsigned x, unsigned y) {
    return static_cast<uint8_t>((x * y + y) >> 8);
}
inline uint8_t addSaturatedByte(unsigned x, unsigned y) {
    return static_cast<uint8_t>(std::min(x + y, 255u));
}
inline uint8_t subtractSaturatedByte(unsigned x, unsigned y) {
    return static_cast<uint8_t>(x > y ? x - y : 0u);
}

// Ints4: 128 bits, read as four pixels (four 32-bit lanes), eight 16-bit lanes
// or sixteen bytes. Lanes of comparisons and masks are all ones or all zeros.
// Floats4: four floats. Doubles2: two doubles.
#if VORNAK_SSE2_LANES

struct Ints4 {
    __m128i v;
};
struct Floats4 {
    __m128 v;
};
struct Doubles2 {
    __m128d v;
};

inline Ints4 loadInts4(const void* p) {
    return {_mm_loadu_si128(static_cast<const __m128i*>(p))};
}
inline Ints4 loadAlignedInts4(const void* p) {
    return {_mm_load_si128(static_cast<const __m128i*>(p))};
}
inline void storeInts4(void* p, Ints4 a) {
    _mm_storeu_si128(static_cast<__m128i*>(p), a.v);
}
inline Ints4 splatPixel(uint32_t bits) {
    return {_mm_set1_epi32(static_cast<int>(bits))};
}
inline Ints4 splatByte(uint8_t b) {
    return {_mm_set1_epi8(static_cast<char>(b))};
}
inline Ints4 splatWord(uint16_t w) {
    return {_mm_set1_epi16(static_cast<short>(w))};
}
// One pixel in lane 0, zeros above; and lane 0 back.
inline Ints4 onePixel(uint32_t bits) {
    return {_mm_cvtsi32_si128(static_cast<int>(bits))};
}
inline uint32_t firstPixel(Ints4 a) {
    return static_cast<uint32_t>(_mm_cvtsi128_si32(a.v));
}
// Lanes 0 and 1, and lanes 2 and 3, as 64-bit words (lanes 0 and 2 low),
// taken from the register rather than stored and loaded back.
inline void lanePairs(Ints4 a, uint64_t& low, uint64_t& high) {
    low = static_cast<uint64_t>(_mm_cvtsi128_si64(a.v));
    high = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(a.v, a.v)));
}
inline Ints4 allOnes() {
    return {_mm_set1_epi32(-1)};
}

inline Ints4 andBits(Ints4 a, Ints4 b) {
    return {_mm_and_si128(a.v, b.v)};
}
inline Ints4 orBits(Ints4 a, Ints4 b) {
    return {_mm_or_si128(a.v, b.v)};
}
inline Ints4 xorBits(Ints4 a, Ints4 b) {
    return {_mm_xor_si128(a.v, b.v)};
}
// ~a & b.
inline Ints4 andNotBits(Ints4 a, Ints4 b) {
    return {_mm_andnot_si128(a.v, b.v)};
}
// a where choose is set, else b, bit by bit.
inline Ints4 selectBits(Ints4 choose, Ints4 a, Ints4 b) {
    return {_mm_or_si128(_mm_and_si128(choose.v, a.v), _mm_andnot_si128(choose.v, b.v))};
}

// All ones in the four bytes of each pixel whose mask byte (of four at mask) is 0.
inline Ints4 aliveLanes(const uint8_t* mask) {
    int32_t four;
    std::memcpy(&four, mask, 4);
    __m128i m = _mm_cvtsi32_si128(four);
    m = _mm_unpacklo_epi8(m, m);
    m = _mm_unpacklo_epi16(m, m);
    return {_mm_cmpeq_epi32(m, _mm_setzero_si128())};
}
// The mask bytes of four pixels (0 where the lane is set, 255 where not).
inline void storeMaskBytes(Ints4 pass, uint8_t* mask) {
    const __m128i words = _mm_packs_epi32(pass.v, pass.v);
    const __m128i bytes = _mm_xor_si128(_mm_packs_epi16(words, words), _mm_set1_epi32(-1));
    const int32_t four = _mm_cvtsi128_si32(bytes);
    std::memcpy(mask, &four, 4);
}
// Lanes i .. i + 3 set where they lie before n.
inline Ints4 lanesBefore(int32_t n, int32_t i) {
    return {_mm_cmplt_epi32(_mm_setr_epi32(i, i + 1, i + 2, i + 3), _mm_set1_epi32(n))};
}
inline bool anyLane(Ints4 a) {
    return _mm_movemask_epi8(a.v) != 0;
}
// The lanes of four rounds (each lane all ones or zero) as sixteen bytes, one
// per pixel in order, and back.
inline Ints4 laneMaskBytes(Ints4 m0, Ints4 m1, Ints4 m2, Ints4 m3) {
    return {_mm_packs_epi16(_mm_packs_epi32(m0.v, m1.v), _mm_packs_epi32(m2.v, m3.v))};
}
inline void byteMaskLanes(Ints4 bytes, Ints4 (&rounds)[4]) {
    const __m128i low = _mm_unpacklo_epi8(bytes.v, bytes.v);
    const __m128i high = _mm_unpackhi_epi8(bytes.v, bytes.v);
    rounds[0] = {_mm_unpacklo_epi16(low, low)};
    rounds[1] = {_mm_unpackhi_epi16(low, low)};
    rounds[2] = {_mm_unpacklo_epi16(high, high)};
    rounds[3] = {_mm_unpackhi_epi16(high, high)};
}

// Bytes.
inline Ints4 addBytes(Ints4 a, Ints4 b) {
    return {_mm_add_epi8(a.v, b.v)};
}
inline Ints4 equalBytes(Ints4 a, Ints4 b) {
    return {_mm_cmpeq_epi8(a.v, b.v)};
}
inline Ints4 minBytes(Ints4 a, Ints4 b) {
    return {_mm_min_epu8(a.v, b.v)};
}
inline Ints4 maxBytes(Ints4 a, Ints4 b) {
    return {_mm_max_epu8(a.v, b.v)};
}
inline Ints4 addSaturatedBytes(Ints4 a, Ints4 b) {
    return {_mm_adds_epu8(a.v, b.v)};
}
inline Ints4 subtractSaturatedBytes(Ints4 a, Ints4 b) {
    return {_mm_subs_epu8(a.v, b.v)};
}

// 16-bit lanes, modulo 65536 unless saturated.
inline Ints4 addWords(Ints4 a, Ints4 b) {
    return {_mm_add_epi16(a.v, b.v)};
}
inline Ints4 subtractWords(Ints4 a, Ints4 b) {
    return {_mm_sub_epi16(a.v, b.v)};
}
inline Ints4 multiplyWords(Ints4 a, Ints4 b) {
    return {_mm_mullo_epi16(a.v, b.v)};
}
inline Ints4 multiplyHighWords(Ints4 a, Ints4 b) {
    return {_mm_mulhi_epu16(a.v, b.v)};
}
inline Ints4 shiftDownWords8(Ints4 a) {
    return {_mm_srli_epi16(a.v, 8)};
}
inline Ints4 addSaturatedWords(Ints4 a, Ints4 b) {
    return {_mm_adds_epu16(a.v, b.v)};
}
// Each pixel's alpha word in its four words.
inline Ints4 alphaWords(Ints4 a) {
    const __m128i low = _mm_shufflelo_epi16(a.v, _MM_SHUFFLE(3, 3, 3, 3));
    return {_mm_shufflehi_epi16(low, _MM_SHUFFLE(3, 3, 3, 3))};
}
// Four words, twice; and four words low, four high.
inline Ints4 wordsTwice(const uint16_t w[4]) {
    const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
    return {_mm_unpacklo_epi64(four, four)};
}
inline Ints4 wordHalves(uint16_t low, uint16_t high) {
    const short l = static_cast<short>(low);
    const short h = static_cast<short>(high);
    return {_mm_setr_epi16(l, l, l, l, h, h, h, h)};
}

// Packing: pixels 0-1 or 2-3 widened to words, each byte as the low or as the
// high byte of its word; words back to bytes saturated as signed 16-bit values.
inline Ints4 lowPixelsAsWords(Ints4 a) {
    return {_mm_unpacklo_epi8(a.v, _mm_setzero_si128())};
}
inline Ints4 highPixelsAsWords(Ints4 a) {
    return {_mm_unpackhi_epi8(a.v, _mm_setzero_si128())};
}
inline Ints4 lowPixelsAsHighBytes(Ints4 a) {
    return {_mm_unpacklo_epi8(_mm_setzero_si128(), a.v)};
}
inline Ints4 highPixelsAsHighBytes(Ints4 a) {
    return {_mm_unpackhi_epi8(_mm_setzero_si128(), a.v)};
}
inline Ints4 packWords(Ints4 low, Ints4 high) {
    return {_mm_packus_epi16(low.v, high.v)};
}
// Two pixels as words, and back: the packed pixels whose mask byte is 0 stored.
inline Ints4 loadTwoPixelsAsWords(const uint8_t* p) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return {_mm_unpacklo_epi8(bytes, _mm_setzero_si128())};
}
inline void storeTwoPixels(Ints4 words, const uint8_t* mask, uint8_t* out) {
    const __m128i packed = _mm_packus_epi16(words.v, _mm_setzero_si128());
    __m128i m = _mm_cvtsi32_si128(mask[0] | (mask[1] << 8));
    m = _mm_unpacklo_epi8(m, m);
    m = _mm_unpacklo_epi16(m, m);
    const __m128i alive = _mm_cmpeq_epi8(m, _mm_setzero_si128());
    const __m128i old = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(out));
    const __m128i merged = _mm_or_si128(_mm_and_si128(alive, packed), _mm_andnot_si128(alive, old));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), merged);
}

// Floats and doubles.
inline Floats4 floats4(float a, float b, float c, float d) {
    return {_mm_setr_ps(a, b, c, d)};
}
inline Floats4 loadFloats4(const float* p) {
    return {_mm_loadu_ps(p)};
}
inline Floats4 loadAlignedFloats4(const float* p) {
    return {_mm_load_ps(p)};
}
inline void storeFloats4(float* p, Floats4 a) {
    _mm_storeu_ps(p, a.v);
}
inline Floats4 zeroFloats() {
    return {_mm_setzero_ps()};
}
inline Floats4 operator+(Floats4 a, Floats4 b) {
    return {_mm_add_ps(a.v, b.v)};
}
inline Floats4 operator-(Floats4 a, Floats4 b) {
    return {_mm_sub_ps(a.v, b.v)};
}
inline Floats4 operator*(Floats4 a, Floats4 b) {
    return {_mm_mul_ps(a.v, b.v)};
}
inline Floats4 operator/(Floats4 a, Floats4 b) {
    return {_mm_div_ps(a.v, b.v)};
}
inline Floats4 splatFloat(float a) {
    return {_mm_set1_ps(a)};
}
// Bit j set where lane j of a is below (above) lane j of b; never for NaN.
inline unsigned lanesBelow(Floats4 a, Floats4 b) {
    return static_cast<unsigned>(_mm_movemask_ps(_mm_cmplt_ps(a.v, b.v)));
}
inline unsigned lanesAbove(Floats4 a, Floats4 b) {
    return static_cast<unsigned>(_mm_movemask_ps(_mm_cmpgt_ps(a.v, b.v)));
}
// Rows become columns: lane j of the i-th result is lane i of the j-th argument.
inline void transposeFloats4(Floats4& a, Floats4& b, Floats4& c, Floats4& d) {
    _MM_TRANSPOSE4_PS(a.v, b.v, c.v, d.v);
}
inline float floatLane0(Floats4 a) {
    return _mm_cvtss_f32(a.v);
}
inline float floatLane1(Floats4 a) {
    return _mm_cvtss_f32(_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(1, 1, 1, 1)));
}
inline Ints4 floatBits(Floats4 a) {
    return {_mm_castps_si128(a.v)};
}
// Four unsigned words, and the four bytes of a pixel, as 32-bit lanes.
inline Ints4 wordsAsInts(const uint16_t w[4]) {
    const __m128i four = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
    return {_mm_unpacklo_epi16(four, _mm_setzero_si128())};
}
inline Ints4 bytesAsInts(const uint8_t b[4]) {
    uint32_t bits;
    std::memcpy(&bits, b, 4);
    const __m128i words =
        _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(bits)), _mm_setzero_si128());
    return {_mm_unpacklo_epi16(words, _mm_setzero_si128())};
}
inline Ints4 subtractInts(Ints4 a, Ints4 b) {
    return {_mm_sub_epi32(a.v, b.v)};
}
inline Ints4 shiftLeftInts8(Ints4 a) {
    return {_mm_slli_epi32(a.v, 8)};
}
// Signed 32-bit lanes to floats, and floats truncated to them (INT32_MIN
// where out of range, as cvttss2si gives).
inline Floats4 intsToFloats(Ints4 a) {
    return {_mm_cvtepi32_ps(a.v)};
}
inline Ints4 truncateToInts(Floats4 a) {
    return {_mm_cvttps_epi32(a.v)};
}
// The low 16 bits of each 32-bit lane, into out[0..3].
inline void storeLowWords(Ints4 a, uint16_t* out) {
    const __m128i low = _mm_srai_epi32(_mm_slli_epi32(a.v, 16), 16);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(low, low));
}
// All ones where depthPasses<Func> holds.
template <uint8_t Func>
inline Ints4 depthPasses4(Floats4 z, Floats4 stored) {
    switch (Func) {
        case 2:
            return {_mm_castps_si128(_mm_cmpge_ps(z.v, stored.v))};
        case 3:
            return {_mm_castps_si128(_mm_cmpgt_ps(z.v, stored.v))};
        case 4:
            return {_mm_castps_si128(_mm_cmple_ps(z.v, stored.v))};
        case 5:
            return {_mm_castps_si128(_mm_cmplt_ps(z.v, stored.v))};
        case 6:
            return {_mm_castps_si128(_mm_cmpeq_ps(z.v, stored.v))};
        case 7:
            return {_mm_castps_si128(_mm_cmpneq_ps(z.v, stored.v))};
        default:
            return allOnes();
    }
}

inline Doubles2 doubles2(double a, double b) {
    return {_mm_setr_pd(a, b)};
}
inline Doubles2 splatDouble(double a) {
    return {_mm_set1_pd(a)};
}
inline Doubles2 loadDoubles2(const double* p) {
    return {_mm_loadu_pd(p)};
}
inline void storeDoubles2(double* p, Doubles2 a) {
    _mm_storeu_pd(p, a.v);
}
inline Doubles2 operator+(Doubles2 a, Doubles2 b) {
    return {_mm_add_pd(a.v, b.v)};
}
inline Doubles2 operator*(Doubles2 a, Doubles2 b) {
    return {_mm_mul_pd(a.v, b.v)};
}
inline Doubles2 operator/(Doubles2 a, Doubles2 b) {
    return {_mm_div_pd(a.v, b.v)};
}
// The four floats rounded from two pairs of doubles, as static_cast rounds them.
inline Floats4 roundToFloats(Doubles2 low, Doubles2 high) {
    return {_mm_movelh_ps(_mm_cvtpd_ps(low.v), _mm_cvtpd_ps(high.v))};
}
// The texel coordinates of four pixels: pixel j's (s/w, t/w) in lanes 0 and 1
// of stj times its w (lanes 0, 1 of w01, w23), truncated like truncToInt
// (cvttpd2dq gives INT32_MIN for NaN and out-of-range values too).
inline void texelCoordinates(Floats4 st0, Floats4 st1, Floats4 st2, Floats4 st3, Doubles2 w01,
                             Doubles2 w23, Ints4& s, Ints4& t) {
    const __m128i c0 =
        _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st0.v), _mm_unpacklo_pd(w01.v, w01.v)));
    const __m128i c1 =
        _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st1.v), _mm_unpackhi_pd(w01.v, w01.v)));
    const __m128i c2 =
        _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st2.v), _mm_unpacklo_pd(w23.v, w23.v)));
    const __m128i c3 =
        _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st3.v), _mm_unpackhi_pd(w23.v, w23.v)));
    const __m128 q01 = _mm_castsi128_ps(_mm_unpacklo_epi64(c0, c1));
    const __m128 q23 = _mm_castsi128_ps(_mm_unpacklo_epi64(c2, c3));
    s.v = _mm_castps_si128(_mm_shuffle_ps(q01, q23, _MM_SHUFFLE(2, 0, 2, 0)));
    t.v = _mm_castps_si128(_mm_shuffle_ps(q01, q23, _MM_SHUFFLE(3, 1, 3, 1)));
}
inline Ints4 shiftLeft32(Ints4 a, int bits) {
    return {_mm_sll_epi32(a.v, _mm_cvtsi32_si128(bits))};
}
// The texel coordinates of one pixel, as texelCoordinates finds them.
inline void texelCoordinate(float sOverW, float tOverW, double w, int32_t& s, int32_t& t) {
    const __m128i st = _mm_cvttpd_epi32(
        _mm_mul_pd(_mm_cvtps_pd(_mm_setr_ps(sOverW, tOverW, 0.0f, 0.0f)), _mm_set1_pd(w)));
    s = _mm_cvtsi128_si32(st);
    t = _mm_cvtsi128_si32(_mm_shuffle_epi32(st, _MM_SHUFFLE(1, 1, 1, 1)));
}

// Four quotients a/d, b/e, c/f, g/h in one division, each lane rounded like
// the scalar division. The operands go straight into a register: a vector
// load of values just stored one by one would stall.
struct Quotients {
    float v[4];
};
inline Quotients divide4(float a, float b, float c, float g, float d, float e, float f, float h) {
    Quotients q;
    _mm_storeu_ps(q.v, _mm_div_ps(_mm_setr_ps(a, b, c, g), _mm_setr_ps(d, e, f, h)));
    return q;
}

#else  // the scalar twins

struct Ints4 {
    uint8_t b[16];
};
struct Floats4 {
    float v[4];
};
struct Doubles2 {
    double v[2];
};

namespace lanes_detail {
// Lane j of r from lane j of a and b, in lanes of type T.
template <typename T, typename F>
inline Ints4 eachLane(Ints4 a, Ints4 b, F f) {
    constexpr unsigned N = 16 / sizeof(T);
    T x[N], y[N], r[N];
    std::memcpy(x, a.b, 16);
    std::memcpy(y, b.b, 16);
    for (unsigned j = 0; j < N; ++j) r[j] = static_cast<T>(f(x[j], y[j]));
    Ints4 out;
    std::memcpy(out.b, r, 16);
    return out;
}
template <typename T>
inline T lane(Ints4 a, unsigned j) {
    T x;
    std::memcpy(&x, a.b + j * sizeof(T), sizeof(T));
    return x;
}
template <typename T, unsigned N>
inline Ints4 fromLanes(const T (&x)[N]) {
    static_assert(sizeof x == 16);
    Ints4 out;
    std::memcpy(out.b, x, 16);
    return out;
}
inline uint8_t packedByte(uint16_t word) {
    const int lane = word >= 0x8000 ? int{word} - 0x10000 : int{word};
    return static_cast<uint8_t>(std::clamp(lane, 0, 255));
}
}  // namespace lanes_detail

inline Ints4 loadInts4(const void* p) {
    Ints4 a;
    std::memcpy(a.b, p, 16);
    return a;
}
inline Ints4 loadAlignedInts4(const void* p) {
    return loadInts4(p);
}
inline void storeInts4(void* p, Ints4 a) {
    std::memcpy(p, a.b, 16);
}
inline Ints4 splatPixel(uint32_t bits) {
    const uint32_t x[4] = {bits, bits, bits, bits};
    return lanes_detail::fromLanes(x);
}
inline Ints4 splatByte(uint8_t b) {
    Ints4 a;
    std::memset(a.b, b, 16);
    return a;
}
inline Ints4 splatWord(uint16_t w) {
    const uint16_t x[8] = {w, w, w, w, w, w, w, w};
    return lanes_detail::fromLanes(x);
}
inline Ints4 onePixel(uint32_t bits) {
    const uint32_t x[4] = {bits, 0, 0, 0};
    return lanes_detail::fromLanes(x);
}
inline uint32_t firstPixel(Ints4 a) {
    return lanes_detail::lane<uint32_t>(a, 0);
}
inline void lanePairs(Ints4 a, uint64_t& low, uint64_t& high) {
    std::memcpy(&low, a.b, 8);
    std::memcpy(&high, a.b + 8, 8);
}
inline Ints4 allOnes() {
    return splatByte(255);
}

inline Ints4 andBits(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, [](unsigned x, unsigned y) { return x & y; });
}
inline Ints4 orBits(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, [](unsigned x, unsigned y) { return x | y; });
}
inline Ints4 xorBits(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, [](unsigned x, unsigned y) { return x ^ y; });
}
inline Ints4 andNotBits(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, [](unsigned x, unsigned y) { return ~x & y; });
}
inline Ints4 selectBits(Ints4 choose, Ints4 a, Ints4 b) {
    return orBits(andBits(choose, a), andNotBits(choose, b));
}

inline Ints4 aliveLanes(const uint8_t* mask) {
    uint32_t x[4];
    for (unsigned j = 0; j < 4; ++j) x[j] = mask[j] == 0 ? ~0u : 0u;
    return lanes_detail::fromLanes(x);
}
inline void storeMaskBytes(Ints4 pass, uint8_t* mask) {
    for (unsigned j = 0; j < 4; ++j) mask[j] = lanes_detail::lane<uint32_t>(pass, j) != 0 ? 0 : 255;
}
inline Ints4 lanesBefore(int32_t n, int32_t i) {
    uint32_t x[4];
    for (int32_t j = 0; j < 4; ++j) x[j] = i + j < n ? ~0u : 0u;
    return lanes_detail::fromLanes(x);
}
inline bool anyLane(Ints4 a) {
    for (uint8_t byte : a.b) {
        if (byte & 0x80u) return true;
    }
    return false;
}
inline Ints4 laneMaskBytes(Ints4 m0, Ints4 m1, Ints4 m2, Ints4 m3) {
    const Ints4 rounds[4] = {m0, m1, m2, m3};
    uint8_t x[16];
    for (unsigned j = 0; j < 16; ++j) {
        x[j] = lanes_detail::lane<uint32_t>(rounds[j / 4], j % 4) != 0 ? 255 : 0;
    }
    return lanes_detail::fromLanes(x);
}
inline void byteMaskLanes(Ints4 bytes, Ints4 (&rounds)[4]) {
    for (unsigned r = 0; r < 4; ++r) {
        uint32_t x[4];
        for (unsigned j = 0; j < 4; ++j) x[j] = bytes.b[r * 4 + j] != 0 ? ~0u : 0u;
        rounds[r] = lanes_detail::fromLanes(x);
    }
}

inline Ints4 addBytes(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, [](unsigned x, unsigned y) { return x + y; });
}
inline Ints4 equalBytes(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b,
                                           [](unsigned x, unsigned y) { return x == y ? 255 : 0; });
}
inline Ints4 minBytes(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b,
                                           [](unsigned x, unsigned y) { return std::min(x, y); });
}
inline Ints4 maxBytes(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b,
                                           [](unsigned x, unsigned y) { return std::max(x, y); });
}
inline Ints4 addSaturatedBytes(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, addSaturatedByte);
}
inline Ints4 subtractSaturatedBytes(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint8_t>(a, b, subtractSaturatedByte);
}

inline Ints4 addWords(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint16_t>(a, b, [](unsigned x, unsigned y) { return x + y; });
}
inline Ints4 subtractWords(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint16_t>(a, b, [](unsigned x, unsigned y) { return x - y; });
}
inline Ints4 multiplyWords(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint16_t>(a, b, [](uint32_t x, uint32_t y) { return x * y; });
}
inline Ints4 multiplyHighWords(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint16_t>(a, b,
                                            [](uint32_t x, uint32_t y) { return (x * y) >> 16; });
}
inline Ints4 shiftDownWords8(Ints4 a) {
    return lanes_detail::eachLane<uint16_t>(a, a, [](unsigned x, unsigned) { return x >> 8; });
}
inline Ints4 addSaturatedWords(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint16_t>(
        a, b, [](uint32_t x, uint32_t y) { return std::min(x + y, 65535u); });
}
inline Ints4 alphaWords(Ints4 a) {
    uint16_t x[8];
    for (unsigned j = 0; j < 8; ++j) x[j] = lanes_detail::lane<uint16_t>(a, (j & 4) + 3);
    return lanes_detail::fromLanes(x);
}
inline Ints4 wordsTwice(const uint16_t w[4]) {
    const uint16_t x[8] = {w[0], w[1], w[2], w[3], w[0], w[1], w[2], w[3]};
    return lanes_detail::fromLanes(x);
}
inline Ints4 wordHalves(uint16_t low, uint16_t high) {
    const uint16_t x[8] = {low, low, low, low, high, high, high, high};
    return lanes_detail::fromLanes(x);
}

inline Ints4 lowPixelsAsWords(Ints4 a) {
    uint16_t x[8];
    for (unsigned j = 0; j < 8; ++j) x[j] = a.b[j];
    return lanes_detail::fromLanes(x);
}
inline Ints4 highPixelsAsWords(Ints4 a) {
    uint16_t x[8];
    for (unsigned j = 0; j < 8; ++j) x[j] = a.b[8 + j];
    return lanes_detail::fromLanes(x);
}
inline Ints4 lowPixelsAsHighBytes(Ints4 a) {
    uint16_t x[8];
    for (unsigned j = 0; j < 8; ++j) x[j] = static_cast<uint16_t>(a.b[j] << 8);
    return lanes_detail::fromLanes(x);
}
inline Ints4 highPixelsAsHighBytes(Ints4 a) {
    uint16_t x[8];
    for (unsigned j = 0; j < 8; ++j) x[j] = static_cast<uint16_t>(a.b[8 + j] << 8);
    return lanes_detail::fromLanes(x);
}
inline Ints4 packWords(Ints4 low, Ints4 high) {
    Ints4 out;
    for (unsigned j = 0; j < 8; ++j) {
        out.b[j] = lanes_detail::packedByte(lanes_detail::lane<uint16_t>(low, j));
        out.b[8 + j] = lanes_detail::packedByte(lanes_detail::lane<uint16_t>(high, j));
    }
    return out;
}
inline Ints4 loadTwoPixelsAsWords(const uint8_t* p) {
    uint16_t x[8];
    for (unsigned j = 0; j < 8; ++j) x[j] = p[j];
    return lanes_detail::fromLanes(x);
}
inline void storeTwoPixels(Ints4 words, const uint8_t* mask, uint8_t* out) {
    for (unsigned j = 0; j < 8; ++j) {
        if (mask[j / 4] == 0)
            out[j] = lanes_detail::packedByte(lanes_detail::lane<uint16_t>(words, j));
    }
}

inline Floats4 floats4(float a, float b, float c, float d) {
    return {{a, b, c, d}};
}
inline Floats4 loadFloats4(const float* p) {
    Floats4 a;
    std::memcpy(a.v, p, 16);
    return a;
}
inline Floats4 loadAlignedFloats4(const float* p) {
    return loadFloats4(p);
}
inline void storeFloats4(float* p, Floats4 a) {
    std::memcpy(p, a.v, 16);
}
inline Floats4 zeroFloats() {
    return {{0.0f, 0.0f, 0.0f, 0.0f}};
}
inline Floats4 operator+(Floats4 a, Floats4 b) {
    return {{a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]}};
}
inline Floats4 operator-(Floats4 a, Floats4 b) {
    return {{a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]}};
}
inline Floats4 operator*(Floats4 a, Floats4 b) {
    return {{a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]}};
}
inline Floats4 operator/(Floats4 a, Floats4 b) {
    return {{a.v[0] / b.v[0], a.v[1] / b.v[1], a.v[2] / b.v[2], a.v[3] / b.v[3]}};
}
inline Floats4 splatFloat(float a) {
    return {{a, a, a, a}};
}
inline unsigned lanesBelow(Floats4 a, Floats4 b) {
    unsigned bits = 0;
    for (unsigned j = 0; j < 4; ++j) bits |= a.v[j] < b.v[j] ? 1u << j : 0u;
    return bits;
}
inline unsigned lanesAbove(Floats4 a, Floats4 b) {
    return lanesBelow(b, a);
}
inline void transposeFloats4(Floats4& a, Floats4& b, Floats4& c, Floats4& d) {
    Floats4* rows[4] = {&a, &b, &c, &d};
    for (unsigned i = 0; i < 4; ++i) {
        for (unsigned j = i + 1; j < 4; ++j) std::swap(rows[i]->v[j], rows[j]->v[i]);
    }
}
inline float floatLane0(Floats4 a) {
    return a.v[0];
}
inline float floatLane1(Floats4 a) {
    return a.v[1];
}
inline Ints4 floatBits(Floats4 a) {
    Ints4 out;
    std::memcpy(out.b, a.v, 16);
    return out;
}
inline Ints4 wordsAsInts(const uint16_t w[4]) {
    const int32_t x[4] = {w[0], w[1], w[2], w[3]};
    return lanes_detail::fromLanes(x);
}
inline Ints4 bytesAsInts(const uint8_t b[4]) {
    const int32_t x[4] = {b[0], b[1], b[2], b[3]};
    return lanes_detail::fromLanes(x);
}
inline Ints4 subtractInts(Ints4 a, Ints4 b) {
    return lanes_detail::eachLane<uint32_t>(a, b, [](uint32_t x, uint32_t y) { return x - y; });
}
inline Ints4 shiftLeftInts8(Ints4 a) {
    return lanes_detail::eachLane<uint32_t>(a, a, [](uint32_t x, uint32_t) { return x << 8; });
}
inline Floats4 intsToFloats(Ints4 a) {
    Floats4 out;
    for (unsigned j = 0; j < 4; ++j)
        out.v[j] = static_cast<float>(lanes_detail::lane<int32_t>(a, j));
    return out;
}
inline Ints4 truncateToInts(Floats4 a) {
    int32_t x[4];
    for (unsigned j = 0; j < 4; ++j) x[j] = truncToInt(a.v[j]);
    return lanes_detail::fromLanes(x);
}
inline void storeLowWords(Ints4 a, uint16_t* out) {
    for (unsigned j = 0; j < 4; ++j)
        out[j] = static_cast<uint16_t>(lanes_detail::lane<int32_t>(a, j));
}
template <uint8_t Func>
inline Ints4 depthPasses4(Floats4 z, Floats4 stored) {
    uint32_t x[4];
    for (unsigned j = 0; j < 4; ++j) x[j] = depthPasses<Func>(z.v[j], stored.v[j]) ? ~0u : 0u;
    return lanes_detail::fromLanes(x);
}

inline Doubles2 doubles2(double a, double b) {
    return {{a, b}};
}
inline Doubles2 splatDouble(double a) {
    return {{a, a}};
}
inline Doubles2 loadDoubles2(const double* p) {
    return {{p[0], p[1]}};
}
inline void storeDoubles2(double* p, Doubles2 a) {
    p[0] = a.v[0];
    p[1] = a.v[1];
}
inline Doubles2 operator+(Doubles2 a, Doubles2 b) {
    return {{a.v[0] + b.v[0], a.v[1] + b.v[1]}};
}
inline Doubles2 operator*(Doubles2 a, Doubles2 b) {
    return {{a.v[0] * b.v[0], a.v[1] * b.v[1]}};
}
inline Doubles2 operator/(Doubles2 a, Doubles2 b) {
    return {{a.v[0] / b.v[0], a.v[1] / b.v[1]}};
}
inline Floats4 roundToFloats(Doubles2 low, Doubles2 high) {
    return {{static_cast<float>(low.v[0]), static_cast<float>(low.v[1]),
             static_cast<float>(high.v[0]), static_cast<float>(high.v[1])}};
}
inline void texelCoordinates(Floats4 st0, Floats4 st1, Floats4 st2, Floats4 st3, Doubles2 w01,
                             Doubles2 w23, Ints4& s, Ints4& t) {
    const Floats4 st[4] = {st0, st1, st2, st3};
    const double w[4] = {w01.v[0], w01.v[1], w23.v[0], w23.v[1]};
    int32_t ss[4], tt[4];
    for (unsigned j = 0; j < 4; ++j) {
        ss[j] = truncToInt(static_cast<double>(st[j].v[0]) * w[j]);
        tt[j] = truncToInt(static_cast<double>(st[j].v[1]) * w[j]);
    }
    s = lanes_detail::fromLanes(ss);
    t = lanes_detail::fromLanes(tt);
}
inline Ints4 shiftLeft32(Ints4 a, int bits) {
    return lanes_detail::eachLane<uint32_t>(a, a,
                                            [bits](uint32_t x, uint32_t) { return x << bits; });
}
inline void texelCoordinate(float sOverW, float tOverW, double w, int32_t& s, int32_t& t) {
    s = truncToInt(static_cast<double>(sOverW) * w);
    t = truncToInt(static_cast<double>(tOverW) * w);
}

struct Quotients {
    float v[4];
};
inline Quotients divide4(float a, float b, float c, float g, float d, float e, float f, float h) {
    return {{a / d, b / e, c / f, g / h}};
}

#endif

// The texture environment's built-in modes on four pixels: 1 modulate
// ((a x b + b) >> 8, within 16 bits: at most 255 x 255 + 255), 2 add up to
// 255, 3 subtract down to 0.
inline Ints4 modulateBytes(Ints4 a, Ints4 b) {
    auto half = [](Ints4 x16, Ints4 y16) {
        return shiftDownWords8(addWords(multiplyWords(x16, y16), y16));
    };
    return packWords(half(lowPixelsAsWords(a), lowPixelsAsWords(b)),
                     half(highPixelsAsWords(a), highPixelsAsWords(b)));
}
template <uint8_t Mode>
inline Ints4 combinePixels(Ints4 a, Ints4 b) {
    if constexpr (Mode == 1) {
        return modulateBytes(a, b);
    } else if constexpr (Mode == 2) {
        return addSaturatedBytes(a, b);
    } else {
        return subtractSaturatedBytes(a, b);
    }
}
