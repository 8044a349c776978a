// The only clock of the show: a millisecond tick count that wraps at 2^32, and
// a sleep (GetTickCount and Sleep on Windows).
#pragma once

#include <cstdint>

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t tickCount() = 0;
    virtual void sleep(uint32_t milliseconds) = 0;
};
