// Buffer fill, used by sglClear for the colour, depth and stencil Surfaces.
#include "render/fill.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

// The AVX2 stores, compiled for AVX2 function by function; not on Windows,
// whose 16-byte stack alignment GCC does not raise for 32-byte spills.
#if defined(VORNAK_AVX2) && !defined(_WIN32)
#define VORNAK_FILL_AVX2 1
#include <immintrin.h>
#endif

#include "render/avx2.h"
#include "render/lanes.h"
#include "render/sgl.h"

namespace {

// Writes the 4-byte value into count consecutive pixels, four at a time.
void fillPixels4(uint8_t* row, const void* value, size_t count) {
    size_t i = 0;
    uint32_t bits;
    std::memcpy(&bits, value, 4);
    const Ints4 four = splatPixel(bits);
    // Sixteen pixels a round: the loop's own instructions no longer hold the
    // stores back.
    for (; i + 16 <= count; i += 16) {
        storeInts4(row + i * 4, four);
        storeInts4(row + i * 4 + 16, four);
        storeInts4(row + i * 4 + 32, four);
        storeInts4(row + i * 4 + 48, four);
    }
    for (; i + 4 <= count; i += 4) storeInts4(row + i * 4, four);
    for (; i < count; ++i) std::memcpy(row + i * 4, value, 4);
}

#ifdef VORNAK_FILL_AVX2
// fillPixels4 in 32-byte stores, compiled for AVX2 alone and taken where the
// processor has it: the clear of every frame is bound by its stores.
__attribute__((target("avx2"))) void fillPixels4Avx2(uint8_t* row, const void* value,
                                                     size_t count) {
    size_t i = 0;
    int32_t bits;
    std::memcpy(&bits, value, 4);
    const __m256i eight = _mm256_set1_epi32(bits);
    for (; i + 32 <= count; i += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i * 4), eight);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i * 4 + 32), eight);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i * 4 + 64), eight);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(row + i * 4 + 96), eight);
    }
    // The rest here too: a call from here into the baseline code would reach
    // it with the upper halves of the registers still in use, which slows
    // every SSE instruction after it until they are cleared.
    const __m128i four = _mm256_castsi256_si128(eight);
    for (; i + 4 <= count; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i * 4), four);
    for (; i < count; ++i) std::memcpy(row + i * 4, value, 4);
}
#endif

}  // namespace

int fillSurface(Surface* surface, const void* value, const int16_t rect[4]) {
    if (surface == nullptr || value == nullptr || surface->pixels() == nullptr) {
        return SGL_ERR_INVALID;
    }
    const uint8_t bytesPerPixel = surface->bytesPerPixel();
    if (bytesPerPixel != 1 && bytesPerPixel != 4) return SGL_ERR_INVALID;

    int x0 = 0;
    int y0 = 0;
    int x1 = surface->width();
    int y1 = surface->height();
    if (rect != nullptr) {
        // A rectangle reaching outside the Surface is cut to it rather than
        // written past the pixel memory.
        x0 = std::max<int>(rect[0], 0);
        y0 = std::max<int>(rect[1], 0);
        x1 = std::min<int>(rect[0] + rect[2], x1);
        y1 = std::min<int>(rect[1] + rect[3], y1);
        if (x1 <= x0 || y1 <= y0) return 0;
    }

    const int32_t pitch = surface->pitch();
    uint8_t* row =
        surface->pixels() + std::ptrdiff_t{y0} * pitch + std::ptrdiff_t{x0} * bytesPerPixel;
    size_t width = static_cast<size_t>(x1 - x0);
    // Whole rows without padding between them are one run.
    if (static_cast<int64_t>(width) * bytesPerPixel == pitch) {
        width *= static_cast<size_t>(y1 - y0);
        y1 = y0 + 1;
    }
    for (int y = y0; y < y1; ++y, row += pitch) {
        if (bytesPerPixel == 1) {
            std::memset(row, *static_cast<const uint8_t*>(value), width);
        } else {
#ifdef VORNAK_FILL_AVX2
            if (avx2Usable()) {
                fillPixels4Avx2(row, value, width);
                continue;
            }
#endif
            fillPixels4(row, value, width);
        }
    }
    return 0;
}
