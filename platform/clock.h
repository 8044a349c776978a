// The only clock of the show: a millisecond tick count that wraps at 2^32, and
// a way to wait.
#pragma once

#include <cstdint>

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds since some fixed moment, wrapping at 2^32 (GetTickCount).
    virtual uint32_t tickCount() = 0;
    // Waits at least `milliseconds` (Sleep).
    virtual void sleep(uint32_t milliseconds) = 0;
};
