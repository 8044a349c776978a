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

#include <cstdint>

class Extended80 {
  public:
    Extended80() = default;
    // Exact conversions: every int32_t, float and double has an 80-bit value.
    Extended80(int32_t value);  // NOLINT: implicit like the built-in conversion
    Extended80(float value);    // NOLINT
    Extended80(double value);   // NOLINT

    static Extended80 fromBits(uint16_t signExponent, uint64_t significand) {
        Extended80 x;
        x.signExponent_ = signExponent;
        x.significand_ = significand;
        return x;
    }
    uint16_t signExponent() const { return signExponent_; }
    uint64_t significand() const { return significand_; }

    // Rounded to nearest-even, as a store to a float or double variable.
    float toFloat() const;
    double toDouble() const;
    // Toward zero, as a conversion to an integer type; only for |value| < 2^31.
    int32_t truncateToInt() const;

    friend Extended80 operator+(Extended80 a, Extended80 b);
    friend Extended80 operator-(Extended80 a, Extended80 b);
    friend Extended80 operator*(Extended80 a, Extended80 b);
    friend Extended80 operator/(Extended80 a, Extended80 b);
    Extended80& operator+=(Extended80 b) { return *this = *this + b; }
    friend bool operator<(Extended80 a, Extended80 b);
    friend bool operator==(Extended80 a, Extended80 b);

  private:
    uint16_t signExponent_ = 0;  // sign in bit 15, biased exponent (16383) below
    uint64_t significand_ = 0;   // bit 63 is the integer bit
};

// The software operations, used where there is no x87 unit and compared with it
// where there is.
namespace extended80_soft {
Extended80 add(Extended80 a, Extended80 b);
Extended80 subtract(Extended80 a, Extended80 b);
Extended80 multiply(Extended80 a, Extended80 b);
Extended80 divide(Extended80 a, Extended80 b);
float toFloat(Extended80 a);
double toDouble(Extended80 a);
}  // namespace extended80_soft

// Whether this build runs the operations on the x87 unit.
bool extended80UsesHardware();
