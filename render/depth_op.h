// The depth test and depth write. Depth values are 1/w, so a larger value is
// nearer; the comparisons are plain float comparisons.
#pragma once

#include "render/fragment_op.h"

class DepthOp final : public DepthFragmentOp {
  public:
    // Function codes 0 to 7.
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // First stage of a span: sets every mask byte, 0 where the pixel passes and
    // 255 where it fails, whatever it held. Function 0 (and any unknown code)
    // returns 0 at once and leaves the mask alone.
    uint8_t test(const float* z, const float* stored, uint8_t* mask, uint8_t func,
                 uint16_t n) const override;
    void writeDepth(const float* z, float* stored, const uint8_t* mask, uint16_t n) const override;
};
