#include "platform/virtual_clock.h"

void VirtualClock::sleep(uint32_t milliseconds) {
    tick_ += milliseconds;
    sleptTotal_ += milliseconds;
}
