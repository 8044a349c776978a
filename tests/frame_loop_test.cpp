#include "program/frame_loop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/headless_console.h"
#include "platform/virtual_clock.h"
#include "program/offline_frames.h"
#include "textmode/text_mode.h"

namespace {

// A clock whose sleeps overshoot by a fixed amount, as real sleeps do, so that
// a slot boundary and a fresh reading of the clock give different results.
class RecordingClock : public Clock {
  public:
    explicit RecordingClock(uint32_t start, uint32_t overshoot = 0)
        : tick_(start), overshoot_(overshoot) {}
    uint32_t tickCount() override { return tick_; }
    void sleep(uint32_t ms) override {
        sleeps.push_back(ms);
        tick_ += ms + overshoot_;
    }
    void advance(uint32_t ms) { tick_ += ms; }

    std::vector<uint32_t> sleeps;

  private:
    uint32_t tick_;
    uint32_t overshoot_;
};

// A demo whose frames take scripted amounts of clock time and which ends after
// a fixed number of frames.
template <class ClockT>
struct FakeDemo {
    ClockT* clock = nullptr;
    std::vector<uint32_t> workMs;  // clock time each frame takes, by frame
    int framesToRun = 3;
    int initResult = 0;
    uint8_t mode = 1;

    uint8_t soundEnabled = 0;
    std::vector<uint32_t> updateTicks;
    int shutdowns = 0;
    Size16 initSize{};
    Surface color;

    void setSoundEnabled(uint8_t enabled) { soundEnabled = enabled; }
    int init(const Size16& size) {
        initSize = size;
        if (initResult != 0) return initResult;
        return color.create(size, 4);
    }
    uint8_t update(uint32_t now) {
        const size_t frame = updateTicks.size();
        updateTicks.push_back(now);
        if (clock != nullptr && frame < workMs.size()) clock->advance(workMs[frame]);
        setTextMode(mode);
        return static_cast<int>(updateTicks.size()) < framesToRun ? 1 : 0;
    }
    Surface* colorSurface() { return &color; }
    void shutdown() {
        ++shutdowns;
        color.release();
    }
};

ConsoleInputEvent keyEvent(uint16_t key, uint8_t down) {
    ConsoleInputEvent event;
    event.eventType = CONSOLE_KEY_EVENT;
    event.keyDown = down;
    event.virtualKeyCode = key;
    return event;
}

}  // namespace

TEST(FramePacing, FastFrameSleepsRestOfSlotAndNextSlotStartsAtBoundary) {
    RecordingClock clock(1007, /*overshoot=*/2);
    EXPECT_EQ(paceFrame(clock, 1000), 1020u);
    EXPECT_EQ(clock.sleeps, std::vector<uint32_t>{13});
}

TEST(FramePacing, SlowFrameDoesNotSleepAndNextSlotStartsAtReading) {
    RecordingClock clock(1035);
    EXPECT_EQ(paceFrame(clock, 1000), 1035u);
    RecordingClock exact(1020);
    EXPECT_EQ(paceFrame(exact, 1000), 1020u);  // exactly one slot: no sleep either
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_TRUE(exact.sleeps.empty());
}

TEST(FramePacing, TickWrapAroundKeepsElapsedRight) {
    RecordingClock fast(3);  // 7 ms after 0xFFFFFFFC
    EXPECT_EQ(paceFrame(fast, 0xFFFFFFFCu), 16u);
    EXPECT_EQ(fast.sleeps, std::vector<uint32_t>{13});

    RecordingClock slow(30);  // 40 ms after 0xFFFFFFF6
    EXPECT_EQ(paceFrame(slow, 0xFFFFFFF6u), 30u);
    EXPECT_TRUE(slow.sleeps.empty());
}

TEST(FrameLoop, PacesFramesAcrossTickWrapAround) {
    // Frame 2 straddles the wrap of the tick count.
    const uint32_t start = 0xFFFFFFFFu - 3007u;
    RecordingClock clock(start, /*overshoot=*/1);
    HeadlessConsole console;
    FakeDemo<RecordingClock> demo;
    demo.clock = &clock;
    demo.workMs = {5, 7, 4, 35, 2};
    demo.framesToRun = 5;

    EXPECT_EQ(runShow(console, clock, demo), 0);

    // The start delay follows the tick read for the first slot, so the first
    // frame never sleeps; after that 7 ms -> 13; the next frame ends 5 ms after
    // the slot boundary (4 ms after the overslept reading) -> 15; 36 ms -> none;
    // 2 ms -> 18.
    EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{3000, 13, 15, 18}));
    ASSERT_EQ(demo.updateTicks.size(), 5u);
    EXPECT_EQ(demo.updateTicks[0], start + 3001u);
    EXPECT_EQ(demo.updateTicks[1], start + 3006u);
    EXPECT_EQ(demo.updateTicks[2], 19u);  // wrapped: slot boundary 18 plus 1 ms overshoot
    EXPECT_EQ(demo.updateTicks[3], 39u);
    EXPECT_EQ(demo.updateTicks[4], 74u);
    EXPECT_EQ(console.framesWritten(), 5u);
    EXPECT_EQ(demo.shutdowns, 1);
}

