// Code built a second time for processors with AVX2 (x86-64 only): the same
// operations in the wider instruction set, taken where the processor runs
// them. The objects built for AVX2 share only their entry points: the build
// renames any other code they give external linkage (render/CMakeLists.txt),
// so nothing shared is ever AVX2 code.
#pragma once

#include <cstddef>
#include <cstdint>

// 1 (the default) lets the renderer take the AVX2 code where the processor
// has it; 0 keeps the baseline code, which tests compare it with.
extern uint8_t avx2Allowed;

// True when this build has the AVX2 code, the processor runs it and avx2Allowed is 1.
bool avx2Usable();

// The constant-colour blend with ONE, out = min(255, ((f_j x S_j) >> 8) + D_j),
// over `rows` rows of n pixels, all of them alive, in place: rounds of eight
// pixels, then one of four, then the rest through masked loads and stores.
// Returns the pixels per row it did (all of them).
uint16_t blendConstantOneRowsAvx2(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                                  std::ptrdiff_t dstPitch, uint16_t n, int rows,
                                  const uint16_t f[4]);

// One factor of the general blend in 16-bit lanes: f = add + ((V ^ negate) -
// negate), V the source's words where fromSource is all ones, the
// destination's where fromDestination is, each pixel's alpha word in its four
// channels when alpha is set; both masks 0 for a factor that is the same for
// every pixel, add then holding it.
struct BlendFactorLanes {
    uint16_t add[4];
    uint16_t negate;
    uint16_t fromSource;
    uint16_t fromDestination;
    bool alpha;
};

// The general blend, out = min(255, ((fs x S) >> 8) + ((fd x D) >> 8)) per
// channel with 16-bit products, over `rows` rows of n pixels, all of them
// alive, in place: rounds of eight pixels, then the rest through masked loads
// and stores.
void blendGeneralRowsAvx2(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                          std::ptrdiff_t dstPitch, uint16_t n, int rows,
                          const BlendFactorLanes& source, const BlendFactorLanes& destination);
