#include "render/avx2.h"

uint8_t avx2Allowed = 1;

bool avx2Usable() {
#ifdef VORNAK_AVX2
    static const bool processorHasIt = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return processorHasIt && avx2Allowed == 1;
#else
    return false;
#endif
}
