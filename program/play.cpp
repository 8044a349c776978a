#include "program/play.h"

#include <cstdio>

#include "program/backends.h"
#include "program/frame_loop.h"
#include "show/demo.h"

int playShow(const Options& options) {
    Backends backends;
    if (const int status = openBackends(options, backends, stderr); status != 0) return status;
    vornakDemo.attachSound(backends.sound);
    if (options.noSound) {
        MutedDemo<Demo> muted(vornakDemo);
        return runShow(*backends.console, *backends.clock, muted);
    }
    return runShow(*backends.console, *backends.clock, vornakDemo);
}
