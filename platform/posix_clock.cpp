#include "platform/posix_clock.h"

#include <cerrno>
#include <ctime>

uint32_t posixTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

uint32_t PosixClock::tickCount() {
    return posixTickCount();
}

void PosixClock::sleep(uint32_t milliseconds) {
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    // A handled signal (resize, Ctrl-C) interrupts the sleep; the rest is still slept.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
