// The show's entry sequence and frame loop: console set-up, start-up lines,
// initialisation of the demo, then one frame every 20 ms until the timeline
// ends or Escape is pressed, then an orderly shutdown.
//
// The loop is a template over the demo type so that tests can drive it with a
// fake demo (the show's Demo is not polymorphic). The demo type offers
// setSoundEnabled(uint8_t), init(const Size16&) -> int, update(uint32_t) -> uint8_t,
// colorSurface() -> Surface* and shutdown(); startMusic() and problem() if it has them.
#pragma once

#include <cstdint>

#include "image/surface.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "program/console_output.h"
#include "scenekit/state_record.h"
#include "textmode/text_converter.h"
#include "textmode/text_mode.h"

constexpr uint32_t FRAME_MS = 20;
constexpr uint32_t START_DELAY_MS = 3000;
constexpr Size16 RENDER_SIZE = {160, 100};
constexpr Size16 CONSOLE_SIZE = {CONSOLE_COLUMNS, CONSOLE_ROWS};

inline constexpr char SHOW_TITLE[] = "VORNAK - Alt+Enter switches to full screen";
inline constexpr char TEXT_INITIALIZE[] = "Initialize VORNAK... ";
inline constexpr char TEXT_INIT_FAILED[] = "FAILED! Please update or reload VORNAK";
inline constexpr char TEXT_START[] = "\nStart in 3 seconds...";

// Writes a terminated string without its terminator.
void writeConsoleText(Console& console, const char* text);

// Waits out the rest of the frame slot that began at `lastTick` and answers where
// the next slot begins: the slot boundary after a fast frame, the fresh reading
// after a slow one (lost time is not made up). Tick arithmetic wraps at 2^32.
uint32_t paceFrame(Clock& clock, uint32_t lastTick);

// The same decision without the waiting, for a host that waits with its own
// timers (a browser): how long to wait from `now`, and where the next slot begins.
struct FrameSlot {
    uint32_t wait;
    uint32_t nextTick;
};
FrameSlot nextFrameSlot(uint32_t now, uint32_t lastTick);

// Consumes every input event pending now; true if one of them is an Escape key-down.
bool consumeInputForEscape(Console& console);

// Fills a created Surface with zero bytes.
void clearSurface(Surface& surface);

// Writes the demo's explanation of a failure or notice on a line of its own, if it
// has one: the one failure line alone would not tell anybody what to fix.
template <class DemoT>
void writeProblemLine(Console& console, const DemoT& demo) {
    if constexpr (requires { demo.problem(); }) {
        const char* problem = demo.problem();
        if (problem != nullptr && problem[0] != 0) {
            writeConsoleText(console, "\n");
            writeConsoleText(console, problem);
        }
    }
}

// Runs a demo with its music off whatever the entry asks for (--no-sound and the
// offline runs, which must not depend on a music file or a sound device).
template <class DemoT>
class MutedDemo {
  public:
    explicit MutedDemo(DemoT& demo) : demo_(demo) {}
    void setSoundEnabled(uint8_t) { demo_.setSoundEnabled(0); }
    int init(const Size16& renderSize) { return demo_.init(renderSize); }
    void startMusic() {}
    uint8_t update(uint32_t now) { return demo_.update(now); }
    Surface* colorSurface() const { return demo_.colorSurface(); }
    void shutdown() { demo_.shutdown(); }
    uint32_t demoTime() const { return demo_.demoTime(); }
    void keepState(StateRecord& record) requires requires(DemoT& d, StateRecord& r) {
        d.keepState(r);
    }
    { demo_.keepState(record); }
    const char* problem() const {
        if constexpr (requires { demo_.problem(); }) return demo_.problem();
        return "";
    }

  private:
    DemoT& demo_;
};

// The show's frame path, in the pieces every way of presenting it shares: start-up
// (console set-up, start-up lines, demo initialisation), the start of the music,
// one frame at a given clock reading, and the shutdown. runShow drives it on a
// clock and a console; a host with its own timing (a browser, the offline runs
// in program/offline_frames.h) calls the same pieces.
template <class DemoT>
class FrameLoop {
  public:
    FrameLoop(Console& console, DemoT& demo) : console_(console), demo_(demo) {}
    FrameLoop(const FrameLoop&) = delete;
    FrameLoop& operator=(const FrameLoop&) = delete;

