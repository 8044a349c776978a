// The show's frames one at a time, for runs without terminal, sound or real
// waiting (the digest, the pictures, recordings). The show runs muted on a
// virtual clock through the same FrameLoop pieces and in the same order as
// runShow in a terminal: start-up, the three-second wait, then one frame every
// 20 ms up to the first frame past the end of the timeline. Its owner pulls the
// frames and stops whenever it has what it needs.
//
// The first frame never waits, so the show's first moment comes twice, with the
// same pictures: demo times 0, 0, 20, 40, ...
#pragma once

#include <cstdint>
#include <string>

#include "image/surface.h"
#include "platform/headless_console.h"
#include "platform/virtual_clock.h"
#include "program/frame_loop.h"

// One frame as the console shows it and as it was rendered.
struct OfflineFrame {
    uint32_t demoTime = 0;
    uint8_t textMode = 0;             // the text mode asked for (above 1: the cells kept)
    const Surface* cells = nullptr;   // 80x50 console cells, 4 bytes each
    const Surface* render = nullptr;  // the 160x100 colour buffer
};

// DemoT is a FrameLoop demo type that also answers demoTime() after update.
template <class DemoT>
class OfflineFrames {
  public:
    explicit OfflineFrames(DemoT& demo) : demo_(demo), loop_(console_, demo_) {}
    ~OfflineFrames() { finish(); }
    OfflineFrames(const OfflineFrames&) = delete;
    OfflineFrames& operator=(const OfflineFrames&) = delete;

    // Start-up and the wait before the first frame. False when the start-up
    // failed; startupText() then holds the failure line and its cause.
    bool start() {
        if (!loop_.start()) return false;
        running_ = true;
        lastTick_ = clock_.tickCount();
        loop_.announceStart();
        clock_.sleep(START_DELAY_MS);
        loop_.startMusic();
        return true;
    }

    // Renders the next frame; null once the show's last frame has been pulled
    // (the show is shut down then) or when it never started.
    const OfflineFrame* next() {
        if (!running_ || ended_) {
            finish();
            return nullptr;
        }
        ended_ = loop_.frame(clock_.tickCount()) != 1;
        frame_.demoTime = demo_.demoTime();
        frame_.textMode = loop_.cellsMode();
        frame_.cells = &loop_.cells();
        frame_.render = demo_.colorSurface();
        lastTick_ = paceFrame(clock_, lastTick_);
        ++framesRun_;
        return &frame_;
    }

    // Shuts the show down; also when its owner stops before the end.
    void finish() {
        if (!running_) return;
        running_ = false;
        loop_.finish();
    }

    // Frames rendered so far.
    uint32_t framesRun() const { return framesRun_; }
    // Everything written to the console as text: the start-up lines.
    const std::string& startupText() const { return console_.text(); }

  private:
    HeadlessConsole console_;
    VirtualClock clock_;
    MutedDemo<DemoT> demo_;
    FrameLoop<MutedDemo<DemoT>> loop_;
    OfflineFrame frame_;
    uint32_t lastTick_ = 0;
    uint32_t framesRun_ = 0;
    bool running_ = false;
    bool ended_ = false;
};
