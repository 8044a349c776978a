// Triangle setup, the row walk over the two active edges, and drawSpan, which
// runs each row's pixels through depth test, stencil test, colour generation,
// texture environment, alpha test, blending and depth write, in that order.
#include "render/rasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "render/alpha_test_op.h"
#include "render/blend_op.h"
#include "render/depth_op.h"
#include "render/fixed_point.h"
#include "render/fragment_tables.h"
#include "render/sgl.h"
#include "render/texenv_ops.h"

#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
#include <emmintrin.h>
#endif

TriangleSetup triangleSetup;
EdgeSlot edgeSlots[2];
uint8_t fusedSpansAllowed = 1;

namespace {

// Rows above the FrameBuffer are stepped one at a time like drawn rows. A
// vertex further up than this (only far off-screen or non-finite geometry
// gets there) makes the edges jump the rows in one go instead of looping
// billions of times; x and the colours still land exactly, the float values
// up to rounding.
constexpr int32_t ROW_JUMP_LIMIT = 1 << 16;

void latchSurface(const FrameBuffer* fb, uint8_t which, uint8_t*& base, int32_t& pitch) {
    const Surface* s = fb != nullptr ? fb->surface(which) : nullptr;
    base = s != nullptr ? s->pixels() : nullptr;
    pitch = base != nullptr ? s->pitch() : 0;
}

// Repeats texel indices into 0 .. size - 1, also for negative coordinates;
// a power-of-two size wraps with a mask.
struct TexelWrap {
    int32_t size;
    uint32_t mask;  // size - 1 for a power of two, else 0
    bool powerOfTwo;

    explicit TexelWrap(int32_t n)
        : size(n), mask(static_cast<uint32_t>(n - 1)), powerOfTwo(n > 0 && (n & (n - 1)) == 0) {}

    uint32_t operator()(int32_t v) const {
        if (powerOfTwo) return static_cast<uint32_t>(v) & mask;
        const int32_t r = v % size;
        return static_cast<uint32_t>(r < 0 ? r + size : r);
    }
};

// divideTrunc for a numerator below 2^16 in magnitude, through a double
// division: the quotient's distance to the next integer away from zero is at
// least 1/|divisor|, far more than the division's rounding error, so the
// truncated double is the integer quotient.
inline int32_t divideSmall(int32_t numerator, int32_t divisor) {
    return static_cast<int32_t>(static_cast<double>(numerator) / static_cast<double>(divisor));
}

// Four quotients a/d, b/e, c/f, g/h in one vector division where there is one,
// each lane rounded like the scalar division. The operands go straight into a
// register: a vector load of values just stored one by one would stall.
struct Quotients {
    float v[4];
};
inline Quotients divide4(float a, float b, float c, float g, float d, float e, float f, float h) {
    Quotients q;
#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
    _mm_storeu_ps(q.v, _mm_div_ps(_mm_setr_ps(a, b, c, g), _mm_setr_ps(d, e, f, h)));
#else
    q.v[0] = a / d;
    q.v[1] = b / e;
    q.v[2] = c / f;
    q.v[3] = g / h;
#endif
    return q;
}

// Four colour steps divideTrunc(num[c], divisor) for numerators below 2^16 in
// magnitude and a nonzero divisor. While the divisor is exact in a float, a
// float division does: its rounding error, under 2^-24 of a quotient below
// 2^16, stays under 1/|divisor|, the least distance from a fractional quotient
// to the next integer away from zero, so truncation gives the integer
// quotient. Larger divisors take double divisions (see divideSmall).
inline void divideColorSteps(const int32_t num[4], int32_t divisor, uint16_t out[4]) {
    if (divisor > -(1 << 24) && divisor < (1 << 24)) {
        const float d = static_cast<float>(divisor);
        const Quotients q =
            divide4(static_cast<float>(num[0]), static_cast<float>(num[1]),
                    static_cast<float>(num[2]), static_cast<float>(num[3]), d, d, d, d);
        for (int c = 0; c < 4; ++c) out[c] = static_cast<uint16_t>(static_cast<int32_t>(q.v[c]));
    } else {
        for (int c = 0; c < 4; ++c) out[c] = static_cast<uint16_t>(divideSmall(num[c], divisor));
    }
}

uint16_t add16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a + b);
}

[[gnu::always_inline]] inline void stepEdge(EdgeSlot& e, bool texturing, bool smooth) {
    e.x = wrapAdd(e.x, e.xStep);
    e.invW += e.invWStep;
    if (texturing) {
        e.sOverW += e.sOverWStep;
        e.tOverW += e.tOverWStep;
    }
    if (smooth) {
        for (int c = 0; c < 4; ++c) e.color[c] = add16(e.color[c], e.colorStep[c]);
    }
}

// `rows` steps at once (see ROW_JUMP_LIMIT).
void jumpEdge(EdgeSlot& e, uint32_t rows, bool texturing, bool smooth) {
    e.x = static_cast<int32_t>(static_cast<uint32_t>(e.x) + rows * static_cast<uint32_t>(e.xStep));
    const float k = static_cast<float>(rows);
    e.invW += k * e.invWStep;
    if (texturing) {
        e.sOverW += k * e.sOverWStep;
        e.tOverW += k * e.tOverWStep;
    }
    if (smooth) {
        for (int c = 0; c < 4; ++c) {
            e.color[c] = add16(e.color[c], static_cast<uint16_t>(rows * e.colorStep[c]));
        }
    }
}

// Colour generation for the alive pixels of a span; the running values
// advance for every pixel. The texel is the one under the perspective-correct
// (s, t) = (s/w, t/w) x w, with 1/w accumulated in double precision.
template <bool Texturing, bool Smooth>
void generateColors(const TriangleSetup& ts, SpanBuffers& sb, uint16_t n, double invW, float dz,
                    float sOverW, float ds, float tOverW, float dt, const uint16_t* color,
                    const uint16_t* colorStep, const uint8_t* flatColor) {
    // Locals, so that the stores into the span arrays cannot make the loop reload them.
    const uint8_t* mask = sb.mask;
    [[maybe_unused]] uint8_t* texels = sb.texels;
    [[maybe_unused]] uint8_t* colors = sb.colors;
    [[maybe_unused]] const uint8_t* textureBase = ts.textureBase;
    [[maybe_unused]] const std::ptrdiff_t texturePitch = ts.texturePitch;
    [[maybe_unused]] const TexelWrap wrapS(ts.textureWidth);
    [[maybe_unused]] const TexelWrap wrapT(ts.textureHeight);
    uint16_t acc[4], step[4];
    uint8_t flat[4];
    std::memcpy(acc, color, sizeof acc);
    std::memcpy(step, colorStep, sizeof step);
    std::memcpy(flat, flatColor, 4);
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) {
            if constexpr (Texturing) {
                const double w = 1.0 / invW;
                const int32_t s = truncToInt(static_cast<double>(sOverW) * w);
                const int32_t t = truncToInt(static_cast<double>(tOverW) * w);
                // Explicit conversions: uint32_t does not fit a 32-bit ptrdiff_t (wasm32).
                const uint8_t* texel = textureBase +
                                       static_cast<std::ptrdiff_t>(wrapT(t)) * texturePitch +
                                       static_cast<std::ptrdiff_t>(wrapS(s)) * 4;
                std::memcpy(texels + i * 4, texel, 4);
            }
            if constexpr (Smooth) {
                for (int c = 0; c < 4; ++c) {
                    colors[i * 4 + c] = static_cast<uint8_t>(acc[c] >> 8);
                }
            }
            if constexpr (!Texturing && !Smooth) std::memcpy(colors + i * 4, flat, 4);
        }
        if constexpr (Texturing) {
            invW += dz;
            sOverW += ds;
            tOverW += dt;
        }
        if constexpr (Smooth) {
            for (int c = 0; c < 4; ++c) acc[c] = add16(acc[c], step[c]);
        }
    }
}

