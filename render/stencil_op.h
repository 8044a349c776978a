// The stencil test and the stencil update that follows it for every pixel of
// the span, rejected ones included.
#pragma once

#include "render/fragment_op.h"

class StencilTestOp final : public StencilFragmentOp {
  public:
    // All 216 operation triples: index i gives (i mod 6, (i / 6) mod 6, i / 36).
    int enumerateKeys(FragmentKey& key, unsigned index) const override;
    // A pixel already rejected gets opRejected and is not compared. An alive one
    // is compared as (stored & valueMask) against (ref & valueMask); it gets
    // opPass or, marked rejected, opFail. Function 0 (or an unknown code) returns
    // 0 at the first alive pixel. Result 1 if any pixel passed.
    uint8_t test(uint8_t* stencil, uint8_t* mask, uint16_t n, uint8_t opRejected, uint8_t opFail,
                 uint8_t opPass, uint8_t valueMask, uint8_t func, uint8_t ref,
                 uint8_t writeMask) const override;
};

// New stencil value after operation op (0 zero, 1 keep, 2 replace, 3 invert,
// 4 increment, 5 decrement, others keep). Only the bits under writeMask change;
// increment and decrement count in the field under the mask.
uint8_t applyStencilOp(uint8_t op, uint8_t stored, uint8_t ref, uint8_t writeMask);