    // Title, screen buffer, input flush, the start-up line, the demo's
    // initialisation and what it has to say. False when it failed (the failure
    // line and its cause are written).
    bool start() {
        console_.setTitle(SHOW_TITLE);
        console_.setScreenBufferSize(CONSOLE_SIZE.width, CONSOLE_SIZE.height);
        console_.flushInput();
        demo_.setSoundEnabled(1);
        writeConsoleText(console_, TEXT_INITIALIZE);
        if (demo_.init(RENDER_SIZE) != 0) {
            writeConsoleText(console_, TEXT_INIT_FAILED);
            writeProblemLine(console_, demo_);
            return false;
        }
        // Start-up went through, but there may be something to say (silent sound
        // output, a console that shows the picture only in part).
        writeProblemLine(console_, demo_);
        if (const char* notice = console_.startupNotice()) {
            writeConsoleText(console_, "\n");
            writeConsoleText(console_, notice);
        }

        converters_[0].build(0);
        converters_[1].build(1);
        reducedFrame_.create(CONSOLE_SIZE, 4);
        cellFrame_.create(CONSOLE_SIZE, 4);
        // Blank cells rather than stale heap bytes if the first frame keeps "the last cells".
        clearSurface(reducedFrame_);
        clearSurface(cellFrame_);
        return true;
    }

    // The line that announces the three-second wait.
    void announceStart() { writeConsoleText(console_, TEXT_START); }

    // Starts the music after the wait, before the clock is read for the first
    // frame: that reading is the show's first moment, the music's too.
    void startMusic() {
        if constexpr (requires { demo_.startMusic(); }) demo_.startMusic();
    }

    // Renders and writes the frame of clock reading `now`; answers the demo's
    // running flag (0 once the timeline has ended).
    uint8_t frame(uint32_t now) {
        const uint8_t running = demo_.update(now);
        downsampleSurface(demo_.colorSurface(), &reducedFrame_);
        cellsMode_ = textMode();
        if (cellsMode_ <= 1) {
            converters_[cellsMode_].convert(&reducedFrame_, &cellFrame_);
        }
        writeConsoleFrame(console_, &cellFrame_, overlayRow_);
        return running;
    }

    // Writes the last frame's cells again (a changed overlay row, a paused show).
    void writeAgain() { writeConsoleFrame(console_, &cellFrame_, overlayRow_); }

    // 80 cells written over the picture's last row from now on; null for none.
    // The caller keeps them.
    void setOverlayRow(const uint8_t* cells) { overlayRow_ = cells; }

    // Frees the frame buffers and shuts the demo down (music off).
    void finish() {
        reducedFrame_.release();
        converters_[0].release();
        converters_[1].release();
        cellFrame_.release();
        demo_.shutdown();
    }

    // The 80x50 cells of the last frame.
    const Surface& cells() const { return cellFrame_; }
    // The text mode the demo asked for in the last frame (above 1: the cells
    // were kept from the frame before).
    uint8_t cellsMode() const { return cellsMode_; }

  private:
    Console& console_;
    DemoT& demo_;
    TextConverter converters_[2];
    Surface reducedFrame_;
    Surface cellFrame_;
    uint8_t cellsMode_ = 0;
    const uint8_t* overlayRow_ = nullptr;
};

// The whole show on `console` and `clock`: start-up, the three-second wait, one
// frame every 20 ms until the timeline ends or Escape is pressed, shutdown.
// Returns 0, or -1 when start-up failed.
template <class DemoT>
int runShow(Console& console, Clock& clock, DemoT& demo) {
    FrameLoop<DemoT> loop(console, demo);
    if (!loop.start()) return -1;

    uint32_t lastTick = clock.tickCount();
    loop.announceStart();
    clock.sleep(START_DELAY_MS);
    loop.startMusic();

    uint8_t running = 1;
    do {
        running = loop.frame(clock.tickCount());
        lastTick = paceFrame(clock, lastTick);
        if (consumeInputForEscape(console)) running = 0;
    } while (running == 1);

    loop.finish();
    return 0;
}