// ---------------------------------------------------------------------------
// Fused span loops. They run when the stencil and alpha tests and the texture
// environment are off and the depth and blend entries are the renderer's own
// objects, and give the same bytes as the stage-by-stage path: the same float
// and double operations in the same order for every value, only regrouped so
// that one pass over the span does what the stages do in several.

#if defined(__SSE2__) && !defined(VORNAK_SCALAR_LANES)
#define VORNAK_FUSED_SSE2 1
#endif

// Spans shorter than this add their depths one by one without further ado.
constexpr int32_t SHORT_SPAN = 6;

// 1/w of every pixel of a textured span, in double precision.
double spanInvW[SPAN_CAPACITY];

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
#ifdef VORNAK_FUSED_SSE2
    return (n + 3) & ~3;
#else
    return n;
#endif
}

// invW[i] = z0 + dz + ... + dz (i additions) in double precision, and with a
// depth array also depth[i] = float(invW[i]); invW and depth are filled for
// wholeRounds(n) pixels.
[[gnu::always_inline]] inline void fillInvW(double* invW, float* depth, float z0, float dz,
                                            int32_t n) {
    const int32_t rounds = wholeRounds(n);
    if (n >= SHORT_SPAN && depthSumsExact(z0, dz, n)) {
        int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
        const __m128d start = _mm_set1_pd(z0);
        const __m128d step = _mm_set1_pd(dz);
        const __m128d two = _mm_set1_pd(2.0);
        __m128d k = _mm_set_pd(1.0, 0.0);
        for (; i < rounds; i += 4) {
            const __m128d z01 = _mm_add_pd(start, _mm_mul_pd(k, step));
            k = _mm_add_pd(k, two);
            const __m128d z23 = _mm_add_pd(start, _mm_mul_pd(k, step));
            k = _mm_add_pd(k, two);
            _mm_storeu_pd(invW + i, z01);
            _mm_storeu_pd(invW + i + 2, z23);
            if (depth != nullptr) {
                _mm_storeu_ps(depth + i, _mm_movelh_ps(_mm_cvtpd_ps(z01), _mm_cvtpd_ps(z23)));
            }
        }
#endif
        for (; i < n; ++i) {
            invW[i] = double{z0} + double(i) * double{dz};
            if (depth != nullptr) depth[i] = static_cast<float>(invW[i]);
        }
        // z0 + 0 x dz turns -0 into +0; the chain starts with z0 itself.
        if (z0 == 0.0f && std::signbit(z0)) {
            invW[0] = z0;
            if (depth != nullptr) depth[0] = z0;
        }
        return;
    }
    double z = z0;
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
    // Four values a round, kept in registers: a vector load of values just
    // stored one by one would stall. cvtpd2ps rounds like the conversion.
    const double step = dz;
    for (; i < rounds; i += 4) {
        const double z1 = z + step;
        const double z2 = z1 + step;
        const double z3 = z2 + step;
        const __m128d z01 = _mm_setr_pd(z, z1);
        const __m128d z23 = _mm_setr_pd(z2, z3);
        _mm_storeu_pd(invW + i, z01);
        _mm_storeu_pd(invW + i + 2, z23);
        if (depth != nullptr) {
            _mm_storeu_ps(depth + i, _mm_movelh_ps(_mm_cvtpd_ps(z01), _mm_cvtpd_ps(z23)));
        }
        z = z3 + step;
    }
#endif
    for (; i < rounds; ++i) {
        invW[i] = z;
        if (depth != nullptr) depth[i] = static_cast<float>(z);
        z += dz;
    }
}

// depth[i] = float(z0 + dz + ... + dz), as the stage-by-stage path stores it.
[[gnu::always_inline]] inline void fillDepths(float* depth, float z0, float dz, int32_t n) {
    if (n >= SHORT_SPAN && depthSumsExact(z0, dz, n)) {
#ifdef VORNAK_FUSED_SSE2
        const __m128d start = _mm_set1_pd(z0);
        const __m128d step = _mm_set1_pd(dz);
        const __m128d four = _mm_set1_pd(4.0);
        __m128d k01 = _mm_set_pd(1.0, 0.0);
        __m128d k23 = _mm_set_pd(3.0, 2.0);
        int32_t i = 0;
        for (; i + 4 <= n; i += 4) {
            const __m128 lo = _mm_cvtpd_ps(_mm_add_pd(start, _mm_mul_pd(k01, step)));
            const __m128 hi = _mm_cvtpd_ps(_mm_add_pd(start, _mm_mul_pd(k23, step)));
            _mm_storeu_ps(depth + i, _mm_movelh_ps(lo, hi));
            k01 = _mm_add_pd(k01, four);
            k23 = _mm_add_pd(k23, four);
        }
        for (; i < n; ++i) depth[i] = static_cast<float>(double{z0} + double(i) * double{dz});
#else
        for (int32_t i = 0; i < n; ++i) {
            depth[i] = static_cast<float>(double{z0} + double(i) * double{dz});
        }
#endif
        // z0 + 0 x dz turns -0 into +0; the chain starts with z0 itself.
        if (n > 0 && z0 == 0.0f && std::signbit(z0)) depth[0] = z0;
        return;
    }
    double z = z0;
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
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
        _mm_storeu_ps(depth + i, _mm_setr_ps(d0, d1, d2, d3));
    }
#endif
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

#ifdef VORNAK_FUSED_SSE2
// Four pixels' texels at a time. s/w and t/w advance together in one register,
// each lane adding its own step in the same order as one by one; the products
// and truncations are the scalar ones lane by lane (cvttpd2dq gives INT32_MIN
// for NaN and out-of-range values, like truncToInt).
template <bool PowerOfTwo>
struct TexelRounds {
    TexelLookup<PowerOfTwo> lookup;
    __m128 step;
    // A power-of-two texture stored without padding: the texel index is
    // (t << log2 width) | s, four at a time.
    bool indexed;
    __m128i shift;
    __m128i wrapS;
    __m128i wrapT;

    TexelRounds(const TriangleSetup& ts, float ds, float dt)
        : lookup(ts),
          step(_mm_setr_ps(ds, dt, 0.0f, 0.0f)),
          indexed(PowerOfTwo && lookup.pitch == static_cast<std::ptrdiff_t>(lookup.width) * 4),
          shift(
              _mm_cvtsi32_si128(indexed ? __builtin_ctz(static_cast<unsigned>(lookup.width)) : 0)),
          wrapS(_mm_set1_epi32(static_cast<int>(lookup.maskS))),
          wrapT(_mm_set1_epi32(static_cast<int>(lookup.maskT))) {}

