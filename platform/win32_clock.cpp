#include "platform/win32_clock.h"

#include <windows.h>

#include <mmsystem.h>

Win32Clock::Win32Clock() : finePeriod_(timeBeginPeriod(1) == TIMERR_NOERROR) {}

Win32Clock::~Win32Clock() {
    if (finePeriod_) timeEndPeriod(1);
}

uint32_t Win32Clock::tickCount() {
    return static_cast<uint32_t>(GetTickCount());
}

void Win32Clock::sleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}
