// The clock on Windows: GetTickCount and Sleep. While it exists the system timer
// runs at 1 ms, so that a Sleep of a few milliseconds keeps the 20 ms frame pace
// (the default period is about 15.6 ms).
#pragma once

#include "platform/clock.h"

class Win32Clock : public Clock {
  public:
    Win32Clock();
    ~Win32Clock() override;
    Win32Clock(const Win32Clock&) = delete;
    Win32Clock& operator=(const Win32Clock&) = delete;

    uint32_t tickCount() override;
    void sleep(uint32_t milliseconds) override;

  private:
    bool finePeriod_ = false;
};
