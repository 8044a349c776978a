#include "scenekit/extended80.h"

#include <cstring>

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr int EXPONENT_BIAS = 16383;
constexpr uint16_t MAX_BIASED_EXPONENT = 0x7FFF;
constexpr uint64_t INTEGER_BIT = uint64_t(1) << 63;

enum class Kind : uint8_t { Zero, Finite, Infinite, NotANumber };

// A value as sign, kind and, when finite, significand * 2^(exponent - 63) with the
// significand's top bit set.
struct Unpacked {
    bool negative = false;
    Kind kind = Kind::Zero;
    int32_t exponent = 0;
    uint64_t significand = 0;
};

int leadingZeros64(uint64_t x) {
    return __builtin_clzll(x);
}

int leadingZeros128(Uint128 x) {
    const auto high = uint64_t(x >> 64);
    return high != 0 ? leadingZeros64(high) : 64 + leadingZeros64(uint64_t(x));
}

Unpacked unpack(Extended80 x) {
    Unpacked u;
    u.negative = (x.signExponent() & 0x8000) != 0;
    const int biased = x.signExponent() & MAX_BIASED_EXPONENT;
    const uint64_t m = x.significand();
    if (biased == MAX_BIASED_EXPONENT) {
        u.kind = (m << 1) == 0 ? Kind::Infinite : Kind::NotANumber;
        return u;
    }
    if (m == 0) return u;  // zero (an unnormal zero too)
    u.kind = Kind::Finite;
    // Denormals have the exponent of the smallest normal; normalise every input.
    const int shift = leadingZeros64(m);
    u.significand = m << shift;
    u.exponent = (biased == 0 ? 1 : biased) - EXPONENT_BIAS - shift;
    return u;
}

Extended80 packSpecial(bool negative, Kind kind) {
    const uint16_t sign = negative ? 0x8000 : 0;
    switch (kind) {
        case Kind::Zero:
            return Extended80::fromBits(sign, 0);
        case Kind::Infinite:
            return Extended80::fromBits(sign | MAX_BIASED_EXPONENT, INTEGER_BIT);
        default:  // the x87 default NaN
            return Extended80::fromBits(0xFFFF, 0xC000000000000000ull);
    }
}

Uint128 shiftRightJamming(Uint128 x, int count) {
    if (count <= 0) return x;
    if (count >= 128) return x != 0 ? 1 : 0;
    return (x >> count) | ((x << (128 - count)) != 0 ? 1 : 0);
}

// Rounds significand * 2^(exponent - 127) (plus something below its last bit when
// `sticky`) to 64 significand bits, nearest-even, with gradual underflow. The
// significand's top bit must be set.
Extended80 roundAndPack(bool negative, int32_t exponent, Uint128 significand, bool sticky) {
    int32_t biased = exponent + EXPONENT_BIAS;
    if (biased >= MAX_BIASED_EXPONENT) return packSpecial(negative, Kind::Infinite);
    if (biased <= 0) {
        significand = shiftRightJamming(significand, 1 - biased);
        biased = 0;
    }
    uint64_t kept = uint64_t(significand >> 64);
    uint64_t rest = uint64_t(significand);
    if (sticky) rest |= 1;
    if (rest > INTEGER_BIT || (rest == INTEGER_BIT && (kept & 1) != 0)) {
        ++kept;
        if (kept == 0) {  // carried out of the top bit
            kept = INTEGER_BIT;
            if (++biased >= MAX_BIASED_EXPONENT) return packSpecial(negative, Kind::Infinite);
        }
    }
    if (biased == 0 && (kept & INTEGER_BIT) != 0) biased = 1;  // rounded up to the smallest normal
    return Extended80::fromBits(uint16_t((negative ? 0x8000 : 0) | biased), kept);
}

Extended80 normaliseRoundAndPack(bool negative, int32_t exponent, Uint128 significand,
                                 bool sticky) {
    // Only an exact cancellation leaves nothing: the operations never leave a
    // remainder without quotient bits.
    if (significand == 0) return packSpecial(negative, Kind::Zero);
    const int shift = leadingZeros128(significand);
    return roundAndPack(negative, exponent - shift, significand << shift, sticky);
}

// An exact value m * 2^power (m != 0).
Extended80 packExact(bool negative, uint64_t m, int32_t power) {
    const int shift = leadingZeros64(m);
    return Extended80::fromBits(
        uint16_t((negative ? 0x8000 : 0) | (power + 63 - shift + EXPONENT_BIAS)), m << shift);
}

