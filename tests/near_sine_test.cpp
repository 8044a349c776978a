#include "scenekit/near_sine.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/xorshift_random.h"

// The bound the callers rely on, against the library's sine (whose own error
// differs between platforms, hence the margin of half the bound): over random
// arguments of every size up to the limit, and next to the multiples of pi/2,
// where the reduction leaves the least.
TEST(NearSine, StaysWithinItsBoundUpToTheLimit) {
    XorshiftRandom random;
    auto check = [](double x) {
        EXPECT_LE(std::fabs(nearSine(x) - std::sin(x)), NEAR_SINE_ERROR / 2) << x;
    };
    for (int k = 0; k < 200000; ++k) {
        const double magnitude =
            std::ldexp(double(random.next()) / 4294967296.0, int(random.next() % 60) - 39);
        check(random.chance(50) ? magnitude : -magnitude);
    }
    for (double j = -667000; j <= 667000; j += 997) {
        for (double d : {-1e-9, 0.0, 1e-9, 0.785, -0.785}) check(j * 1.5707963267948966 + d);
    }
    check(NEAR_SINE_LIMIT - 1);
    check(-(NEAR_SINE_LIMIT - 1));
}
