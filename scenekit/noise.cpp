#include "scenekit/noise.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int32_t noiseState = NOISE_INITIAL_STATE;

void fillNoise(const int16_t rect[4], Surface* target) {
    if (rect == nullptr || target == nullptr || target->pixels() == nullptr) return;
    if (target->bytesPerPixel() != 4) return;
    const int width = std::min<int>(rect[2], target->width());
    const int height = std::min<int>(rect[3], target->height());
    if (width <= 0 || height <= 0) return;

    uint32_t state = uint32_t(noiseState);
    for (int y = 0; y < height; ++y) {
        uint8_t* pixel = target->pixels() + ptrdiff_t(y) * target->pitch();
        int x = 0;
        // Sixteen steps at once while the register holds 31 bits: step j
        // shifts in bit j of f = state ^ (state >> 3) at the top and reads its
        // grey from bits j + 1 .. j + 8 of f, all still bits of the first state.
        for (; x + 16 <= width && (state >> 31) == 0; x += 16, pixel += 64) {
            const uint32_t f = state ^ (state >> 3);
#if defined(__SSE2__)
            // Lane j of round k holds f >> (4k + j + 1), its grey in every byte.
            const __m128i greyMask = _mm_set1_epi32(0xFF);
            __m128i shifted =
                _mm_setr_epi32(int32_t(f >> 1), int32_t(f >> 2), int32_t(f >> 3), int32_t(f >> 4));
            for (int k = 0; k < 4; ++k) {
                const __m128i grey = _mm_and_si128(shifted, greyMask);
                const __m128i twice = _mm_or_si128(grey, _mm_slli_epi32(grey, 8));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(pixel + k * 16),
                                 _mm_or_si128(twice, _mm_slli_epi32(twice, 16)));
                shifted = _mm_srli_epi32(shifted, 4);
            }
#else
            for (int j = 0; j < 16; ++j) {
                const uint32_t grey = (f >> (j + 1)) & 0xFF;
                const uint32_t bytes = grey * 0x01010101u;
                std::memcpy(pixel + j * 4, &bytes, 4);
            }
#endif
            state = (state >> 16) | ((f & 0xFFFF) << 15);
        }
        for (; x < width; ++x, pixel += 4) {
            const uint32_t feedback = state ^ (state >> 3);
            state = ((feedback & 1) << 30) | (state >> 1);
            const uint8_t grey = uint8_t((feedback >> 1) & 0xFF);
            pixel[0] = pixel[1] = pixel[2] = pixel[3] = grey;
        }
    }
    noiseState = int32_t(state);
}
