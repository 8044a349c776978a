// Float-to-integer conversions of the renderer. Every truncation the pixel
// arithmetic depends on goes through here, so it is defined for every input.
#pragma once

#include <cstdint>
#include <type_traits>

// Truncates toward zero like the x86 cvttss2si/cvttsd2si instructions: a NaN, or
// a value whose truncation does not fit 32 bits, gives INT32_MIN (the
// "integer indefinite" value) instead of undefined behaviour. On x86-64 the
// instruction does it; it is written as assembly because the compilers fold
// the intrinsics like a C++ conversion, saturating out-of-range constants.
constexpr int32_t truncToInt(double x) {
#if defined(__x86_64__) && !defined(VORNAK_SCALAR_LANES)
    if (!std::is_constant_evaluated()) {
        int32_t truncated;
        asm("cvttsd2si %1, %0" : "=r"(truncated) : "x"(x));
        return truncated;
    }
#endif
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(x);
}

// Every float is exactly representable as a double, so this truncates the float itself.
constexpr int32_t truncToInt(float x) {
#if defined(__x86_64__) && !defined(VORNAK_SCALAR_LANES)
    if (!std::is_constant_evaluated()) {
        int32_t truncated;
        asm("cvttss2si %1, %0" : "=r"(truncated) : "x"(x));
        return truncated;
    }
#endif
    return truncToInt(static_cast<double>(x));
}

// The low byte of the truncated value, as stored by the colour setters.
constexpr uint8_t truncToByte(float x) {
    return static_cast<uint8_t>(static_cast<uint32_t>(truncToInt(x)) & 0xFFu);
}

// 16.16 fixed point of a float, truncated like every other conversion.
constexpr int32_t toFixed16(float x) {
    return truncToInt(x * 65536.0f);
}

// 32-bit integer arithmetic that wraps around like the machine's, where the
// plain signed operation could overflow (edges of vertices far off screen).
constexpr int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// Integer division truncating toward zero; divisor must not be 0. The one
// quotient that does not fit, INT32_MIN / -1, wraps to INT32_MIN.
constexpr int32_t divideTrunc(int32_t numerator, int32_t divisor) {
    if (divisor == -1) return wrapSub(0, numerator);
    return numerator / divisor;
}
