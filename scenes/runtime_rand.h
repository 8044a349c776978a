// The program's one general-purpose pseudo-random generator: a 32-bit linear
// congruential state that starts at 1 and is never reseeded, so that the jitter it
// drives repeats from run to run. Values lie in 0..RUNTIME_RAND_MAX.
#pragma once

#include <cstdint>

constexpr uint32_t RUNTIME_RAND_INITIAL_STATE = 1;
constexpr int RUNTIME_RAND_MAX = 0x7FFF;

extern uint32_t runtimeRandState;

// Advances the state (x 214013 + 2531011, modulo 2^32) and returns bits 16..30 of it.
int runtimeRand();