    // The texel of one pixel, as round finds it for its first.
    [[gnu::always_inline]] uint32_t single(double invW, float sOverW, float tOverW) const {
        const __m128d w = _mm_div_pd(_mm_set1_pd(1.0), _mm_set1_pd(invW));
        const __m128i st =
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_setr_ps(sOverW, tOverW, 0.0f, 0.0f)), w));
        const int32_t s = _mm_cvtsi128_si32(st);
        const int32_t t = _mm_cvtsi128_si32(_mm_shuffle_epi32(st, _MM_SHUFFLE(1, 1, 1, 1)));
        if (indexed) {
            const uint32_t index = (static_cast<uint32_t>(t) & lookup.maskT)
                                       << _mm_cvtsi128_si32(shift) |
                                   (static_cast<uint32_t>(s) & lookup.maskS);
            uint32_t texel;
            std::memcpy(&texel, lookup.base + static_cast<std::ptrdiff_t>(index) * 4, 4);
            return texel;
        }
        return lookup.texel(s, t);
    }

    // The texels of the four pixels whose 1/w are invW01 and invW23 and whose
    // (s/w, t/w) starts at st into out; st moves on to the pixel after them.
    [[gnu::always_inline]] void round(__m128d invW01, __m128d invW23, __m128& st,
                                      uint8_t* out) const {
        const __m128d one = _mm_set1_pd(1.0);
        const __m128d w01 = _mm_div_pd(one, invW01);
        const __m128d w23 = _mm_div_pd(one, invW23);
        const __m128 st0 = st;
        const __m128 st1 = _mm_add_ps(st0, step);
        const __m128 st2 = _mm_add_ps(st1, step);
        const __m128 st3 = _mm_add_ps(st2, step);
        st = _mm_add_ps(st3, step);
        const __m128i c0 =
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st0), _mm_unpacklo_pd(w01, w01)));
        const __m128i c1 =
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st1), _mm_unpackhi_pd(w01, w01)));
        const __m128i c2 =
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st2), _mm_unpacklo_pd(w23, w23)));
        const __m128i c3 =
            _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(st3), _mm_unpackhi_pd(w23, w23)));
        const __m128 q01 = _mm_castsi128_ps(_mm_unpacklo_epi64(c0, c1));
        const __m128 q23 = _mm_castsi128_ps(_mm_unpacklo_epi64(c2, c3));
        const __m128i sv = _mm_castps_si128(_mm_shuffle_ps(q01, q23, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i tv = _mm_castps_si128(_mm_shuffle_ps(q01, q23, _MM_SHUFFLE(3, 1, 3, 1)));
        alignas(16) int32_t ss[4];
        alignas(16) int32_t ts4[4];
        if (indexed) {
            const __m128i index = _mm_or_si128(_mm_sll_epi32(_mm_and_si128(tv, wrapT), shift),
                                               _mm_and_si128(sv, wrapS));
            _mm_store_si128(reinterpret_cast<__m128i*>(ss), index);
            for (int j = 0; j < 4; ++j) {
                std::memcpy(out + j * 4, lookup.base + static_cast<std::ptrdiff_t>(ss[j]) * 4, 4);
            }
        } else {
            _mm_store_si128(reinterpret_cast<__m128i*>(ss), sv);
            _mm_store_si128(reinterpret_cast<__m128i*>(ts4), tv);
            for (int j = 0; j < 4; ++j) {
                const uint32_t texel = lookup.texel(ss[j], ts4[j]);
                std::memcpy(out + j * 4, &texel, 4);
            }
        }
    }
};
#endif

// The texels of a span into texels (4 bytes per pixel), as generateColours
// finds them, for every pixel whether alive or not: reading has no effect.
// invW holds wholeRounds(n) values.
template <bool PowerOfTwo>
void gatherTexels(const TriangleSetup& ts, uint8_t* texels, const double* invW, int32_t n,
                  float sOverW, float ds, float tOverW, float dt) {
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
    const TexelRounds<PowerOfTwo> rounds(ts, ds, dt);
    __m128 st = _mm_setr_ps(sOverW, tOverW, 0.0f, 0.0f);
    // Whole rounds, past the span's end too: invW is filled that far, every
    // texel index lands inside the texture, and the texel array has room.
    for (const int32_t end = wholeRounds(n); i < end; i += 4) {
        rounds.round(_mm_loadu_pd(invW + i), _mm_loadu_pd(invW + i + 2), st, texels + i * 4);
    }
    sOverW = _mm_cvtss_f32(st);
    tOverW = _mm_cvtss_f32(_mm_shuffle_ps(st, st, _MM_SHUFFLE(1, 1, 1, 1)));
#endif
    const TexelLookup<PowerOfTwo> lookup(ts);
    for (; i < n; ++i) {
        const double w = 1.0 / invW[i];
        const uint32_t texel = lookup.texel(truncToInt(static_cast<double>(sOverW) * w),
                                            truncToInt(static_cast<double>(tOverW) * w));
        std::memcpy(texels + i * 4, &texel, 4);
        sOverW += ds;
        tOverW += dt;
    }
}

#ifdef VORNAK_FUSED_SSE2
// The 8.8 running colour of pixels k and k + 1 (colour + k x step modulo
// 65536), one 16-bit lane per channel.
[[gnu::always_inline]] inline __m128i smoothPair(const uint16_t* color, const uint16_t* colorStep,
                                                 uint32_t k) {
    // The low 16 bits of the lane products are the products modulo 65536.
    const __m128i start = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(color));
    const __m128i step = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(colorStep));
    const short k0 = static_cast<short>(k);
    const short k1 = static_cast<short>(k + 1);
    return _mm_add_epi16(_mm_unpacklo_epi64(start, start),
                         _mm_mullo_epi16(_mm_unpacklo_epi64(step, step),
                                         _mm_setr_epi16(k0, k0, k0, k0, k1, k1, k1, k1)));
}

// The high bytes of two pairs of running colours: four pixels' colours.
[[gnu::always_inline]] inline __m128i colorBytes(__m128i pair01, __m128i pair23) {
    return _mm_packus_epi16(_mm_srli_epi16(pair01, 8), _mm_srli_epi16(pair23, 8));
}

#endif

// colours[i] = the 8.8 running colour's high bytes: colour + i x step, modulo 65536.
[[gnu::always_inline]] inline void smoothColors(uint8_t* colors, const uint16_t* color,
                                                const uint16_t* colorStep, int32_t n) {
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
    // Two pixels per register, four per round; short spans go one by one.
    if (n >= 4) {
        __m128i a01 = smoothPair(color, colorStep, 0);
        __m128i a23 = smoothPair(color, colorStep, 2);
        const __m128i step4 = _mm_sub_epi16(smoothPair(color, colorStep, 4), a01);
        for (; i + 4 <= n; i += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(colors + i * 4), colorBytes(a01, a23));
            a01 = _mm_add_epi16(a01, step4);
            a23 = _mm_add_epi16(a23, step4);
        }
    }
#endif
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

// Depth comparisons of the depth-function codes 1 to 7 (1 passes everything),
// on one value and on four, with the same answer for NaN as the float operators.
template <uint8_t Func>
bool depthPasses(float z, float stored) {
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

#ifdef VORNAK_FUSED_SSE2
template <uint8_t Func>
__m128 depthPasses4(__m128 z, __m128 stored) {
    switch (Func) {
        case 2:
            return _mm_cmpge_ps(z, stored);
        case 3:
            return _mm_cmpgt_ps(z, stored);
        case 4:
            return _mm_cmple_ps(z, stored);
        case 5:
            return _mm_cmplt_ps(z, stored);
        case 6:
            return _mm_cmpeq_ps(z, stored);
        case 7:
            return _mm_cmpneq_ps(z, stored);
        default:
            return _mm_castsi128_ps(_mm_set1_epi32(-1));
    }
}

inline __m128i select128(__m128i pass, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(pass, a), _mm_andnot_si128(pass, b));
}
#endif