TEST(FrameLoop, StartUpOrderAndTexts) {
    VirtualClock clock(500);
    HeadlessConsole console;
    FakeDemo<VirtualClock> demo;
    demo.framesToRun = 1;

    EXPECT_EQ(runShow(console, clock, demo), 0);

    EXPECT_EQ(console.title().rfind("VORNAK", 0), 0u);
    EXPECT_NE(console.title().find("Alt+Enter"), std::string::npos);
    EXPECT_EQ(console.columns(), 80);
    EXPECT_EQ(console.rows(), 50);
    EXPECT_EQ(demo.soundEnabled, 1);
    EXPECT_EQ(demo.initSize.width, 160);
    EXPECT_EQ(demo.initSize.height, 100);
    EXPECT_EQ(console.text(), "Initialize VORNAK... \nStart in 3 seconds...");
    ASSERT_EQ(demo.updateTicks.size(), 1u);
    EXPECT_EQ(demo.updateTicks[0], 3500u);
    EXPECT_EQ(console.rowWrites(), 50u);
}

TEST(FrameLoop, FailingInitPrintsFailureAndSkipsTheWait) {
    for (int code : {1, 0x10000, 0x10002, -1}) {
        VirtualClock clock;
        HeadlessConsole console;
        FakeDemo<VirtualClock> demo;
        demo.initResult = code;

        EXPECT_EQ(runShow(console, clock, demo), -1) << code;
        EXPECT_EQ(console.text(), "Initialize VORNAK... FAILED! Please update or reload VORNAK");
        EXPECT_EQ(clock.sleptTotal(), 0u);
        EXPECT_TRUE(demo.updateTicks.empty());
        EXPECT_EQ(console.framesWritten(), 0u);
        EXPECT_EQ(demo.soundEnabled, 1);
    }
}

namespace {
// A demo that explains itself, like the show's Demo does for its music.
struct ExplainingDemo : FakeDemo<VirtualClock> {
    const char* problem() const { return "vornak.ogg: no such file in /somewhere"; }
};
}  // namespace

TEST(FrameLoop, ProblemLineFollowsTheFailureOrTheStartUpLine) {
    VirtualClock clock;
    HeadlessConsole failing;
    ExplainingDemo broken;
    broken.initResult = 0x10002;
    EXPECT_EQ(runShow(failing, clock, broken), -1);
    EXPECT_EQ(failing.text(),
              "Initialize VORNAK... FAILED! Please update or reload VORNAK\n"
              "vornak.ogg: no such file in /somewhere");

    HeadlessConsole starting;
    ExplainingDemo working;
    working.framesToRun = 1;
    EXPECT_EQ(runShow(starting, clock, working), 0);
    EXPECT_EQ(
        starting.text(),
        "Initialize VORNAK... \nvornak.ogg: no such file in /somewhere\nStart in 3 seconds...");
}

TEST(FrameLoop, MutedDemoNeverEnablesSound) {
    VirtualClock clock;
    HeadlessConsole console;
    FakeDemo<VirtualClock> demo;
    demo.framesToRun = 1;
    MutedDemo<FakeDemo<VirtualClock>> muted(demo);
    EXPECT_EQ(runShow(console, clock, muted), 0);
    EXPECT_EQ(demo.soundEnabled, 0);
    EXPECT_EQ(demo.updateTicks.size(), 1u);
}

TEST(FrameLoop, EscapePressedAndReleasedWithinOneFrameEndsAtThatFrame) {
    VirtualClock clock;
    HeadlessConsole console;
    FakeDemo<VirtualClock> demo;
    demo.framesToRun = 100;
    console.scheduleInput(3, keyEvent('A', 1));
    console.scheduleInput(3, keyEvent(CONSOLE_VK_ESCAPE, 1));
    console.scheduleInput(3, keyEvent(CONSOLE_VK_ESCAPE, 0));
    console.scheduleInput(3, keyEvent('A', 0));

    EXPECT_EQ(runShow(console, clock, demo), 0);
    EXPECT_EQ(demo.updateTicks.size(), 3u);
    EXPECT_EQ(console.framesWritten(), 3u);
    EXPECT_EQ(console.pendingInputEvents(), 0u);  // the events after Escape were consumed too
    EXPECT_EQ(demo.shutdowns, 1);
}

