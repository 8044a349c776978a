// Blending of fragment colours into the colour buffer: the general BlendOp for
// every pair of the 14 factor codes, and three fast objects that take over
// some pairs with their own order of truncation (each differs from BlendOp by
// one in some channels for some inputs; the picture depends on it).
//
// A factor term for the value x of channel j is (f x x) >> 8 with f from 0 to
// 256: ZERO 0, ONE 256, a colour or alpha + 1, or 256 - a colour or alpha.
#pragma once

#include <cstddef>

#include "render/fragment_op.h"

class BlendOp final : public BlendFragmentOp {
  public:
    // The 196 pairs of the 14 factor codes, source code varying fastest.
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // out = min(255, source term + destination term) per channel, alpha
    // included. The pair (ZERO, ONE) with out == dst writes nothing. An unknown
    // code counts as ZERO.
    void blend(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
               uint8_t srcCode, uint8_t dstCode, uint16_t n) const override;
    // blend into dst itself over `rows` rows of n pixels, src and dst moving on
    // by their pitches, one mask for every row: what blend does row by row
    // (image rectangles).
    void blendRows(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                   std::ptrdiff_t dstPitch, const uint8_t* mask, uint8_t srcCode, uint8_t dstCode,
                   uint16_t n, int rows) const;
};

// (CONSTANT_COLOR | CONSTANT_ALPHA | ONE_MINUS_CONSTANT_COLOR |
// ONE_MINUS_CONSTANT_ALPHA, ONE): out = min(255, ((f_j x S_j) >> 8) + D_j).
class BlendConstantOneOp final : public BlendFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // Writes nothing for a source code it does not serve; dstCode is taken as ONE.
    void blend(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
               uint8_t srcCode, uint8_t dstCode, uint16_t n) const override;
    // blend into dst itself over `rows` rows of n pixels, src and dst moving on
    // by their pitches, one mask for every row (null: every pixel alive): what
    // blend does row by row, with the factors worked out once (image rectangles).
    void blendRows(const uint8_t* src, std::ptrdiff_t srcPitch, uint8_t* dst,
                   std::ptrdiff_t dstPitch, const uint8_t* mask, uint8_t srcCode, uint16_t n,
                   int rows) const;
};

// (DST_COLOR | DST_ALPHA | ONE_MINUS_DST_COLOR | ONE_MINUS_DST_ALPHA, ONE). For
// DST_COLOR and DST_ALPHA the product is (S_j + 1) x D, not (D + 1) x S_j.
class BlendDestinationOneOp final : public BlendFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // Writes nothing for a source code it does not serve; dstCode is taken as ONE.
    void blend(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
               uint8_t srcCode, uint8_t dstCode, uint16_t n) const override;
};

// Every pair of the four source-derived codes (SRC_COLOR, SRC_ALPHA,
// ONE_MINUS_SRC_COLOR, ONE_MINUS_SRC_ALPHA): the two products are summed,
// limited to 65535, and only then shifted: out = min(65535, P + Q) >> 8.
class BlendSourcePairOp final : public BlendFragmentOp {
  public:
    // (a, b) for a, b = 2..5, a varying slowest.
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // Writes nothing for a pair it does not serve.
    void blend(const uint8_t* src, const uint8_t* dst, uint8_t* out, const uint8_t* mask,
               uint8_t srcCode, uint8_t dstCode, uint16_t n) const override;
};
