// The whole show's cell frames as the program writes them (80x50 CHAR_INFO
// records), from a muted run on a virtual clock: input for the terminal
// encoder's byte benchmark and its check against a terminal emulator.
#pragma once

#include <cstdint>
#include <functional>

#include "program/offline_frames.h"
#include "show/demo.h"

// Calls `visit` with every frame's cells (rows 80 * 4 bytes apart) and its
// number from 1; with `lastFrame` not 0, the show ends after that frame. False
// when the show did not start.
inline bool forEachShowFrame(const std::function<void(const uint8_t* cells, uint32_t frame)>& visit,
                             uint32_t lastFrame = 0) {
    OfflineFrames<Demo> frames(vornakDemo);
    if (!frames.start()) return false;
    while (const OfflineFrame* frame = frames.next()) {
        visit(frame->cells->pixels(), frames.framesRun());
        if (frames.framesRun() == lastFrame) break;
    }
    return true;
}