// Depth test, plain colour write and depth write in one pass. fragments is
// null for one flat colour.
template <uint8_t Func, bool Write>
[[gnu::always_inline]] inline void writeSpan(const float* depth, float* depthRow,
                                             const uint8_t* fragments, const uint8_t* flat,
                                             uint8_t* colorRow, int32_t n) {
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
    uint32_t flatBits;
    std::memcpy(&flatBits, flat, 4);
    const __m128i flat4 = _mm_set1_epi32(static_cast<int>(flatBits));
    for (; i + 4 <= n; i += 4) {
        __m128i pass = _mm_set1_epi32(-1);
        __m128 z = _mm_setzero_ps();
        __m128 stored = _mm_setzero_ps();
        if constexpr (Func > 1 || Write) z = _mm_loadu_ps(depth + i);
        if constexpr (Func > 1 || Write) stored = _mm_loadu_ps(depthRow + i);
        if constexpr (Func > 1) pass = _mm_castps_si128(depthPasses4<Func>(z, stored));
        __m128i* out = reinterpret_cast<__m128i*>(colorRow + i * 4);
        const __m128i source =
            fragments != nullptr
                ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(fragments + i * 4))
                : flat4;
        if constexpr (Func > 1) {
            _mm_storeu_si128(out, select128(pass, source, _mm_loadu_si128(out)));
        } else {
            _mm_storeu_si128(out, source);
        }
        if constexpr (Write) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(depthRow + i),
                             select128(pass, _mm_castps_si128(z), _mm_castps_si128(stored)));
        }
    }
#endif
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

#ifdef VORNAK_FUSED_SSE2
// Four mask bytes (0 alive, 255 rejected) at mask from 32-bit lanes of all
// ones (pass) or zeros: narrowed to bytes and inverted.
inline void storeMaskBytes(__m128i pass, uint8_t* mask) {
    const __m128i words = _mm_packs_epi32(pass, pass);
    const __m128i bytes = _mm_xor_si128(_mm_packs_epi16(words, words), _mm_set1_epi32(-1));
    const int32_t four = _mm_cvtsi128_si32(bytes);
    std::memcpy(mask, &four, 4);
}
#endif

// The depth test alone into mask (0 alive, 255 rejected); 1 if a pixel passed.
template <uint8_t Func>
uint8_t maskSpan(const float* depth, const float* depthRow, uint8_t* mask, int32_t n) {
    if constexpr (Func <= 1) {
        std::memset(mask, 0, static_cast<uint16_t>(n));
        return n > 0 ? 1 : 0;
    } else {
        uint8_t any = 0;
        int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
        int passed = 0;
        for (; i + 4 <= n; i += 4) {
            const __m128 pass =
                depthPasses4<Func>(_mm_loadu_ps(depth + i), _mm_loadu_ps(depthRow + i));
            passed |= _mm_movemask_ps(pass);
            storeMaskBytes(_mm_castps_si128(pass), mask + i);
        }
        any = passed != 0 ? 1 : 0;
#endif
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
#ifdef VORNAK_FUSED_SSE2
template <uint8_t Mode>
inline __m128i combineLanes(__m128i x, __m128i y) {
    if constexpr (Mode == SGL_MODULATE) {
        const __m128i zero = _mm_setzero_si128();
        auto half = [](__m128i x16, __m128i y16) {
            return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(x16, y16), y16), 8);
        };
        return _mm_packus_epi16(half(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero)),
                                half(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero)));
    } else if constexpr (Mode == SGL_ADD) {
        return _mm_adds_epu8(x, y);
    } else {
        return _mm_subs_epu8(x, y);
    }
}
#endif

template <uint8_t Mode>
void combineSpanIn(const uint8_t* a, const uint8_t* b, bool constant, uint8_t* out, int32_t n) {
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
    uint32_t k = 0;
    if (constant) std::memcpy(&k, b, 4);
    const __m128i splat = _mm_set1_epi32(static_cast<int>(k));
    for (; i + 4 <= n; i += 4) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i * 4));
        const __m128i y =
            constant ? splat : _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4), combineLanes<Mode>(x, y));
    }
    // The last pixels one per register.
    for (; i < n; ++i) {
        int32_t x, y;
        std::memcpy(&x, a + i * 4, 4);
        std::memcpy(&y, constant ? b : b + i * 4, 4);
        const int32_t r =
            _mm_cvtsi128_si32(combineLanes<Mode>(_mm_cvtsi32_si128(x), _mm_cvtsi32_si128(y)));
        std::memcpy(out + i * 4, &r, 4);
    }
#else
    for (; i < n; ++i) {
        const uint8_t* bi = constant ? b : b + i * 4;
        uint8_t pixel[4];
        for (int j = 0; j < 4; ++j) {
            const unsigned x = a[i * 4 + j];
            const unsigned y = bi[j];
            pixel[j] = static_cast<uint8_t>(Mode == SGL_MODULATE ? (x * y + y) >> 8
                                            : Mode == SGL_ADD    ? (x + y > 255 ? 255 : x + y)
                                                                 : (x > y ? x - y : 0));
        }
        std::memcpy(out + i * 4, pixel, 4);
    }
#endif
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
void copyAlive(const void* from, void* to, const uint8_t* mask, int32_t n) {
    const auto* fragments = static_cast<const uint8_t*>(from);
    auto* row = static_cast<uint8_t*>(to);
    int32_t i = 0;
#ifdef VORNAK_FUSED_SSE2
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        int32_t four;
        std::memcpy(&four, mask + i, 4);
        __m128i m = _mm_cvtsi32_si128(four);
        m = _mm_unpacklo_epi8(m, m);
        m = _mm_unpacklo_epi16(m, m);
        const __m128i alive = _mm_cmpeq_epi32(m, zero);
        __m128i* out = reinterpret_cast<__m128i*>(row + i * 4);
        const __m128i source = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fragments + i * 4));
        _mm_storeu_si128(out, select128(alive, source, _mm_loadu_si128(out)));
    }
#endif
    for (; i < n; ++i) {
        if (mask[i] == 0) std::memcpy(row + i * 4, fragments + i * 4, 4);
    }
}

// The texture environment's combine stage over a span; answers where the
// fragments' colours are now (the texels, or the interpolated colours when
// nothing was combined into the texel array).
const uint8_t* combineFragments(const TriangleSetup& ts, SpanBuffers& sb, uint16_t count,
                                const uint8_t* flat) {
    const uint8_t* fragments = ts.texturing ? sb.texels : sb.colors;
    if (ts.combine) {
        if (ts.texturing && ts.smooth) {
            texEnvCombineSpan(sb.texels, sb.colors, sb.texels, sb.mask, count);
        } else if (ts.texturing) {
            texEnvCombineConstantSpan(sb.texels, flat, sb.texels, sb.mask, count);
        } else if (ts.smooth) {
            texEnvCombineConstantSpan(sb.colors, flat, sb.texels, sb.mask, count);
            fragments = sb.texels;
        }
    }
    return fragments;
}

// The stages after the depth test, in their order, through the same
// dispatchers as the stage-by-stage path; the spans' colour arrays hold every
// pixel's values, which those stages only read for alive pixels.
#ifdef VORNAK_FUSED_SSE2
// maskSpan over whole rounds of four, the mask bytes past the span 255; the
// depth row has room for the last round (the depths past the span are
// compared, and never used).
template <uint8_t Func>
uint8_t maskRounds(const float* depth, const float* depthRow, uint8_t* mask, int32_t n) {
    const __m128i count = _mm_set1_epi32(n);
    __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
    int passed = 0;
    for (int32_t i = 0; i < n; i += 4) {
        __m128i pass = _mm_cmplt_epi32(lane, count);
        lane = _mm_add_epi32(lane, _mm_set1_epi32(4));
        if constexpr (Func > 1) {
            pass = _mm_and_si128(pass, _mm_castps_si128(depthPasses4<Func>(
                                           _mm_loadu_ps(depth + i), _mm_loadu_ps(depthRow + i))));
        }
        passed |= _mm_movemask_ps(_mm_castsi128_ps(pass));
        storeMaskBytes(pass, mask + i);
    }
    return passed != 0 ? 1 : 0;
}
#endif

