// Float-to-integer conversions of the renderer. Every truncation the pixel
// arithmetic depends on goes through here, so it is defined for every input.
#pragma once

#include <cstdint>

// Truncates toward zero like the x86 cvttss2si/cvttsd2si instructions: a NaN, or
// a value whose truncation does not fit 32 bits, gives INT32_MIN (the
// "integer indefinite" value) instead of undefined behaviour.
constexpr int32_t truncToInt(double x) {
    if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(x);
}

// Every float is exactly representable as a double, so this truncates the float itself.
constexpr int32_t truncToInt(float x) {
    return truncToInt(static_cast<double>(x));
}

// The low byte of the truncated value, as stored by the colour setters.
constexpr uint8_t truncToByte(float x) {
    return static_cast<uint8_t>(static_cast<uint32_t>(truncToInt(x)) & 0xFFu);
}
