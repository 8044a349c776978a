// Stencil test. Every operation is the same expression with three per-span
// parameters, so the per-pixel loop only chooses which set applies.
#include "render/stencil_op.h"

namespace {

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

StencilUpdate stencilUpdate(uint8_t op, uint8_t ref, uint8_t writeMask) {
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

inline uint8_t apply(const StencilUpdate& u, uint8_t s, uint8_t writeMask) {
    const uint8_t changed = static_cast<uint8_t>((((s & u.keep) | u.fill) ^ u.flip) + u.add);
    return static_cast<uint8_t>((s & ~writeMask) | (changed & writeMask));
}

template <typename Passes>
uint8_t testSpan(uint8_t* stencil, uint8_t* mask, uint16_t n, const StencilUpdate& rejected,
                 const StencilUpdate& fail, const StencilUpdate& pass, uint8_t valueMask,
                 uint8_t ref, uint8_t writeMask, Passes passes) {
    const uint8_t maskedRef = ref & valueMask;
    uint8_t anyPassed = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t s = stencil[i];
        if (mask[i] != 0) {
            stencil[i] = apply(rejected, s, writeMask);
        } else if (passes(static_cast<uint8_t>(s & valueMask), maskedRef)) {
            stencil[i] = apply(pass, s, writeMask);
            anyPassed = 1;
        } else {
            mask[i] = 255;
            stencil[i] = apply(fail, s, writeMask);
        }
    }
    return anyPassed;
}

}  // namespace

uint8_t applyStencilOp(uint8_t op, uint8_t stored, uint8_t ref, uint8_t writeMask) {
    return apply(stencilUpdate(op, ref, writeMask), stored, writeMask);
}

int StencilTestOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= 216) return 0;
    key.part[0] = static_cast<uint8_t>(index % 6);
    key.part[1] = static_cast<uint8_t>((index / 6) % 6);
    key.part[2] = static_cast<uint8_t>(index / 36);
    return 1;
}

uint8_t StencilTestOp::test(uint8_t* stencil, uint8_t* mask, uint16_t n, uint8_t opRejected,
                            uint8_t opFail, uint8_t opPass, uint8_t valueMask, uint8_t func,
                            uint8_t ref, uint8_t writeMask) const {
    const StencilUpdate rejected = stencilUpdate(opRejected, ref, writeMask);
    const StencilUpdate fail = stencilUpdate(opFail, ref, writeMask);
    const StencilUpdate pass = stencilUpdate(opPass, ref, writeMask);
    auto run = [&](auto passes) {
        return testSpan(stencil, mask, n, rejected, fail, pass, valueMask, ref, writeMask, passes);
    };
    switch (func) {
        case 1:
            return run([](uint8_t, uint8_t) { return true; });
        case 2:
            return run([](uint8_t s, uint8_t r) { return s < r; });
        case 3:
            return run([](uint8_t s, uint8_t r) { return s <= r; });
        case 4:
            return run([](uint8_t s, uint8_t r) { return s > r; });
        case 5:
            return run([](uint8_t s, uint8_t r) { return s >= r; });
        case 6:
            return run([](uint8_t s, uint8_t r) { return s == r; });
        case 7:
            return run([](uint8_t s, uint8_t r) { return s != r; });
        default:
            break;
    }
    // Function 0 passes nothing: rejected pixels before the first alive one
    // still get their operation, then the test ends.
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) return 0;
        stencil[i] = apply(rejected, stencil[i], writeMask);
    }
    return 0;
}