// roundsFit: the rows have room for the span's last round of four, which the
// depth test and the copies of alive pixels then run whole, the pixels past
// the span rejected.
template <uint8_t Func>
void maskedSpan(const TriangleSetup& ts, const float* depth, float* depthRow, uint8_t* stencilRow,
                uint8_t* colorRow, int32_t n, bool roundsFit) {
    SpanBuffers& sb = renderContext.spans;
    int32_t copied = n;
#ifdef VORNAK_FUSED_SSE2
    if (roundsFit) {
        if (maskRounds<Func>(depth, depthRow, sb.mask, n) == 0) return;
        copied = (n + 3) & ~3;
    } else if (maskSpan<Func>(depth, depthRow, sb.mask, n) == 0) {
        return;
    }
#else
    (void)roundsFit;
    if (maskSpan<Func>(depth, depthRow, sb.mask, n) == 0) return;
#endif
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

enum class SpanKind : uint8_t { FLAT, SMOOTH, TEXTURED_POWER_OF_TWO, TEXTURED };

#ifdef VORNAK_FUSED_SSE2
// 1/w of the next four pixels, one addition after the other as fillInvW and
// fillDepths do for short spans; z moves on to the pixel after them.
[[gnu::always_inline]] inline void invWRound(double& z, float dz, __m128d& invW01,
                                             __m128d& invW23) {
    const double z1 = z + double{dz};
    const double z2 = z1 + double{dz};
    const double z3 = z2 + double{dz};
    invW01 = _mm_setr_pd(z, z1);
    invW23 = _mm_setr_pd(z2, z3);
    z = z3 + double{dz};
}

// The depths and texels of the first 4 x Rounds pixels of a textured span,
// without a loop over the span's length: small triangles are mostly spans of
// one to eight pixels, where the loops' varying trip counts cost more than
// their work.
template <bool PowerOfTwo, int Rounds>
[[gnu::always_inline]] inline void shortTexelRounds(const TriangleSetup& ts, float z0, float dz,
                                                    float sOverW, float ds, float tOverW, float dt,
                                                    float* depth, uint8_t* texels) {
    const TexelRounds<PowerOfTwo> texelRounds(ts, ds, dt);
    __m128 st = _mm_setr_ps(sOverW, tOverW, 0.0f, 0.0f);
    double z = z0;
    for (int r = 0; r < Rounds; ++r) {
        __m128d invW01, invW23;
        invWRound(z, dz, invW01, invW23);
        _mm_storeu_ps(depth + r * 4, _mm_movelh_ps(_mm_cvtpd_ps(invW01), _mm_cvtpd_ps(invW23)));
        texelRounds.round(invW01, invW23, st, texels + r * 16);
    }
}

// The 4 x Rounds depths of a span.
template <int Rounds>
[[gnu::always_inline]] inline void shortDepthRounds(float z0, float dz, float* depth) {
    double z = z0;
    for (int r = 0; r < Rounds; ++r) {
        __m128d invW01, invW23;
        invWRound(z, dz, invW01, invW23);
        _mm_storeu_ps(depth + r * 4, _mm_movelh_ps(_mm_cvtpd_ps(invW01), _mm_cvtpd_ps(invW23)));
    }
}

// x combined with y by the built-in texture environment's mode.
[[gnu::always_inline]] inline __m128i combineMode(uint8_t mode, __m128i x, __m128i y) {
    switch (mode) {
        case SGL_MODULATE:
            return combineLanes<SGL_MODULATE>(x, y);
        case SGL_ADD:
            return combineLanes<SGL_ADD>(x, y);
        default:
            return combineLanes<SGL_SUBTRACT>(x, y);
    }
}

// A plain span of at most 4 x Rounds pixels with room for that many in its
// rows, written four pixels at a time; the pixels past the span are computed
// too and written back unchanged. All texels are read before the first
// write, as the texture may be the colour buffer.
template <SpanKind Kind, uint8_t Func, bool Write, int Rounds>
[[gnu::always_inline]] inline void shortPlainSpan(const TriangleSetup& ts, const SpanRows& rows,
                                                  int32_t n, float z0, float dz, float sOverW,
                                                  float ds, float tOverW, float dt,
                                                  const uint16_t* color, const uint16_t* colorStep,
                                                  const uint8_t* flat) {
    constexpr bool TEXTURED = Kind == SpanKind::TEXTURED_POWER_OF_TWO || Kind == SpanKind::TEXTURED;
    alignas(16) float depths[Rounds * 4];
    alignas(16) uint8_t gathered[Rounds * 16];
    if constexpr (TEXTURED) {
        shortTexelRounds<Kind == SpanKind::TEXTURED_POWER_OF_TWO, Rounds>(
            ts, z0, dz, sOverW, ds, tOverW, dt, depths, gathered);
    } else if constexpr (Func > 1 || Write) {
        shortDepthRounds<Rounds>(z0, dz, depths);
    }
    uint32_t flatBits;
    std::memcpy(&flatBits, flat, 4);
    const __m128i flat4 = _mm_set1_epi32(static_cast<int>(flatBits));
    const bool combine = ts.combine && ts.texEnvMode != SGL_REPLACE;
    __m128i lane = _mm_setr_epi32(0, 1, 2, 3);
    const __m128i count = _mm_set1_epi32(n);
    for (int r = 0; r < Rounds; ++r) {
        const uint32_t k = static_cast<uint32_t>(r) * 4;
        __m128i colors = flat4;
        if constexpr (TEXTURED) {
            colors = _mm_load_si128(reinterpret_cast<const __m128i*>(gathered + r * 16));
            if (combine) {
                const __m128i other = ts.smooth ? colorBytes(smoothPair(color, colorStep, k),
                                                             smoothPair(color, colorStep, k + 2))
                                                : flat4;
                colors = combineMode(ts.texEnvMode, colors, other);
            }
        } else if constexpr (Kind == SpanKind::SMOOTH) {
            colors =
                colorBytes(smoothPair(color, colorStep, k), smoothPair(color, colorStep, k + 2));
            if (combine) colors = combineMode(ts.texEnvMode, colors, flat4);
        }
        __m128i pass = _mm_cmplt_epi32(lane, count);
        lane = _mm_add_epi32(lane, _mm_set1_epi32(4));
        // Without a depth test or write there may be no depth row at all.
        float* depthRow = nullptr;
        __m128 z = _mm_setzero_ps();
        __m128 stored = _mm_setzero_ps();
        if constexpr (Func > 1 || Write) {
            depthRow = rows.depth + r * 4;
            z = _mm_load_ps(depths + r * 4);
            stored = _mm_loadu_ps(depthRow);
        }
        if constexpr (Func > 1) {
            pass = _mm_and_si128(pass, _mm_castps_si128(depthPasses4<Func>(z, stored)));
        }
        __m128i* out = reinterpret_cast<__m128i*>(rows.color + r * 16);
        _mm_storeu_si128(out, select128(pass, colors, _mm_loadu_si128(out)));
        if constexpr (Write) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(depthRow),
                             select128(pass, _mm_castps_si128(z), _mm_castps_si128(stored)));
        }
    }
}
#endif

