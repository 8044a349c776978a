// The show's entry sequence and frame loop: console set-up, start-up lines,
// initialisation of the demo, then one frame every 20 ms until the timeline
// ends or Escape is pressed, then an orderly shutdown.
//
// The loop is a template over the demo type so that tests can drive it with a
// fake demo (the show's Demo is not polymorphic). The demo type offers
// setSoundEnabled(uint8_t), init(const Size16&) -> int, update(uint32_t) -> uint8_t,
// colorSurface() -> Surface* and shutdown().
#pragma once

#include <cstdint>

#include "demo/text_mode.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "shell/console_output.h"
#include "shell/surface.h"
#include "shell/text_converter.h"

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
    uint8_t update(uint32_t now) { return demo_.update(now); }
    Surface* colorSurface() const { return demo_.colorSurface(); }
    void shutdown() { demo_.shutdown(); }
    const char* problem() const {
        if constexpr (requires { demo_.problem(); }) return demo_.problem();
        return "";
    }

  private:
    DemoT& demo_;
};

template <class DemoT>
int runShow(Console& console, Clock& clock, DemoT& demo) {
    console.setTitle(SHOW_TITLE);
    console.setScreenBufferSize(CONSOLE_SIZE.width, CONSOLE_SIZE.height);
    console.flushInput();
    demo.setSoundEnabled(1);
    writeConsoleText(console, TEXT_INITIALIZE);
    if (demo.init(RENDER_SIZE) != 0) {
        writeConsoleText(console, TEXT_INIT_FAILED);
        writeProblemLine(console, demo);
        return -1;
    }
    // Start-up went through, but there may be something to say (silent sound output).
    writeProblemLine(console, demo);
    if (const char* notice = console.startupNotice()) {
        writeConsoleText(console, "\n");
        writeConsoleText(console, notice);
    }

    TextConverter converters[2];
    converters[0].build(0);
    converters[1].build(1);

    Surface reducedFrame;
    Surface cellFrame;
    reducedFrame.create(CONSOLE_SIZE, 4);
    cellFrame.create(CONSOLE_SIZE, 4);
    // Blank cells rather than stale heap bytes if the first frame keeps "the last cells".
    clearSurface(reducedFrame);
    clearSurface(cellFrame);

    uint32_t lastTick = clock.tickCount();
    writeConsoleText(console, TEXT_START);
    clock.sleep(START_DELAY_MS);

    uint8_t running = 1;
    do {
        running = demo.update(clock.tickCount());
        downsampleSurface(demo.colorSurface(), &reducedFrame);
        const uint8_t mode = textMode();
        if (mode <= 1) {
            converters[mode].convert(&reducedFrame, &cellFrame);
        }
        writeConsoleFrame(console, &cellFrame);
        lastTick = paceFrame(clock, lastTick);
        if (consumeInputForEscape(console)) running = 0;
    } while (running == 1);

    reducedFrame.release();
    converters[0].release();
    converters[1].release();
    cellFrame.release();
    demo.shutdown();
    return 0;
}
