#include "program/play.h"

#include <cstdio>

#include "program/backends.h"
#include "program/player.h"
#include "show/demo.h"

int playShow(const Options& options) {
    Backends backends;
    if (const int status = openBackends(options, backends, stderr); status != 0) return status;
    vornakDemo.attachSound(backends.sound);
    PlayOptions play;
    play.start = gridTimeAtOrBefore(options.start);
    play.loop = options.loop;
    if (options.noSound) {
        MutedDemo<Demo> muted(vornakDemo);
        return runPlayer(*backends.console, *backends.clock, muted, play);
    }
    return runPlayer(*backends.console, *backends.clock, vornakDemo, play);
}