#ifdef VORNAK_FUSED_SSE2
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
    __m128i pixel = _mm_cvtsi32_si128(static_cast<int>(texel));
    if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
        uint8_t bytes[4];
        if (ts.smooth) {
            for (int c = 0; c < 4; ++c) bytes[c] = static_cast<uint8_t>(color[c] >> 8);
        } else {
            std::memcpy(bytes, flat, 4);
        }
        int32_t other;
        std::memcpy(&other, bytes, 4);
        pixel = combineMode(ts.texEnvMode, pixel, _mm_cvtsi32_si128(other));
    }
    const int32_t bits = _mm_cvtsi128_si32(pixel);
    std::memcpy(rows.color, &bits, 4);
    if constexpr (Write) *rows.depth = z0;
}
#endif

// Spans without stencil test, alpha test, texture environment or blending: one
// loop per colour source, depth function and depth write, chosen per triangle.
template <SpanKind Kind, uint8_t Func, bool Write>
void plainSpan(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0, float dz,
               float sOverW, float ds, float tOverW, float dt, const uint16_t* color,
               const uint16_t* colorStep) {
    SpanBuffers& sb = renderContext.spans;
    constexpr bool NEED_DEPTH = Func > 1 || Write;
    const SpanRows rows = spanRows(ts, y, xl);
    const uint8_t* flat = renderContext.screenVertices[2].color;
#ifdef VORNAK_FUSED_SSE2
    if constexpr (Kind == SpanKind::TEXTURED_POWER_OF_TWO || Kind == SpanKind::TEXTURED) {
        if (n == 1) {
            singleTexturedPixel<Kind == SpanKind::TEXTURED_POWER_OF_TWO, Func, Write>(
                ts, rows, z0, sOverW, tOverW, color, flat);
            return;
        }
    }
    if (n <= 4 && xl + 4 <= ts.width) {
        shortPlainSpan<Kind, Func, Write, 1>(ts, rows, n, z0, dz, sOverW, ds, tOverW, dt, color,
                                             colorStep, flat);
        return;
    }
    if (n <= 8 && xl + 8 <= ts.width) {
        shortPlainSpan<Kind, Func, Write, 2>(ts, rows, n, z0, dz, sOverW, ds, tOverW, dt, color,
                                             colorStep, flat);
        return;
    }
#endif
    if constexpr (Kind == SpanKind::FLAT) {
        if (NEED_DEPTH) fillDepths(sb.depth, z0, dz, n);
        writeSpan<Func, Write>(sb.depth, rows.depth, nullptr, flat, rows.color, n);
    } else if constexpr (Kind == SpanKind::SMOOTH) {
        if (NEED_DEPTH) fillDepths(sb.depth, z0, dz, n);
        smoothColors(sb.colors, color, colorStep, n);
        const uint8_t* fragments = sb.colors;
        if (ts.combine && ts.texEnvMode != SGL_REPLACE) {
            combineSpan(sb.colors, flat, true, sb.texels, ts.texEnvMode, n);
            fragments = sb.texels;
        }
        writeSpan<Func, Write>(sb.depth, rows.depth, fragments, flat, rows.color, n);
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
        writeSpan<Func, Write>(sb.depth, rows.depth, sb.texels, flat, rows.color, n);
    }
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

template <SpanKind Kind, bool Write, size_t... Func>
constexpr std::array<FusedSpanLoop, 8> plainSpans(std::index_sequence<Func...>) {
    return {plainSpan<Kind, static_cast<uint8_t>(Func), Write>...};
}

template <size_t... Func>
constexpr std::array<FusedSpanLoop, 8> stagedSpans(std::index_sequence<Func...>) {
    return {stagedSpan<static_cast<uint8_t>(Func)>...};
}

constexpr std::array<FusedSpanLoop, 8> PLAIN_SPANS[4][2] = {
    {plainSpans<SpanKind::FLAT, false>(std::make_index_sequence<8>()),
     plainSpans<SpanKind::FLAT, true>(std::make_index_sequence<8>())},
    {plainSpans<SpanKind::SMOOTH, false>(std::make_index_sequence<8>()),
     plainSpans<SpanKind::SMOOTH, true>(std::make_index_sequence<8>())},
    {plainSpans<SpanKind::TEXTURED_POWER_OF_TWO, false>(std::make_index_sequence<8>()),
     plainSpans<SpanKind::TEXTURED_POWER_OF_TWO, true>(std::make_index_sequence<8>())},
    {plainSpans<SpanKind::TEXTURED, false>(std::make_index_sequence<8>()),
     plainSpans<SpanKind::TEXTURED, true>(std::make_index_sequence<8>())},
};

constexpr std::array<FusedSpanLoop, 8> STAGED_SPANS = stagedSpans(std::make_index_sequence<8>());

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

// Decides whether the triangle's spans take the fused loops (see TriangleSetup).
void latchFusedSpans(TriangleSetup& ts, const RenderContext& rc) {
    ts.fused = 0;
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
    ts.plainWrite =
        ts.plainBlend && !rc.enables[SGL_STENCIL_TEST] && !alphaTest && (!ts.combine || texEnvKnown)
            ? 1
            : 0;
    ts.blendSrc = src;
    ts.blendDst = dst;
    ts.blendOp = blendOp;
    ts.texturePowerOfTwo = ts.texturing && TexelWrap(ts.textureWidth).powerOfTwo &&
                                   TexelWrap(ts.textureHeight).powerOfTwo
                               ? 1
                               : 0;
    if (ts.plainWrite) {
        const SpanKind kind = ts.texturing ? (ts.texturePowerOfTwo ? SpanKind::TEXTURED_POWER_OF_TWO
                                                                   : SpanKind::TEXTURED)
                              : ts.smooth  ? SpanKind::SMOOTH
                                           : SpanKind::FLAT;
        ts.fusedLoop = PLAIN_SPANS[static_cast<int>(kind)][ts.depthWrite][func];
    } else {
        ts.fusedLoop = STAGED_SPANS[func];
    }
    ts.fused = 1;
}

}  // namespace

namespace {

// setUpEdge with 1/p.w and 1/q.w given.
[[gnu::always_inline]] inline void setUpEdgeFrom(EdgeSlot& edge, const ScreenVertex& p,
                                                 const ScreenVertex& q, int32_t rows, float pInvW,
                                                 float qInvW) {
    const TriangleSetup& ts = triangleSetup;
    edge.x = toFixed16(p.x);
    edge.xStep = divideTrunc(wrapSub(toFixed16(q.x), edge.x), rows);
    const float n = static_cast<float>(rows);
    edge.invW = pInvW;
    if (ts.texturing) {
        edge.sOverW = p.s * pInvW;
        edge.tOverW = p.t * pInvW;
        const Quotients steps = divide4(qInvW - pInvW, q.s * qInvW - edge.sOverW,
                                        q.t * qInvW - edge.tOverW, 0.0f, n, n, n, 1.0f);
        edge.invWStep = steps.v[0];
        edge.sOverWStep = steps.v[1];
        edge.tOverWStep = steps.v[2];
    } else {
        edge.invWStep = (qInvW - pInvW) / n;
    }
    if (ts.smooth) {
        int32_t differences[4];
        for (int c = 0; c < 4; ++c) {
            const int32_t start = p.color[c] * 256;
            edge.color[c] = static_cast<uint16_t>(start);
            differences[c] = q.color[c] * 256 - start;
        }
        divideColorSteps(differences, rows, edge.colorStep);
    }
}

[[gnu::always_inline]] inline void halfStep(EdgeSlot& edge, bool texturing) {
    edge.x = truncToInt(static_cast<float>(edge.x) - static_cast<float>(edge.xStep) / 2.0f);
    edge.invW -= edge.invWStep / 2.0f;
    if (texturing) {
        edge.sOverW -= edge.sOverWStep / 2.0f;
        edge.tOverW -= edge.tOverWStep / 2.0f;
    }
}

}  // namespace

