// The clock on POSIX systems: monotonic milliseconds, wrapping at 2^32 like the
// console tick count, and a sleep that sees a signal through.
#pragma once

#include "platform/clock.h"

class PosixClock : public Clock {
  public:
    uint32_t tickCount() override;
    void sleep(uint32_t milliseconds) override;
};

// Monotonic milliseconds modulo 2^32.
uint32_t posixTickCount();