// Rounds `m` shifted right by `drop` (>= 1) bits to nearest-even.
uint64_t roundShiftRight(uint64_t m, int drop) {
    if (drop >= 65) return 0;  // below half of the last kept unit
    const Uint128 kept = Uint128(m) >> drop;
    const Uint128 rest = Uint128(m) - (kept << drop);
    const Uint128 half = Uint128(1) << (drop - 1);
    return uint64_t(kept) + ((rest > half || (rest == half && (kept & 1) != 0)) ? 1 : 0);
}

// The IEEE binary format with `fractionBits` and `exponentBits`, as bits, rounded
// to nearest-even.
uint64_t toBinary(Extended80 x, int fractionBits, int exponentBits) {
    const Unpacked u = unpack(x);
    const uint64_t sign = uint64_t(u.negative ? 1 : 0) << (fractionBits + exponentBits);
    const int maxBiased = (1 << exponentBits) - 1;
    const uint64_t infinity = uint64_t(maxBiased) << fractionBits;
    switch (u.kind) {
        case Kind::Zero:
            return sign;
        case Kind::Infinite:
            return sign | infinity;
        case Kind::NotANumber:
            return sign | infinity | (uint64_t(1) << (fractionBits - 1));
        case Kind::Finite:
            break;
    }
    const int bias = maxBiased / 2;
    const int biased = u.exponent + bias;
    if (biased >= 1) {
        uint64_t m = roundShiftRight(u.significand, 63 - fractionBits);
        int e = biased;
        if (m >> (fractionBits + 1)) {  // rounded up to the next power of two
            m >>= 1;
            ++e;
        }
        if (e >= maxBiased) return sign | infinity;
        return sign | (uint64_t(e) << fractionBits) | (m & ((uint64_t(1) << fractionBits) - 1));
    }
    // Subnormal (or rounded up to the smallest normal, which the same bits encode).
    return sign | roundShiftRight(u.significand, 63 - fractionBits + 1 - biased);
}

}  // namespace