void setUpEdge(EdgeSlot& edge, const ScreenVertex& p, const ScreenVertex& q, int32_t rows) {
    const Quotients reciprocals = divide4(1.0f, 1.0f, 1.0f, 1.0f, p.w, q.w, 1.0f, 1.0f);
    setUpEdgeFrom(edge, p, q, rows, reciprocals.v[0], reciprocals.v[1]);
}

void halfStepEdge(EdgeSlot& edge) {
    halfStep(edge, triangleSetup.texturing != 0);
}

void latchTriangleState() {
    TriangleSetup& ts = triangleSetup;
    const RenderContext& rc = renderContext;
    const FrameBuffer* fb = rc.initialised ? rc.frameBuffer : nullptr;
    ts.width = fb != nullptr ? static_cast<uint16_t>(fb->width()) : 0;
    ts.height = fb != nullptr ? static_cast<uint16_t>(fb->height()) : 0;
    latchSurface(fb, SGL_COLOR_BUFFER, ts.colorBase, ts.colorPitch);
    latchSurface(fb, SGL_DEPTH_BUFFER, ts.depthBase, ts.depthPitch);
    latchSurface(fb, SGL_STENCIL_BUFFER, ts.stencilBase, ts.stencilPitch);

    // Only a 4-byte texture with pixels can be sampled; anything else is no
    // texture. While texturing is off the bound one is not looked at: it may be
    // gone already.
    const Surface* texture = rc.enables[SGL_TEXTURE] != 0 ? rc.texture : nullptr;
    const uint8_t* texturePixels = texture != nullptr ? texture->pixels() : nullptr;
    const bool texturing =
        rc.enables[SGL_TEXTURE] != 0 && texturePixels != nullptr && texture->bytesPerPixel() == 4;
    if (texturing) {
        ts.textureBase = texturePixels;
        ts.texturePitch = texture->pitch();
        ts.textureWidth = texture->width();
        ts.textureHeight = texture->height();
    }
    const bool combine = rc.enables[SGL_TEXTURE_ENV] != 0;
    const bool smoothEnabled = rc.enables[SGL_SMOOTH] != 0;
    ts.texturing = texturing ? 1 : 0;
    ts.flat = !texturing && !smoothEnabled ? 1 : 0;
    ts.combine = combine ? 1 : 0;
    // Without the environment a textured triangle shows its texels only.
    ts.smooth = smoothEnabled && (combine || !texturing) ? 1 : 0;
    latchFusedSpans(ts, rc);
}

namespace {

void stagedSpanGeneral(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0,
                       float dz, float sOverW, float ds, float tOverW, float dt,
                       const uint16_t* color, const uint16_t* colorStep);

// drawSpan with its left and right edges given.
[[gnu::always_inline]] inline void drawSpanBetween(const TriangleSetup& ts, const EdgeSlot& left,
                                                   const EdgeSlot& right, int16_t y, int16_t xLeft,
                                                   int16_t xRight, float invWLeft,
                                                   float invWRight) {
    const int32_t width = ts.width;
    if (xRight < 0 || xLeft >= width || xLeft >= xRight) return;
    int32_t xl = xLeft;
    int32_t n = xRight - xLeft;

    // Steps over the unclipped span.
    const float length = static_cast<float>(n);
    float dz;
    float ds = 0.0f, dt = 0.0f, sOverW = 0.0f, tOverW = 0.0f;
    if (ts.texturing) {
        const Quotients steps =
            divide4(invWRight - invWLeft, right.sOverW - left.sOverW, right.tOverW - left.tOverW,
                    0.0f, length, length, length, 1.0f);
        dz = steps.v[0];
        ds = steps.v[1];
        dt = steps.v[2];
        sOverW = left.sOverW + ds / 2.0f;
        tOverW = left.tOverW + dt / 2.0f;
    } else {
        dz = (invWRight - invWLeft) / length;
    }
    float zl = invWLeft;
    uint16_t color[4] = {};
    uint16_t colorStep[4] = {};
    if (ts.smooth) {
        int32_t differences[4];
        for (int c = 0; c < 4; ++c) {
            differences[c] = int32_t{right.color[c]} - int32_t{left.color[c]};
            color[c] = left.color[c];
        }
        divideColorSteps(differences, n, colorStep);
    }

    // Clip to the FrameBuffer; pixel 0 gets what the unclipped span gives it.
    if (xl < 0) {
        const float skipped = static_cast<float>(xl);
        zl = zl - skipped * dz;
        sOverW = sOverW - skipped * ds;
        tOverW = tOverW - skipped * dt;
        for (int c = 0; c < 4; ++c) {
            color[c] = static_cast<uint16_t>(color[c] - static_cast<uint32_t>(xl) * colorStep[c]);
        }
        n += xl;
        xl = 0;
    }
    if (xRight >= width) n = n + width - xRight;
    if (n <= 0) return;
    const FusedSpanLoop loop = ts.fused ? ts.fusedLoop : stagedSpanGeneral;
    loop(ts, y, xl, n, zl + dz / 2.0f, dz, sOverW, ds, tOverW, dt, color, colorStep);
}

// The stage-by-stage path: every stage through its dispatcher.
void stagedSpanGeneral(const TriangleSetup& ts, int16_t y, int32_t xl, int32_t n, float z0,
                       float dz, float sOverW, float ds, float tOverW, float dt,
                       const uint16_t* color, const uint16_t* colorStep) {
    const uint16_t count = static_cast<uint16_t>(n);
    SpanBuffers& sb = renderContext.spans;
    if (ts.depthBase != nullptr) {
        double z = z0;
        for (int32_t i = 0; i < n; ++i) {
            sb.depth[i] = static_cast<float>(z);
            z += dz;
        }
    }
    float* depthRow = ts.depthBase != nullptr
                          ? reinterpret_cast<float*>(
                                ts.depthBase + static_cast<std::ptrdiff_t>(y) * ts.depthPitch +
                                static_cast<std::ptrdiff_t>(xl) * 4)
                          : nullptr;
    uint8_t* stencilRow =
        ts.stencilBase != nullptr
            ? ts.stencilBase + static_cast<std::ptrdiff_t>(y) * ts.stencilPitch + xl
            : nullptr;

    if (depthTestSpan(sb.depth, depthRow, sb.mask, count) != 1) return;
    if (stencilTestSpan(stencilRow, sb.mask, count) != 1) return;

    const uint8_t* flatColor = renderContext.screenVertices[2].color;
    if (ts.texturing && ts.smooth) {
        generateColors<true, true>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color, colorStep,
                                   flatColor);
    } else if (ts.texturing) {
        generateColors<true, false>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color, colorStep,
                                    flatColor);
    } else if (ts.smooth) {
        generateColors<false, true>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color, colorStep,
                                    flatColor);
    } else {
        generateColors<false, false>(ts, sb, count, z0, dz, sOverW, ds, tOverW, dt, color,
                                     colorStep, flatColor);
    }

    const uint8_t* fragments = combineFragments(ts, sb, count, flatColor);

    if (alphaTestSpan(fragments, sb.mask, count) != 1) return;
    if (ts.colorBase != nullptr) {
        uint8_t* colorRow = ts.colorBase + static_cast<std::ptrdiff_t>(y) * ts.colorPitch +
                            static_cast<std::ptrdiff_t>(xl) * 4;
        blendSpan(fragments, colorRow, colorRow, sb.mask, count);
    }
    depthWriteSpan(sb.depth, depthRow, sb.mask, count);
}

}  // namespace

