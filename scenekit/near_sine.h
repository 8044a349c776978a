// A sine close to the exact one, without the library's call: for scene values
// that keep only a truncated result, where the library's sine is needed only
// when the value lies too close to an integer for the two to agree.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// nearSine(x) lies within NEAR_SINE_ERROR of the exact sin(x) for |x| below
// NEAR_SINE_LIMIT (the error of the reduction and of the polynomials is below
// 10^-15; the bound leaves a wide margin).
constexpr double NEAR_SINE_LIMIT = 0x1p20;
constexpr double NEAR_SINE_ERROR = 0x1p-45;

// The bits of a double and back (std::bit_cast is missing from some of the
// standard libraries the show is built with).
[[gnu::always_inline]] inline uint64_t doubleBits(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}
[[gnu::always_inline]] inline double doubleFromBits(uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// x reduced by the nearest multiple j of pi/2, then the Taylor series of sin
// or cos of the remainder (|r| <= pi/4 + 2^-30, the first term left out below
// 5 x 10^-17) as j's quadrant picks. Without branches or integer conversions,
// so that loops over it run in vector lanes; any x gives some value.
[[gnu::always_inline]] inline double nearSine(double x) {
    // pi/2 in two parts: the first has 33 significant bits, so j x the first
    // part is exact for |j| < 2^20 and so is x minus it.
    constexpr double HALF_PI_HIGH = 0x1.921fb544p0;
    constexpr double HALF_PI_LOW = 0x1.0b4611a626331p-34;
    constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
    // Adding and subtracting 1.5 x 2^52 rounds to the nearest integer.
    constexpr double ROUNDER = 0x1.8p52;
    const double shifted = x * TWO_OVER_PI + ROUNDER;
    const double j = shifted - ROUNDER;
    const double r = (x - j * HALF_PI_HIGH) - j * HALF_PI_LOW;
    const double r2 = r * r;
    const double sine =
        r + r * r2 *
                (-1.0 / 6 +
                 r2 * (1.0 / 120 +
                       r2 * (-1.0 / 5040 +
                             r2 * (1.0 / 362880 +
                                   r2 * (-1.0 / 39916800 +
                                         r2 * (1.0 / 6227020800 + r2 * (-1.0 / 1307674368000)))))));
    const double cosine =
        1.0 +
        r2 * (-0.5 +
              r2 * (1.0 / 24 +
                    r2 * (-1.0 / 720 +
                          r2 * (1.0 / 40320 + r2 * (-1.0 / 3628800 +
                                                    r2 * (1.0 / 479001600 +
                                                          r2 * (-1.0 / 87178291200 +
                                                                r2 * (1.0 / 20922789888000))))))));
    // Below the limit shifted lies in [2^52, 2^53), where its low bits are
    // j's in two's complement.
    const uint64_t quadrant = doubleBits(shifted) & 3u;
    const uint64_t takeCosine = 0u - (quadrant & 1u);
    const uint64_t value = (doubleBits(cosine) & takeCosine) | (doubleBits(sine) & ~takeCosine);
    return doubleFromBits(value ^ ((quadrant & 2u) << 62));
}
