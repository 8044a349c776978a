// Texture environment: combines a span of texels (or interpolated colours)
// with a second colour source by the mode 0 replace, 1 modulate, 2 add or
// 3 subtract. All four bytes of a colour are treated alike.
#pragma once

#include "render/fragment_op.h"
#include "render/sgl.h"

// The built-in objects, one per first mode they serve:
// - SGL_REPLACE: out becomes a copy of a for all n pixels, rejected ones included;
// - SGL_MODULATE: out = ((a + 1) x b) >> 8 for alive pixels;
// - SGL_ADD serves SGL_SUBTRACT too: saturating add when the mode is SGL_ADD,
//   saturating subtract otherwise, for alive pixels.
template <uint8_t FirstMode>
class TexEnvOp final : public TexEnvFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    void combine(const uint8_t* a, const uint8_t* b, uint8_t* out, const uint8_t* mask,
                 uint8_t mode, uint16_t n) const override;
    void combineConstant(const uint8_t* a, const uint8_t* k, uint8_t* out, const uint8_t* mask,
                         uint8_t mode, uint16_t n) const override;
};

using TexEnvReplaceOp = TexEnvOp<SGL_REPLACE>;
using TexEnvModulateOp = TexEnvOp<SGL_MODULATE>;
using TexEnvAddSubtractOp = TexEnvOp<SGL_ADD>;

// Instantiated in texenv_ops.cpp.
extern template class TexEnvOp<SGL_REPLACE>;
extern template class TexEnvOp<SGL_MODULATE>;
extern template class TexEnvOp<SGL_ADD>;
