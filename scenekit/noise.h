// Grey static from one shared 31-bit shift register (x^31 + x^28 + 1). Every call
// continues where the previous one, by any scene, left off.
#pragma once

#include <cstdint>

#include "image/surface.h"

constexpr int32_t NOISE_INITIAL_STATE = 0x12345;

extern int32_t noiseState;

// Fills width x height pixels (rect[2], rect[3]) from the first pixel of target;
// rect[0] and rect[1] are not used. R, G, B and A all take the grey value. The
// size is limited to the target's, and a target that is not 4 bytes per pixel is
// left alone.
void fillNoise(const int16_t rect[4], Surface* target);
