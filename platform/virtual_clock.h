// A clock whose tick count moves only when the program sleeps or its owner
// advances it, so that a run is reproducible frame by frame.
#pragma once

#include <cstdint>

#include "platform/clock.h"

class VirtualClock : public Clock {
  public:
    explicit VirtualClock(uint32_t startTick = 0) : tick_(startTick) {}

    uint32_t tickCount() override { return tick_; }
    void sleep(uint32_t milliseconds) override;

    void advance(uint32_t milliseconds) { tick_ += milliseconds; }
    uint32_t sleptTotal() const { return sleptTotal_; }

  private:
    uint32_t tick_;
    uint32_t sleptTotal_ = 0;
};
