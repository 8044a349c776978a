// The whole show's cell frames as the program writes them (80x50 CHAR_INFO
// records), from a muted run on a virtual clock: input for the terminal
// encoder's byte benchmark and its check against a terminal emulator.
#pragma once

#include <cstdint>
#include <functional>

#include "show/demo.h"
#include "platform/headless_console.h"
#include "platform/virtual_clock.h"
#include "program/frame_loop.h"

// Calls `visit` with every frame's cells (rows 80 * 4 bytes apart) and its
// number from 1; with `lastFrame` not 0, the show ends after that frame (as
// if Escape were pressed). False when the show did not start.
inline bool forEachShowFrame(const std::function<void(const uint8_t* cells, uint32_t frame)>& visit,
                             uint32_t lastFrame = 0) {
    HeadlessConsole console;
    console.setFrameHook([&](const HeadlessConsole& frame, uint32_t frames) {
        visit(frame.cells().data(), frames);
    });
    if (lastFrame != 0) console.scheduleInput(lastFrame, {CONSOLE_KEY_EVENT, 1, CONSOLE_VK_ESCAPE});
    VirtualClock clock;
    MutedDemo<Demo> demo(vornakDemo);
    vornakDemo.attachPlatform(&clock, nullptr);
    return runShow(console, clock, demo) == 0;
}
