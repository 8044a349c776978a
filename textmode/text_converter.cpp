#include "textmode/text_converter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The AVX2 rounds of the halving and the conversion, compiled for AVX2
// function by function and taken where the processor has it. Left out on Windows, whose 16-byte
// stack alignment GCC does not raise for 32-byte spills, and on macOS, as the renderer's AVX2 code
// is.
#if defined(__x86_64__) && defined(__SSE2__) && !defined(__AVX2__) && !defined(_WIN32) && \
    !defined(__APPLE__) && (defined(__GNUC__) || defined(__clang__))
#define VORNAK_TEXTMODE_AVX2 1
#include <immintrin.h>
#endif

uint8_t textModeAvx2Allowed = 1;

#ifdef VORNAK_TEXTMODE_AVX2
namespace {

bool textModeAvx2Usable() {
    static const bool processorHasIt = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return processorHasIt && textModeAvx2Allowed == 1;
}

// TextConverter::convert's rounds eight pixels at a time, the cells gathered
// from the table by their indices. Returns the pixels done.
__attribute__((target("avx2"))) int convertRowAvx2(const uint8_t* src, uint8_t* dst,
                                                   const uint8_t* table, int width) {
    const __m256i fiveBits = _mm256_set1_epi32(0x1F);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + x * 4));
        const __m256i red = _mm256_and_si256(_mm256_srli_epi32(p, 3), fiveBits);
        const __m256i green =
            _mm256_and_si256(_mm256_srli_epi32(p, 6), _mm256_slli_epi32(fiveBits, 5));
        const __m256i blue =
            _mm256_and_si256(_mm256_srli_epi32(p, 9), _mm256_slli_epi32(fiveBits, 10));
        const __m256i index = _mm256_or_si256(_mm256_or_si256(red, green), blue);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x * 4),
                            _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4));
    }
    return x;
}

}  // namespace
#endif

#include "data/text_cells.h"
#include "textmode/text_tables.h"

int TextConverter::build(uint8_t mode) {
    if (mode > 1) return 1;
    release();
    table_ = new uint8_t[TEXT_TABLE_SIZE * 4]();
    // The cells were worked out at build time by fillGlyphTable and fillShadeTable.
    int index = 0;
    for (const uint8_t* run = mode == 0 ? GLYPH_CELL_RUNS : SHADE_CELL_RUNS; run[0] != 0;
         run += 3) {
        const int end = std::min(index + run[0], TEXT_TABLE_SIZE);
        for (; index < end; ++index) storeCell(table_, index, run[1], run[2]);
    }
    built_ = 1;
    return 0;
}

int TextConverter::convert(const Surface* src, Surface* dst) const {
    if (src->width() != dst->width() || src->height() != dst->height() || built_ == 0) return 1;
    if (src->bytesPerPixel() != 4 || dst->bytesPerPixel() != 4) return 1;
    Size16 size;
    if (src->getSize(size) != 0) return 0;  // neither is created: nothing to convert
    const uint8_t* srcRow = src->pixels();
    uint8_t* dstRow = dst->pixels();
    // In a local: the cells' stores could change table_ for all the compiler
    // knows, which made it load the pointer again for every cell.
    const uint8_t* table = table_;
    const int width = size.width;
#ifdef VORNAK_TEXTMODE_AVX2
    const bool avx2 = textModeAvx2Usable();
#endif
    for (int y = 0; y < size.height; ++y) {
        int x = 0;
#ifdef VORNAK_TEXTMODE_AVX2
        if (avx2) x = convertRowAvx2(srcRow, dstRow, table, width);
#endif
#if defined(__SSE2__)
        // Four colour indices a round, each from its pixel's 32 bits:
        // (R >> 3) | (G >> 3) << 5 | (B >> 3) << 10.
        const __m128i fiveBits = _mm_set1_epi32(0x1F);
        for (; x + 4 <= width; x += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(srcRow + x * 4));
            const __m128i red = _mm_and_si128(_mm_srli_epi32(p, 3), fiveBits);
            const __m128i green = _mm_and_si128(_mm_srli_epi32(p, 6), _mm_slli_epi32(fiveBits, 5));
            const __m128i blue = _mm_and_si128(_mm_srli_epi32(p, 9), _mm_slli_epi32(fiveBits, 10));
            alignas(16) int32_t index[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(index),
                            _mm_or_si128(_mm_or_si128(red, green), blue));
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                std::memcpy(dstRow + (x + j) * 4, table + index[j] * 4, 4);
            }
        }
#endif
        for (; x < width; ++x) {
            const int index = textColorIndex(srcRow + x * 4);
            std::memcpy(dstRow + x * 4, table + index * 4, 4);
        }
        srcRow += src->pitch();
        dstRow += dst->pitch();
    }
    return 0;
}

void TextConverter::release() {
    if (built_ == 0) return;
    delete[] table_;
    table_ = nullptr;
    built_ = 0;
}

namespace {

#ifdef VORNAK_TEXTMODE_AVX2
// The sums of four blocks (eight pixels of two rows) / 4, as 16-bit lanes:
// blocks 0 and 1 in the low half, 2 and 3 in the high one.
__attribute__((target("avx2"))) inline __m256i blockSumsAvx2(const uint8_t* t, const uint8_t* b) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i upper = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t));
    const __m256i lower = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
    const __m256i first =
        _mm256_add_epi16(_mm256_unpacklo_epi8(upper, zero), _mm256_unpacklo_epi8(lower, zero));
    const __m256i second =
        _mm256_add_epi16(_mm256_unpackhi_epi8(upper, zero), _mm256_unpackhi_epi8(lower, zero));
    return _mm256_srli_epi16(_mm256_add_epi16(_mm256_unpacklo_epi64(first, second),
                                              _mm256_unpackhi_epi64(first, second)),
                             2);
}

