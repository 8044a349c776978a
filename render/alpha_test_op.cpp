// Alpha test over a span, one loop per comparison.
#include "render/alpha_test_op.h"

namespace {

constexpr unsigned ALPHA = 3;

template <typename Passes>
uint8_t testSpan(const uint8_t* frag, uint8_t* mask, uint8_t ref, uint16_t n, Passes passes) {
    uint8_t anyPassed = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (mask[i] != 0) continue;
        if (passes(frag[i * 4 + ALPHA], ref)) {
            anyPassed = 1;
        } else {
            mask[i] = 255;
        }
    }
    return anyPassed;
}

}  // namespace

int AlphaTestOp::enumerateKeys(FragmentKey& key, unsigned index) const {
    if (index >= 8) return 0;
    key.part[0] = static_cast<uint8_t>(index);
    return 1;
}

uint8_t AlphaTestOp::test(const uint8_t* frag, uint8_t* mask, uint8_t func, uint8_t ref,
                          uint16_t n) const {
    if (func == 0 || func == 1 || func > 7) {
        // Decided by the first alive pixel; no alive pixel means nothing passed.
        for (unsigned i = 0; i < n; ++i) {
            if (mask[i] == 0) return func == 1 ? 1 : 0;
        }
        return 0;
    }
    if (frag == nullptr) return 0;
    switch (func) {
        case 2:
            return testSpan(frag, mask, ref, n, [](uint8_t a, uint8_t r) { return a < r; });
        case 3:
            return testSpan(frag, mask, ref, n, [](uint8_t a, uint8_t r) { return a <= r; });
        case 4:
            return testSpan(frag, mask, ref, n, [](uint8_t a, uint8_t r) { return a > r; });
        case 5:
            return testSpan(frag, mask, ref, n, [](uint8_t a, uint8_t r) { return a >= r; });
        case 6:
            return testSpan(frag, mask, ref, n, [](uint8_t a, uint8_t r) { return a == r; });
        default:
            return testSpan(frag, mask, ref, n, [](uint8_t a, uint8_t r) { return a != r; });
    }
}
