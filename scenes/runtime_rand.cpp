#include "scenes/runtime_rand.h"

uint32_t runtimeRandState = RUNTIME_RAND_INITIAL_STATE;

int runtimeRand() {
    runtimeRandState = runtimeRandState * 214013u + 2531011u;
    return int((runtimeRandState >> 16) & 0x7FFF);
}