TEST(FrameLoop, OtherKeysAndEventsNeverEndTheRun) {
    VirtualClock clock;
    HeadlessConsole console;
    FakeDemo<VirtualClock> demo;
    demo.framesToRun = 6;
    for (uint32_t frame = 1; frame <= 6; ++frame) {
        console.scheduleInput(frame, keyEvent('Q', 1));  // held: repeats every frame
        console.scheduleInput(frame, keyEvent(0x0D, 1));
    }
    console.scheduleInput(2, keyEvent(CONSOLE_VK_ESCAPE, 0));  // a release alone
    ConsoleInputEvent mouse;
    mouse.eventType = 2;
    mouse.keyDown = 1;
    mouse.virtualKeyCode = CONSOLE_VK_ESCAPE;
    console.scheduleInput(4, mouse);

    EXPECT_EQ(runShow(console, clock, demo), 0);
    EXPECT_EQ(demo.updateTicks.size(), 6u);
}

TEST(FrameLoop, EscapeQueuedBeforeStartIsFlushed) {
    VirtualClock clock;
    HeadlessConsole console;
    FakeDemo<VirtualClock> demo;
    demo.framesToRun = 4;
    console.scheduleInput(0, keyEvent(CONSOLE_VK_ESCAPE, 1));

    EXPECT_EQ(runShow(console, clock, demo), 0);
    EXPECT_EQ(demo.updateTicks.size(), 4u);
}

TEST(FrameLoop, EndOfTimelineStillShowsThatFrame) {
    VirtualClock clock;
    HeadlessConsole console;
    FakeDemo<VirtualClock> demo;
    demo.framesToRun = 2;
    EXPECT_EQ(runShow(console, clock, demo), 0);
    EXPECT_EQ(console.framesWritten(), 2u);
    // 3000 ms start delay, no sleep after the first frame, 20 after the second.
    EXPECT_EQ(clock.sleptTotal(), 3020u);
}

// An unknown text mode keeps the cells of the last converted frame.
namespace {
struct PaintingDemo : FakeDemo<VirtualClock> {
    // Frames 1 and 2 are pure red and pure blue in shade mode; frame 3 is green
    // in an unknown mode, so the blue frame's cells stay.
    uint8_t update(uint32_t now) {
        const uint8_t running = FakeDemo<VirtualClock>::update(now);
        const size_t frame = updateTicks.size();
        const uint8_t rgba[3][4] = {{255, 0, 0, 255}, {0, 0, 255, 255}, {0, 255, 0, 255}};
        for (int16_t y = 0; y < color.height(); ++y) {
            for (int16_t x = 0; x < color.width(); ++x) {
                std::memcpy(color.pixelAt({x, y}), rgba[(frame - 1) % 3], 4);
            }
        }
        setTextMode(frame == 3 ? 7 : 1);
        return running;
    }
};
}  // namespace

TEST(FrameLoop, UnknownTextModeKeepsLastCells) {
    VirtualClock clock;
    HeadlessConsole console;
    PaintingDemo demo;
    demo.framesToRun = 3;
    std::vector<uint8_t> shown;
    console.setFrameHook(
        [&](const HeadlessConsole& c, uint32_t) { shown.push_back(c.cellAt(5, 7)[2]); });

    EXPECT_EQ(runShow(console, clock, demo), 0);
    EXPECT_EQ(shown, (std::vector<uint8_t>{0x0C, 0x09, 0x09}));  // full blocks: red, blue, blue
}

namespace {
struct TimedDemo : FakeDemo<VirtualClock> {
    uint32_t demoTime() const { return updateTicks.back() - updateTicks.front(); }
};
}  // namespace

// The offline frames come as runShow would show them: the first moment twice, then
// one every 20 ms, up to and with the frame that ends the timeline; then the show
// is shut down once. A failed start-up yields no frame and says why.
TEST(OfflineFrames, PullsTheFramesOfRunShowAndFinishesOnce) {
    TimedDemo demo;
    demo.framesToRun = 4;
    std::vector<uint32_t> times;
    {
        OfflineFrames<TimedDemo> frames(demo);
        ASSERT_TRUE(frames.start());
        while (const OfflineFrame* frame = frames.next()) {
            times.push_back(frame->demoTime);
            EXPECT_EQ(frame->cells->width(), 80);
            EXPECT_EQ(frame->render, &demo.color);
        }
        EXPECT_EQ(frames.next(), nullptr);
    }
    EXPECT_EQ(times, (std::vector<uint32_t>{0, 0, 20, 40}));
    EXPECT_EQ(demo.soundEnabled, 0);
    EXPECT_EQ(demo.shutdowns, 1);

    TimedDemo broken;
    broken.initResult = 1;
    OfflineFrames<TimedDemo> failing(broken);
    EXPECT_FALSE(failing.start());
    EXPECT_EQ(failing.next(), nullptr);
    EXPECT_EQ(failing.startupText(), "Initialize VORNAK... FAILED! Please update or reload VORNAK");
}