// halveSurface's rounds eight blocks at a time: each 128-bit half adds as a
// round of four does; the packed halves are put back in block order. Returns
// the blocks done.
__attribute__((target("avx2"))) int halveRowAvx2(const uint8_t* top, const uint8_t* bottom,
                                                 uint8_t* out, int width) {
    int x = 0;
    for (; x + 8 <= width; x += 8, top += 64, bottom += 64, out += 32) {
        const __m256i packed =
            _mm256_packus_epi16(blockSumsAvx2(top, bottom), blockSumsAvx2(top + 32, bottom + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    return x;
}
#endif

// The exact halving every frame takes (160x100 to 80x50): each block is 2x2 pixels,
// the same sums and truncating divisions as the general stepping below.
void halveSurface(const Surface& src, Surface& dst) {
    // In locals: the stores below could change the Surfaces for all the
    // compiler knows, which made it read their sizes again every round.
    const int32_t srcPitch = src.pitch();
    const int32_t dstPitch = dst.pitch();
    const int width = dst.width();
    const int height = dst.height();
    const uint8_t* srcPixels = src.pixels();
    uint8_t* dstPixels = dst.pixels();
#ifdef VORNAK_TEXTMODE_AVX2
    const bool avx2 = textModeAvx2Usable();
#endif
    for (int y = 0; y < height; ++y) {
        const uint8_t* top = srcPixels + ptrdiff_t(2 * y) * srcPitch;
        const uint8_t* bottom = top + srcPitch;
        uint8_t* out = dstPixels + ptrdiff_t(y) * dstPitch;
        int x = 0;
#ifdef VORNAK_TEXTMODE_AVX2
        if (avx2) {
            x = halveRowAvx2(top, bottom, out, width);
            top += 8 * x;
            bottom += 8 * x;
            out += 4 * x;
        }
#endif
#if defined(__SSE2__)
        // Two blocks per 16-bit register, four per round: the block sums are
        // at most 1020, so the lanes hold them exactly.
        const __m128i zero = _mm_setzero_si128();
        auto blockSums = [&](const uint8_t* t, const uint8_t* b) {
            const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
            const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
            const __m128i first =
                _mm_add_epi16(_mm_unpacklo_epi8(upper, zero), _mm_unpacklo_epi8(lower, zero));
            const __m128i second =
                _mm_add_epi16(_mm_unpackhi_epi8(upper, zero), _mm_unpackhi_epi8(lower, zero));
            // Left pixels of both blocks plus their right pixels, then / 4.
            return _mm_srli_epi16(
                _mm_add_epi16(_mm_unpacklo_epi64(first, second), _mm_unpackhi_epi64(first, second)),
                2);
        };
        for (; x + 4 <= width; x += 4, top += 32, bottom += 32, out += 16) {
            const __m128i packed =
                _mm_packus_epi16(blockSums(top, bottom), blockSums(top + 16, bottom + 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
        }
#endif
        for (; x < width; ++x, top += 8, bottom += 8, out += 4) {
            for (int b = 0; b < 4; ++b)
                out[b] = uint8_t((unsigned(top[b]) + top[4 + b] + bottom[b] + bottom[4 + b]) / 4);
        }
    }
}

}  // namespace

void downsampleSurface(const Surface* src, Surface* dst) {
    if (src == nullptr || dst == nullptr) return;
    const int srcWidth = src->width(), srcHeight = src->height();
    const int dstWidth = dst->width(), dstHeight = dst->height();
    if (src->bytesPerPixel() != 4 || dst->bytesPerPixel() != 4) return;
    if (dstWidth < 1 || dstHeight < 1 || dstWidth > srcWidth || dstHeight > srcHeight) return;
    if (srcWidth == 2 * dstWidth && srcHeight == 2 * dstHeight) {
        halveSurface(*src, *dst);
        return;
    }
    // Destination size per source pixel in 16.16; a block ends when the fraction passes 0xFFFF.
    const uint32_t stepX = (uint32_t(dstWidth) << 16) / uint32_t(srcWidth);
    const uint32_t stepY = (uint32_t(dstHeight) << 16) / uint32_t(srcHeight);
    // When the step does not divide evenly it is rounded down, so the last blocks
    // would run past the source's right or bottom edge: they are cut at the edge
    // (and a block that would start beyond it takes the edge pixel).
    const int32_t srcPitch = src->pitch();
    uint8_t* dstRow = dst->pixels();
    int sy = 0;
    uint32_t fy = 0;
    for (int y = 0; y < dstHeight; ++y) {
        int sx = 0;
        uint32_t fx = 0;
        for (int x = 0; x < dstWidth; ++x) {
            uint32_t sum[4] = {0, 0, 0, 0};
            uint32_t n = 0;
            int by = sy < srcHeight ? sy : srcHeight - 1;
            for (uint32_t t = fy; t <= 0xFFFF && by < srcHeight; t += stepY, ++by) {
                const uint8_t* row = src->pixels() + by * srcPitch;
                int bx = sx < srcWidth ? sx : srcWidth - 1;
                for (uint32_t u = fx; u <= 0xFFFF && bx < srcWidth; u += stepX, ++bx) {
                    for (int b = 0; b < 4; ++b) sum[b] += row[bx * 4 + b];
                    ++n;
                }
            }
            for (int b = 0; b < 4; ++b) dstRow[x * 4 + b] = uint8_t(sum[b] / n);
            uint32_t u = fx;
            for (; u <= 0xFFFF; u += stepX) ++sx;
            fx = u & 0xFFFF;
        }
        uint32_t t = fy;
        for (; t <= 0xFFFF; t += stepY) ++sy;
        fy = t & 0xFFFF;
        dstRow += dst->pitch();
    }
}