void drawSpan(int16_t y, int16_t xLeft, int16_t xRight, float invWLeft, float invWRight) {
    const TriangleSetup& ts = triangleSetup;
    const EdgeSlot& left = ts.aIsLeft ? edgeSlots[0] : edgeSlots[1];
    const EdgeSlot& right = ts.aIsLeft ? edgeSlots[1] : edgeSlots[0];
    drawSpanBetween(ts, left, right, y, xLeft, xRight, invWLeft, invWRight);
}

namespace {

// Everything latchTriangleState reads, compared before each triangle: while it
// stays the same, so does the latched setup, and the triangle takes a copy of
// it instead of latching again (most triangles follow others in one state).
struct LatchInputs {
    const FrameBuffer* frameBuffer = nullptr;
    const Surface* texture = nullptr;
    uint32_t surfaceGeneration = 0;
    uint32_t tablesGeneration = 0;
    uint8_t enables[8] = {};
    uint8_t initialised = 0;
    uint8_t fusedAllowed = 0;
    uint8_t alphaFunc = 0;
    uint8_t texEnvMode = 0;
    uint8_t depthFunc = 0;
    uint8_t depthWrite = 0;
    uint8_t blendSrc = 0;
    uint8_t blendDst = 0;
    uint8_t built[4] = {};
    uint8_t unused[4] = {};

    // Byte for byte: there are no padding bytes (checked below).
    bool operator==(const LatchInputs& other) const {
        return std::memcmp(this, &other, sizeof(LatchInputs)) == 0;
    }
};
static_assert(std::has_unique_object_representations_v<LatchInputs>);

LatchInputs currentLatchInputs() {
    const RenderContext& rc = renderContext;
    const FragmentTables& t = rc.tables;
    LatchInputs in;
    in.frameBuffer = rc.frameBuffer;
    in.texture = rc.texture;
    in.surfaceGeneration = surfaceLayoutGeneration();
    in.tablesGeneration = t.generation;
    std::memcpy(in.enables, rc.enables, sizeof in.enables);
    in.initialised = rc.initialised;
    in.fusedAllowed = fusedSpansAllowed;
    in.alphaFunc = rc.alphaFunc;
    in.texEnvMode = rc.texEnvMode;
    in.depthFunc = rc.depthFunc;
    in.depthWrite = rc.depthWrite;
    in.blendSrc = rc.blendSrc;
    in.blendDst = rc.blendDst;
    in.built[0] = t.depth.built;
    in.built[1] = t.stencil.built;
    in.built[2] = t.alpha.built;
    in.built[3] = t.blend.built;
    return in;
}

LatchInputs latchedInputs;
TriangleSetup latchedSetup;
bool latchedValid = false;

void latchTriangleStateAgainIfChanged() {
    const LatchInputs in = currentLatchInputs();
    if (latchedValid && in == latchedInputs) {
        triangleSetup = latchedSetup;
        return;
    }
    latchTriangleState();
    latchedInputs = in;
    latchedSetup = triangleSetup;
    latchedValid = true;
}

}  // namespace

void rasterizeTriangle() {
    const FrameBuffer* fb = sglGetFrameBuffer();
    if (fb == nullptr) return;

    // Sort by row; the comparisons are strict, so equal rows keep submission order.
    const ScreenVertex* v = renderContext.screenVertices;
    const ScreenVertex* top = &v[0];
    const ScreenVertex* mid = &v[1];
    const ScreenVertex* bottom = &v[2];
    if (mid->y < top->y) std::swap(top, mid);
    if (bottom->y < top->y) std::swap(top, bottom);
    if (bottom->y < mid->y) std::swap(mid, bottom);

    const int32_t height = fb->height();
    const int32_t yT = truncToInt(top->y);
    const int32_t yM = truncToInt(mid->y);
    const int32_t yB = truncToInt(bottom->y);
    if (yT >= height || yB < 0) return;
    const bool flatTop = yT == yM;
    if (flatTop && yT == yB) return;
    // Row counts wrap like the machine's subtraction for rows far apart. They
    // are 0 only when a NaN row broke the sort; such a triangle has no rows.
    const int32_t longRows = wrapSub(yB, yT);
    const int32_t shortRows = flatTop ? longRows : wrapSub(yM, yT);
    if (longRows == 0) return;
    if (flatTop && top->x > mid->x) std::swap(top, mid);

    latchTriangleStateAgainIfChanged();
    TriangleSetup& ts = triangleSetup;
    const bool texturing = ts.texturing != 0;
    const bool smooth = ts.smooth != 0;
    // The edges live in locals while the rows are walked and are left in
    // edgeSlots at the end, as drawSpan reads them.
    EdgeSlot a;
    EdgeSlot b;
    struct KeepEdges {
        const EdgeSlot& a;
        const EdgeSlot& b;
        ~KeepEdges() {
            edgeSlots[0] = a;
            edgeSlots[1] = b;
        }
    } keepEdges{a, b};
    // 1/w of the three vertices, each divided once for all the edges.
    const Quotients invW = divide4(1.0f, 1.0f, 1.0f, 1.0f, top->w, mid->w, bottom->w, 1.0f);
    const float topInvW = invW.v[0];
    const float midInvW = invW.v[1];
    const float bottomInvW = invW.v[2];
    if (flatTop) {
        setUpEdgeFrom(a, *top, *bottom, longRows, topInvW, bottomInvW);
        setUpEdgeFrom(b, *mid, *bottom, longRows, midInvW, bottomInvW);
        ts.aIsLeft = 1;
    } else {
        setUpEdgeFrom(a, *top, *mid, shortRows, topInvW, midInvW);
        setUpEdgeFrom(b, *top, *bottom, longRows, topInvW, bottomInvW);
        ts.aIsLeft = a.xStep > b.xStep ? 0 : 1;
    }
    halfStep(a, texturing);
    halfStep(b, texturing);
    const EdgeSlot& left = ts.aIsLeft ? a : b;
    const EdgeSlot& right = ts.aIsLeft ? b : a;

    int32_t y = yT;
    // Rows left on the long and on the short edge; they reach 0 by counting down.
    uint32_t longLeft = static_cast<uint32_t>(longRows);
    uint32_t shortLeft = static_cast<uint32_t>(shortRows);
    for (;;) {
        if (y < -ROW_JUMP_LIMIT) {
            // Jump to row 0, or to just before the next change of edge.
            uint64_t rows = static_cast<uint64_t>(-static_cast<int64_t>(y));
            rows = std::min<uint64_t>(rows, longLeft - 1u);
            if (!flatTop) rows = std::min<uint64_t>(rows, shortLeft - 1u);
            const uint32_t k = static_cast<uint32_t>(rows);
            jumpEdge(a, k, texturing, smooth);
            jumpEdge(b, k, texturing, smooth);
            y = wrapAdd(y, static_cast<int32_t>(k));
            longLeft -= k;
            shortLeft -= k;
        }
        stepEdge(a, texturing, smooth);
        stepEdge(b, texturing, smooth);
        if (y >= height) break;
        if (y >= 0) {
            drawSpanBetween(ts, left, right, static_cast<int16_t>(y),
                            static_cast<int16_t>(left.x >> 16), static_cast<int16_t>(right.x >> 16),
                            left.invW, right.invW);
        }
        ++y;
        --longLeft;
        --shortLeft;
        if (longLeft == 0) break;
        if (!flatTop && shortLeft == 0) {
            // The short edge ends at M: edge A continues from M to B over the
            // remaining rows; its colours restart at M's.
            setUpEdgeFrom(a, *mid, *bottom, static_cast<int32_t>(longLeft), midInvW, bottomInvW);
            halfStep(a, texturing);
            shortLeft = longLeft;
        }
    }
}