namespace extended80_soft {

Extended80 add(Extended80 a, Extended80 b) {
    const Unpacked x = unpack(a);
    const Unpacked y = unpack(b);
    if (x.kind == Kind::NotANumber || y.kind == Kind::NotANumber)
        return packSpecial(false, Kind::NotANumber);
    if (x.kind == Kind::Infinite || y.kind == Kind::Infinite) {
        if (x.kind == Kind::Infinite && y.kind == Kind::Infinite && x.negative != y.negative)
            return packSpecial(false, Kind::NotANumber);
        return x.kind == Kind::Infinite ? a : b;
    }
    if (x.kind == Kind::Zero && y.kind == Kind::Zero)
        return packSpecial(x.negative && y.negative, Kind::Zero);
    if (x.kind == Kind::Zero) return b;
    if (y.kind == Kind::Zero) return a;

    // Significands one bit below the top, for the carry of a sum; 63 bits below
    // the last one for the rounding, and a jammed bit below those for the rest.
    const Unpacked& big = x.exponent >= y.exponent ? x : y;
    const Unpacked& small = x.exponent >= y.exponent ? y : x;
    const Uint128 bigSignificand = Uint128(big.significand) << 63;
    const Uint128 smallSignificand =
        shiftRightJamming(Uint128(small.significand) << 63, big.exponent - small.exponent);
    const int32_t exponent = big.exponent + 1;
    if (big.negative == small.negative)
        return normaliseRoundAndPack(big.negative, exponent, bigSignificand + smallSignificand,
                                     false);
    if (bigSignificand >= smallSignificand) {
        // An exact cancellation is +0 when rounding to nearest.
        const Uint128 difference = bigSignificand - smallSignificand;
        return normaliseRoundAndPack(difference != 0 && big.negative, exponent, difference, false);
    }
    return normaliseRoundAndPack(small.negative, exponent, smallSignificand - bigSignificand,
                                 false);
}

Extended80 subtract(Extended80 a, Extended80 b) {
    return add(a, Extended80::fromBits(b.signExponent() ^ 0x8000, b.significand()));
}

Extended80 multiply(Extended80 a, Extended80 b) {
    const Unpacked x = unpack(a);
    const Unpacked y = unpack(b);
    const bool negative = x.negative != y.negative;
    if (x.kind == Kind::NotANumber || y.kind == Kind::NotANumber)
        return packSpecial(false, Kind::NotANumber);
    if (x.kind == Kind::Infinite || y.kind == Kind::Infinite) {
        if (x.kind == Kind::Zero || y.kind == Kind::Zero)
            return packSpecial(false, Kind::NotANumber);
        return packSpecial(negative, Kind::Infinite);
    }
    if (x.kind == Kind::Zero || y.kind == Kind::Zero) return packSpecial(negative, Kind::Zero);
    const Uint128 product = Uint128(x.significand) * y.significand;
    return normaliseRoundAndPack(negative, x.exponent + y.exponent + 1, product, false);
}

Extended80 divide(Extended80 a, Extended80 b) {
    const Unpacked x = unpack(a);
    const Unpacked y = unpack(b);
    const bool negative = x.negative != y.negative;
    if (x.kind == Kind::NotANumber || y.kind == Kind::NotANumber)
        return packSpecial(false, Kind::NotANumber);
    if (x.kind == y.kind && (x.kind == Kind::Infinite || x.kind == Kind::Zero))
        return packSpecial(false, Kind::NotANumber);
    if (x.kind == Kind::Infinite || y.kind == Kind::Zero)
        return packSpecial(negative, Kind::Infinite);
    if (x.kind == Kind::Zero || y.kind == Kind::Infinite) return packSpecial(negative, Kind::Zero);

    // 128 quotient bits of x / y in two long-division steps; the last remainder
    // tells whether anything is left below them.
    const Uint128 dividend = Uint128(x.significand) << 63;
    const uint64_t high = uint64_t(dividend / y.significand);
    const Uint128 remainder = (dividend % y.significand) << 64;
    const uint64_t low = uint64_t(remainder / y.significand);
    const bool sticky = remainder % y.significand != 0;
    return normaliseRoundAndPack(negative, x.exponent - y.exponent, (Uint128(high) << 64) | low,
                                 sticky);
}

float toFloat(Extended80 a) {
    const auto bits = uint32_t(toBinary(a, 23, 8));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

double toDouble(Extended80 a) {
    const uint64_t bits = toBinary(a, 52, 11);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

Extended80 fromInt(int32_t value) {
    if (value == 0) return {};
    const bool negative = value < 0;
    const uint64_t magnitude = negative ? uint64_t(0) - uint64_t(int64_t(value)) : uint64_t(value);
    return packExact(negative, magnitude, 0);
}

Extended80 fromDouble(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = int((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    if (biased == 0x7FF)
        return packSpecial(negative, fraction == 0 ? Kind::Infinite : Kind::NotANumber);
    if (biased == 0)
        return fraction == 0 ? packSpecial(negative, Kind::Zero)
                             : packExact(negative, fraction, -1074);
    return packExact(negative, fraction | (uint64_t(1) << 52), biased - 1075);
}

bool less(Extended80 a, Extended80 b) {
    const Unpacked x = unpack(a);
    const Unpacked y = unpack(b);
    if (x.kind == Kind::NotANumber || y.kind == Kind::NotANumber) return false;
    if (x.kind == Kind::Zero && y.kind == Kind::Zero) return false;
    // Magnitudes in order: zero, finite by exponent and significand, infinity.
    auto magnitudeLess = [](const Unpacked& p, const Unpacked& q) {
        if (p.kind != q.kind || p.kind != Kind::Finite) return p.kind < q.kind;
        return p.exponent != q.exponent ? p.exponent < q.exponent : p.significand < q.significand;
    };
    const bool xNegative = x.negative && x.kind != Kind::Zero;
    const bool yNegative = y.negative && y.kind != Kind::Zero;
    if (xNegative != yNegative) return xNegative;
    return xNegative ? magnitudeLess(y, x) : magnitudeLess(x, y);
}

bool equal(Extended80 a, Extended80 b) {
    const Unpacked x = unpack(a);
    const Unpacked y = unpack(b);
    if (x.kind == Kind::NotANumber || y.kind == Kind::NotANumber) return false;
    return !less(a, b) && !less(b, a);
}
}  // namespace extended80_soft

#if !VORNAK_EXTENDED80_HARDWARE
Extended80 operator+(Extended80 a, Extended80 b) {
    return extended80_soft::add(a, b);
}
Extended80 operator-(Extended80 a, Extended80 b) {
    return extended80_soft::subtract(a, b);
}
Extended80 operator*(Extended80 a, Extended80 b) {
    return extended80_soft::multiply(a, b);
}
Extended80 operator/(Extended80 a, Extended80 b) {
    return extended80_soft::divide(a, b);
}
float Extended80::toFloat() const {
    return extended80_soft::toFloat(*this);
}
double Extended80::toDouble() const {
    return extended80_soft::toDouble(*this);
}
Extended80::Extended80(int32_t value) : Extended80(extended80_soft::fromInt(value)) {}
Extended80::Extended80(double value) : Extended80(extended80_soft::fromDouble(value)) {}
bool operator<(Extended80 a, Extended80 b) {
    return extended80_soft::less(a, b);
}
bool operator==(Extended80 a, Extended80 b) {
    return extended80_soft::equal(a, b);
}
#endif

int32_t Extended80::truncateToInt() const {
    const Unpacked u = unpack(*this);
    if (u.kind != Kind::Finite || u.exponent < 0) return 0;
    const auto magnitude = int32_t(u.significand >> (63 - u.exponent));
    return u.negative ? -magnitude : magnitude;
}
