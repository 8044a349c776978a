// The stencil operations as one expression with per-state parameters, in
// scalar and in byte lanes: the stencil test object and the fused span loops
// share them.
#pragma once

#include <cstdint>

#include "render/lanes.h"

// new = (s & ~wm) | (((((s & keep) | fill) ^ flip) + add) & wm): one expression
// with per-span parameters for every operation. Only the bits under the write
// mask change. Increment and decrement count in the field under the mask, and
// wrap: with the mask 255, 255 + 1 is 0 and 0 - 1 is 255.
struct StencilUpdate {
    uint8_t keep;
    uint8_t fill;
    uint8_t flip;
    uint8_t add;
};

constexpr uint8_t STENCIL_KEEP = 1;

// Operation op (0 zero, 1 keep, 2 replace, 3 invert, 4 increment, 5 decrement,
// others keep) as its parameters.
inline StencilUpdate stencilUpdate(uint8_t op, uint8_t ref, uint8_t writeMask) {
    const uint8_t belowMask = static_cast<uint8_t>(~writeMask);
    switch (op) {
        case 0:
            return {0x00, 0x00, 0x00, 0};
        case 2:
            return {0x00, 0x00, ref, 0};
        case 3:
            return {0xFF, 0x00, 0xFF, 0};
        // Ones in the bits outside the mask carry the increment into the field.
        case 4:
            return {0xFF, belowMask, 0x00, 1};
        case 5:
            return {writeMask, 0x00, 0x00, 255};
        default:
            return {0xFF, 0x00, 0x00, 0};
    }
}

inline uint8_t applyStencilUpdate(const StencilUpdate& u, uint8_t s, uint8_t writeMask) {
    const uint8_t changed = static_cast<uint8_t>((((s & u.keep) | u.fill) ^ u.flip) + u.add);
    return static_cast<uint8_t>((s & ~writeMask) | (changed & writeMask));
}

// An update's parameters in every byte lane.
struct StencilUpdateLanes {
    Ints4 keep;
    Ints4 fill;
    Ints4 flip;
    Ints4 add;

    explicit StencilUpdateLanes(const StencilUpdate& u)
        : keep(splatByte(u.keep)),
          fill(splatByte(u.fill)),
          flip(splatByte(u.flip)),
          add(splatByte(u.add)) {}
};

// The update of sixteen stored values at once, byte by byte as applyStencilUpdate does.
inline Ints4 applyStencilLanes(const StencilUpdateLanes& u, Ints4 s, Ints4 writeMask) {
    const Ints4 changed = addBytes(xorBits(orBits(andBits(s, u.keep), u.fill), u.flip), u.add);
    return orBits(andNotBits(writeMask, s), andBits(changed, writeMask));
}

// A stencil function 1 to 7 as the outcomes it passes (below, equal to or above
// the reference), comparing masked stored values with the masked reference as
// unsigned bytes in every lane.
struct StencilComparison {
    Ints4 reference;
    Ints4 passBelow;
    Ints4 passEqual;
    Ints4 passAbove;

    StencilComparison(uint8_t func, uint8_t maskedReference)
        : reference(splatByte(maskedReference)),
          passBelow(splatByte(func == 1 || func == 2 || func == 3 || func == 7 ? 0xFF : 0)),
          passEqual(splatByte(func == 1 || func == 3 || func == 5 || func == 6 ? 0xFF : 0)),
          passAbove(splatByte(func == 1 || func == 4 || func == 5 || func == 7 ? 0xFF : 0)) {}

    // All ones in the lanes of v that pass.
    Ints4 passes(Ints4 v) const {
        const Ints4 equal = equalBytes(v, reference);
        const Ints4 notAbove = equalBytes(minBytes(v, reference), v);
        const Ints4 notBelow = equalBytes(maxBytes(v, reference), v);
        return orBits(
            andBits(equal, passEqual),
            andNotBits(equal, orBits(andBits(notAbove, passBelow), andBits(notBelow, passAbove))));
    }
};
