// The whole show's cell frames as the program writes them (80x50 CHAR_INFO
// records), from a muted run on a virtual clock: input for the terminal
// encoder's byte benchmark and its check against a terminal emulator.
#pragma once

#include <cstdint>
#include <functional>

#include "demo/demo.h"
#include "platform/headless_console.h"
#include "platform/virtual_clock.h"
#include "shell/frame_loop.h"

// Calls `visit` with every frame's cells (rows 80 * 4 bytes apart) and its
// number from 1. False when the show did not start.
inline bool forEachShowFrame(
    const std::function<void(const uint8_t* cells, uint32_t frame)>& visit) {
    HeadlessConsole console;
    console.setFrameHook([&](const HeadlessConsole& frame, uint32_t frames) {
        visit(frame.cells().data(), frames);
    });
    VirtualClock clock;
    MutedDemo<Demo> demo(vornakDemo);
    vornakDemo.attachPlatform(&clock, nullptr);
    return runShow(console, clock, demo) == 0;
}
