// Depth test over a span, one loop per comparison so that the loop has no
// branch on the function code.
#include "render/depth_op.h"

#include "render/lanes.h"

namespace {

template <uint8_t Func>
uint8_t testSpan(const float* z, const float* stored, uint8_t* mask, uint16_t n) {
    uint8_t anyPassed = 0;
    for (unsigned i = 0; i < n; ++i) {
        const bool pass = depthPasses<Func>(z[i], stored[i]);
        mask[i] = pass ? 0 : 255;
        anyPassed |= pass ? 1 : 0;
    }
    return anyPassed;
}

}  // namespace

int DepthOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= 8) return 0;
    key.part[0] = static_cast<uint8_t>(index);
    return 1;
}

uint8_t DepthOp::test(const float* z, const float* stored, uint8_t* mask, uint8_t func,
                      uint16_t n) const {
    switch (func) {
        case 1:
            for (unsigned i = 0; i < n; ++i) mask[i] = 0;
            return n > 0 ? 1 : 0;
        case 2:
            return testSpan<2>(z, stored, mask, n);
        case 3:
            return testSpan<3>(z, stored, mask, n);
        case 4:
            return testSpan<4>(z, stored, mask, n);
        case 5:
            return testSpan<5>(z, stored, mask, n);
        case 6:
            return testSpan<6>(z, stored, mask, n);
        case 7:
            return testSpan<7>(z, stored, mask, n);
        default:
            return 0;
    }
}

void DepthOp::writeDepth(const float* z, float* stored, const uint8_t* mask, uint16_t n) const {
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) stored[i] = z[i];
    }
}
