// Depth test over a span, one loop per comparison so that the loop has no
// branch on the function code.
#include "render/depth_op.h"

namespace {

template <typename Passes>
uint8_t testSpan(const float* z, const float* stored, uint8_t* mask, uint16_t n, Passes passes) {
    uint8_t anyPassed = 0;
    for (unsigned i = 0; i < n; ++i) {
        const bool pass = passes(z[i], stored[i]);
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
            return testSpan(z, stored, mask, n, [](float a, float b) { return a >= b; });
        case 3:
            return testSpan(z, stored, mask, n, [](float a, float b) { return a > b; });
        case 4:
            return testSpan(z, stored, mask, n, [](float a, float b) { return a <= b; });
        case 5:
            return testSpan(z, stored, mask, n, [](float a, float b) { return a < b; });
        case 6:
            return testSpan(z, stored, mask, n, [](float a, float b) { return a == b; });
        case 7:
            return testSpan(z, stored, mask, n, [](float a, float b) { return a != b; });
        default:
            return 0;
    }
}

void DepthOp::writeDepth(const float* z, float* stored, const uint8_t* mask, uint16_t n) const {
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] == 0) stored[i] = z[i];
    }
}
