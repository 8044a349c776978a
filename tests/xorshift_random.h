// A small reproducible random source for the renderer's randomised tests.
#pragma once

#include <cstdint>

class XorshiftRandom {
  public:
    explicit XorshiftRandom(uint32_t seed = 0x9E3779B9u) : state_(seed | 1u) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    float uniform(float lo, float hi) {
        return lo + (hi - lo) * float(next() >> 8) / float(1 << 24);
    }
    bool chance(int percent) { return next() % 100 < uint32_t(percent); }

  private:
    uint32_t state_;
};
