// Stencil test. Every operation is the same expression with three per-span
// parameters, so each pixel only chooses which set applies, sixteen a round.
#include "render/stencil_op.h"

#include <cstring>

#include "render/stencil_lanes.h"

namespace {

// Sixteen pixels a round: each pixel's new value and mask byte chosen without
// a branch from the three updates. The last pixels go through one round of
// copies, the lanes past them rejected (their results are not copied back).
uint8_t testSpan(uint8_t* stencil, uint8_t* mask, uint16_t n, const StencilUpdate& rejected,
                 const StencilUpdate& fail, const StencilUpdate& pass, uint8_t valueMask,
                 uint8_t func, uint8_t ref, uint8_t writeMask) {
    const StencilUpdateLanes rejectedLanes(rejected), failLanes(fail), passLanes(pass);
    const StencilComparison comparison(func, static_cast<uint8_t>(ref & valueMask));
    const Ints4 zero = splatByte(0);
    const Ints4 write = splatByte(writeMask);
    const Ints4 values = splatByte(valueMask);
    bool anyPassed = false;
    auto round = [&](uint8_t* stencil16, uint8_t* mask16) {
        const Ints4 s = loadInts4(stencil16);
        const Ints4 m = loadInts4(mask16);
        const Ints4 alive = equalBytes(m, zero);
        const Ints4 passing = andBits(alive, comparison.passes(andBits(s, values)));
        const Ints4 failing = andNotBits(passing, alive);
        anyPassed |= anyLane(passing);
        const Ints4 updated = selectBits(passing, applyStencilLanes(passLanes, s, write),
                                         selectBits(failing, applyStencilLanes(failLanes, s, write),
                                                    applyStencilLanes(rejectedLanes, s, write)));
        storeInts4(stencil16, updated);
        storeInts4(mask16, orBits(m, failing));
    };
    unsigned i = 0;
    for (; i + 16 <= n; i += 16) round(stencil + i, mask + i);
    if (i < n) {
        const unsigned rest = n - i;
        uint8_t stencil16[16] = {};
        uint8_t mask16[16];
        std::memset(mask16, 255, sizeof mask16);
        std::memcpy(stencil16, stencil + i, rest);
        std::memcpy(mask16, mask + i, rest);
        round(stencil16, mask16);
        std::memcpy(stencil + i, stencil16, rest);
        std::memcpy(mask + i, mask16, rest);
    }
    return anyPassed ? 1 : 0;
}

}  // namespace

uint8_t applyStencilOp(uint8_t op, uint8_t stored, uint8_t ref, uint8_t writeMask) {
    return applyStencilUpdate(stencilUpdate(op, ref, writeMask), stored, writeMask);
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
    if (func >= 1 && func <= 7)
        return testSpan(stencil, mask, n, rejected, fail, pass, valueMask, func, ref, writeMask);
    // Function 0 passes nothing: rejected pixels before the first alive one
    // still get their operation, then the test ends.
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) return 0;
        stencil[i] = applyStencilUpdate(rejected, stencil[i], writeMask);
    }
    return 0;
}
