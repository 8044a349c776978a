// The x87 80-bit extended format (1 sign bit, 15 exponent bits, 64 significand
// bits with an explicit integer bit) with the arithmetic of the x87 unit at its
// default extended precision: add, subtract, multiply and divide rounded to
// nearest-even, gradual underflow, overflow to infinity. The show computes its
// metaball field in this format; with a type of its own the field comes out the
// same on every platform, also where long double is a 128-bit software float
// (WebAssembly) or plain double.
//
// Where long double is the x87 format itself (x86-64 with g++ or clang) the
// operations run on the hardware; elsewhere the software below computes the same
// bits. Only what the show needs is covered: finite operands, and results that
// are finite, infinite or zero (NaN operands give a NaN, whatever its bits).
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && LDBL_MANT_DIG == 64
#define VORNAK_EXTENDED80_HARDWARE 1
#else
#define VORNAK_EXTENDED80_HARDWARE 0
#endif

class Extended80 {
  public:
    Extended80() = default;
    // Exact conversions: every int32_t, float and double has an 80-bit value.
    Extended80(int32_t value);  // NOLINT: implicit like the built-in conversion
    Extended80(float value) : Extended80(double(value)) {}  // NOLINT
    Extended80(double value);                               // NOLINT

    static Extended80 fromBits(uint16_t signExponent, uint64_t significand) {
        Extended80 x;
#if VORNAK_EXTENDED80_HARDWARE
        std::memcpy(&x.value_, &significand, 8);
        std::memcpy(reinterpret_cast<unsigned char*>(&x.value_) + 8, &signExponent, 2);
#else
        x.significand_ = significand;
        x.signExponent_ = signExponent;
#endif
        return x;
    }
#if VORNAK_EXTENDED80_HARDWARE
    uint16_t signExponent() const {
        uint16_t bits;
        std::memcpy(&bits, reinterpret_cast<const unsigned char*>(&value_) + 8, 2);
        return bits;
    }
    uint64_t significand() const {
        uint64_t bits;
        std::memcpy(&bits, &value_, 8);
        return bits;
    }
#else
    uint16_t signExponent() const {
        return signExponent_;
    }
    uint64_t significand() const {
        return significand_;
    }
#endif

    // Rounded to nearest-even, as a store to a float or double variable.
    float toFloat() const;
    double toDouble() const;
    // Toward zero, as a conversion to an integer type; only for |value| < 2^31.
    int32_t truncateToInt() const;

    friend Extended80 operator+(Extended80 a, Extended80 b);
    friend Extended80 operator-(Extended80 a, Extended80 b);
    friend Extended80 operator*(Extended80 a, Extended80 b);
    friend Extended80 operator/(Extended80 a, Extended80 b);
    Extended80& operator+=(Extended80 b) {
        return *this = *this + b;
    }
    friend bool operator<(Extended80 a, Extended80 b);
    friend bool operator==(Extended80 a, Extended80 b);

#if VORNAK_EXTENDED80_HARDWARE
    // The x87 unit's own long double: the value is kept as one, so that the
    // field's arithmetic stays in its registers.
    long double toHardware() const {
        return value_;
    }
    static Extended80 fromHardware(long double value) {
        Extended80 x;
        x.value_ = value;
        return x;
    }

  private:
    long double value_ = 0;
#else
  private:
    uint64_t significand_ = 0;   // bit 63 is the integer bit
    uint16_t signExponent_ = 0;  // sign in bit 15, biased exponent (16383) below
#endif
};

// The software operations, used where there is no x87 unit and compared with it
// where there is.
namespace extended80_soft {
Extended80 fromInt(int32_t value);
Extended80 fromDouble(double value);
Extended80 add(Extended80 a, Extended80 b);
Extended80 subtract(Extended80 a, Extended80 b);
Extended80 multiply(Extended80 a, Extended80 b);
Extended80 divide(Extended80 a, Extended80 b);
float toFloat(Extended80 a);
double toDouble(Extended80 a);
bool less(Extended80 a, Extended80 b);
bool equal(Extended80 a, Extended80 b);
}  // namespace extended80_soft

// Whether this build runs the operations on the x87 unit.
constexpr bool extended80UsesHardware() {
    return VORNAK_EXTENDED80_HARDWARE != 0;
}

#if VORNAK_EXTENDED80_HARDWARE
// Inline, so that the field's arithmetic stays a few x87 instructions.
inline Extended80::Extended80(int32_t value) : Extended80(fromHardware(value)) {}
inline Extended80::Extended80(double value) : Extended80(fromHardware(value)) {}
inline Extended80 operator+(Extended80 a, Extended80 b) {
    return Extended80::fromHardware(a.toHardware() + b.toHardware());
}
inline Extended80 operator-(Extended80 a, Extended80 b) {
    return Extended80::fromHardware(a.toHardware() - b.toHardware());
}
inline Extended80 operator*(Extended80 a, Extended80 b) {
    return Extended80::fromHardware(a.toHardware() * b.toHardware());
}
inline Extended80 operator/(Extended80 a, Extended80 b) {
    return Extended80::fromHardware(a.toHardware() / b.toHardware());
}
inline bool operator<(Extended80 a, Extended80 b) {
    return a.toHardware() < b.toHardware();
}
inline bool operator==(Extended80 a, Extended80 b) {
    return a.toHardware() == b.toHardware();
}
inline float Extended80::toFloat() const {
    return float(toHardware());
}
inline double Extended80::toDouble() const {
    return double(toHardware());
}
#endif
