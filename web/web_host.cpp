// The show in a web page. The page owns the timing: it calls these entry points
// from its timers, and they drive the program layer's FrameLoop exactly as
// runShow does on a terminal (start-up, the three-second wait, one frame per
// 20 ms slot, Escape, shutdown), with the page as console, clock and sound output.
// The clock is the audio clock while the music plays, so picture and sound stay
// together; the page can also run the show on a virtual clock (tests), and the
// whole-show digest of the offline run.
#include <emscripten.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/sound.h"
#include "platform/virtual_clock.h"
#include "program/frame_loop.h"
#include "program/offline_run.h"
#include "show/demo.h"
#include "web/web_console.h"

// The page's side (web/index.html, Module.vornakHost).
// clang-format off
EM_JS(double, pageTickCount, (), { return Module.vornakHost.now() >>> 0; });
EM_JS(void, pagePlayMusic, (), { Module.vornakHost.playMusic(); });
EM_JS(void, pageStopMusic, (), { Module.vornakHost.stopMusic(); });
// clang-format on

namespace {

// Milliseconds of the page: the audio clock while the music plays, before that
// the page's own. The page waits with timers, so sleep is never asked for.
class PageClock : public Clock {
  public:
    uint32_t tickCount() override { return static_cast<uint32_t>(pageTickCount()); }
    void sleep(uint32_t) override {}
};

// The music as the page plays it: decoded by the browser before the show starts.
// Where it could not be decoded the show runs silently and says why.
class PageSound : public SoundSystem {
  public:
    PageSound(bool musicReady, std::string problem)
        : musicReady_(musicReady), problem_(std::move(problem)) {}
    int init(int, int, unsigned) override { return 1; }
    // The browser holds the music; the show only needs a handle it hands back.
    SoundStream* openStream(const char*) override {
        return reinterpret_cast<SoundStream*>(&handle_);
    }
    int play(SoundStream* stream) override {
        if (stream == nullptr) return 0;
        if (musicReady_) pagePlayMusic();
        return 1;
    }
    void stop(SoundStream*) override {
        if (musicReady_) pageStopMusic();
    }
    void close(SoundStream*) override {}
    void shutdown() override {}
    const char* problem() const override { return problem_.c_str(); }

  private:
    bool musicReady_;
    std::string problem_;
    char handle_ = 0;  // never read through the handle
};

struct PageShow {
    PageShow(bool virtualClock, bool musicReady, std::string musicProblem)
        : sound(musicReady, std::move(musicProblem)),
          clock(virtualClock ? static_cast<Clock*>(&virtualTicks) : &pageTicks),
          pixels(size_t(WebConsole::PIXEL_WIDTH) * WebConsole::PIXEL_HEIGHT * 4) {}

    WebConsole console;
    PageSound sound;
    PageClock pageTicks;
    VirtualClock virtualTicks;
    Clock* clock;
    FrameLoop<Demo> loop{console, vornakDemo};
    uint32_t lastTick = 0;
    uint32_t framesRun = 0;
    bool started = false;
    uint8_t running = 1;
    bool finished = false;
    std::vector<uint8_t> pixels;
};

// One show per page: the Demo and the scenes' shared state live for the process.
PageShow* pageShow = nullptr;

// The show has been begun and went through its start-up.
bool showStarted() {
    return pageShow != nullptr && pageShow->started;
}

}  // namespace

extern "C" {

// Sets the show up on a virtual or the page's clock, with the decoded music or
// silently with `musicProblem` as the reason: console, start-up line, the demo's
// initialisation. 1 when it went through, 0 when it failed (the console says why)
// or a show was already started on this page.
EMSCRIPTEN_KEEPALIVE int vornak_web_begin(int virtualClock, int musicReady,
                                          const char* musicProblem) {
    if (pageShow != nullptr) return 0;
    pageShow = new PageShow(virtualClock != 0, musicReady != 0, musicProblem ? musicProblem : "");
    vornakDemo.attachSound(&pageShow->sound);
    pageShow->started = pageShow->loop.start();
    return pageShow->started ? 1 : 0;
}

// Announces the three-second wait and answers its length; the page waits it out.
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_announce() {
    if (!showStarted()) return 0;
    pageShow->lastTick = pageShow->clock->tickCount();
    pageShow->loop.announceStart();
    return START_DELAY_MS;
}

// Called for each wait the page makes (moves the virtual clock; the page's runs on its own).
EMSCRIPTEN_KEEPALIVE void vornak_web_sleep(uint32_t milliseconds) {
    if (showStarted()) pageShow->clock->sleep(milliseconds);
}

// One step of the loop: after the first frame the input of the last wait is read
// (Escape ends the show) and the end of the timeline is seen; before the first
// frame the music starts. Then the frame of this moment is rendered and written
// to the console. Answers how many ms to wait before the next step, or -1 when
// the show has ended and been shut down (music off), or was never started.
EMSCRIPTEN_KEEPALIVE int vornak_web_frame() {
    if (!showStarted()) return -1;
    PageShow& show = *pageShow;
    if (show.finished) return -1;
    if (show.framesRun > 0) {
        if (consumeInputForEscape(show.console)) show.running = 0;
        if (show.running != 1) {
            show.loop.finish();
            show.finished = true;
            return -1;
        }
    } else {
        show.loop.startMusic();
    }
    show.running = show.loop.frame(show.clock->tickCount());
    ++show.framesRun;
    const FrameSlot slot = nextFrameSlot(show.clock->tickCount(), show.lastTick);
    show.lastTick = slot.nextTick;
    return static_cast<int>(slot.wait);
}

// A key from the page, as a Windows virtual-key code.
EMSCRIPTEN_KEEPALIVE void vornak_web_key(int virtualKeyCode, int down) {
    if (pageShow != nullptr) pageShow->console.pushKey(uint16_t(virtualKeyCode), down != 0);
}

// Draws the console look of the screen buffer and answers where its 640x600 RGBA
// pixels are (null before a show was begun).
EMSCRIPTEN_KEEPALIVE const uint8_t* vornak_web_draw() {
    if (pageShow == nullptr) return nullptr;
    pageShow->console.drawLook(pageShow->pixels.data());
    return pageShow->pixels.data();
}

EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_demo_time() {
    return vornakDemo.demoTime();
}

// The console title the show set.
EMSCRIPTEN_KEEPALIVE const char* vornak_web_title() {
    return pageShow != nullptr ? pageShow->console.title().c_str() : "";
}

// Everything written to the console as text (the start-up lines).
EMSCRIPTEN_KEEPALIVE const char* vornak_web_console_text() {
    return pageShow != nullptr ? pageShow->console.text().c_str() : "";
}

// The whole-show digest of `vornak --digest`, printed line by line; the process
// exit status. Runs the one Demo, so only on a page or process with no show.
EMSCRIPTEN_KEEPALIVE int vornak_web_digest() {
    if (pageShow != nullptr) return 1;
    const int status = runDigest(stdout);
    std::fflush(stdout);
    return status;
}

}  // extern "C"
