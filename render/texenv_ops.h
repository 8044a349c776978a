// Texture environment: combines a span of texels (or interpolated colours)
// with a second colour source by the mode 0 replace, 1 modulate, 2 add or
// 3 subtract. All four bytes of a colour are treated alike.
#pragma once

#include "render/fragment_op.h"

// Mode 0: out becomes a copy of a for all n pixels, rejected ones included.
class TexEnvReplaceOp final : public TexEnvFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    void combine(const uint8_t* a, const uint8_t* b, uint8_t* out, const uint8_t* mask,
                 uint8_t mode, uint16_t n) const override;
    void combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out, const uint8_t* mask,
                         uint8_t mode, uint16_t n) const override;
};

// Mode 1: out = ((a + 1) x b) >> 8 for alive pixels.
class TexEnvModulateOp final : public TexEnvFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    void combine(const uint8_t* a, const uint8_t* b, uint8_t* out, const uint8_t* mask,
                 uint8_t mode, uint16_t n) const override;
    void combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out, const uint8_t* mask,
                         uint8_t mode, uint16_t n) const override;
};

// Modes 2 and 3: saturating add when the mode is 2, saturating subtract otherwise.
class TexEnvAddSubtractOp final : public TexEnvFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    void combine(const uint8_t* a, const uint8_t* b, uint8_t* out, const uint8_t* mask,
                 uint8_t mode, uint16_t n) const override;
    void combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out, const uint8_t* mask,
                         uint8_t mode, uint16_t n) const override;
};
