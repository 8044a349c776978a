// The show in a web page. The page owns the timing: it calls these entry points
// from its timers, and they drive the program layer's FrameLoop and Player as
// runPlayer does on a terminal (start-up, the snapshots kept during the
// three-second wait, one frame per 20 ms slot, the player's keys, shutdown),
// with the page as console, clock and sound output. While the music is heard
// the show follows it; pauses, seeks and the volume act on both. The page can
// also run the show without the player on a virtual clock (tests), and the
// whole-show digest of the offline run.
#include <emscripten.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "data/console_font.h"
#include "image/console_palette.h"
#include "platform/clock.h"
#include "platform/sound.h"
#include "platform/virtual_clock.h"
#include "program/frame_loop.h"
#include "program/offline_run.h"
#include "program/player.h"
#include "show/demo.h"
#include "show/timeline.h"
#include "web/web_console.h"

// The page's side (web/show.js, Module.vornakHost).
// clang-format off
EM_JS(double, pageTickCount, (), { return Module.vornakHost.now() >>> 0; });
// The music from `position` ms on, playing or held there; `audible` once at the
// start: whether the page has music to play.
EM_JS(void, pagePlayMusic, (int audible), { Module.vornakHost.playMusic(audible); });
EM_JS(void, pageMusicAt, (double position, int playing), {
    Module.vornakHost.musicAt(position, playing);
});
EM_JS(void, pageStopMusic, (), { Module.vornakHost.stopMusic(); });
EM_JS(void, pageMusicVolume, (double gain), { Module.vornakHost.musicVolume(gain); });
// The position (ms) of the music being heard now, or -1 while none is heard.
EM_JS(double, pageHeardMusic, (), { return Module.vornakHost.heardMusic(); });
// clang-format on

namespace {

// The sound layer counts the music in frames of 44.1 kHz.
constexpr double MUSIC_FRAMES_PER_MS = 44.1;
// Milliseconds of the page. The page waits with timers, so sleep is never asked for.
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
        position_ = 0;
        paused_ = false;
        pagePlayMusic(musicReady_ ? 1 : 0);
        return 1;
    }
    void stop(SoundStream*) override {
        if (musicReady_) pageStopMusic();
    }
    void close(SoundStream*) override {}
    void shutdown() override {}

    // The page starts the music again at that very sample, or holds it there.
    void seek(SoundStream*, uint64_t frame) override {
        position_ = double(frame) / MUSIC_FRAMES_PER_MS;
        pageMusicAt(position_, paused_ ? 0 : 1);
    }
    void setPaused(SoundStream*, bool paused) override {
        if (paused == paused_) return;
        if (paused) {
            const double heard = pageHeardMusic();
            if (heard >= 0) position_ = heard;
        }
        paused_ = paused;
        pageMusicAt(position_, paused ? 0 : 1);
    }
    void setVolume(int percent) override { pageMusicVolume(std::clamp(percent, 0, 100) / 100.0); }
    int64_t heardFrame(const SoundStream*) const override {
        const double heard = paused_ ? -1 : pageHeardMusic();
        return heard < 0 ? -1 : int64_t(heard * MUSIC_FRAMES_PER_MS);
    }

    const char* problem() const override { return problem_.c_str(); }

  private:
    bool musicReady_;
    std::string problem_;
    double position_ = 0;  // ms, where the music was last put
    bool paused_ = false;
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
    // The viewer's controls, on the page's clock (not on the virtual one).
    std::unique_ptr<Player<Demo>> player;
    uint32_t startAt = 0;
    uint32_t lastTick = 0;
    uint32_t framesRun = 0;
    bool started = false;
    uint8_t running = 1;
    bool finished = false;
    std::vector<uint8_t> pixels;
    WebConsole::CellRect drawn;
};

// One show per page: the Demo and the scenes' shared state live for the process.
PageShow* pageShow = nullptr;

// The show has been begun and went through its start-up.
bool showStarted() {
    return pageShow != nullptr && pageShow->started;
}

// The player has begun and the show not ended: the controls work.
Player<Demo>* livePlayer() {
    if (!showStarted() || pageShow->finished || pageShow->framesRun == 0) return nullptr;
    return pageShow->player.get();
}

uint32_t pageNow() {
    return pageShow->clock->tickCount();
}

// A whole slot from now.
int waitSlot(PageShow& show) {
    show.lastTick = pageNow();
    return int(FRAME_MS);
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

// Announces the three-second wait and answers its length; the page waits it
// out, keeping snapshots meanwhile (vornak_web_keep_snapshots). The show plays
// from demo time `startAt` (ms; the grid time at or before it, within the show).
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_announce(double startAt) {
    if (!showStarted()) return 0;
    PageShow& show = *pageShow;
    show.lastTick = pageNow();
    show.loop.announceStart();
    if (show.clock == &show.pageTicks) {
        show.player =
            std::make_unique<Player<Demo>>(show.console, show.loop, vornakDemo, show.clock);
        show.startAt = startAt > 0 ? uint32_t(std::min<double>(startAt, SHOW_LENGTH_MS)) : 0;
    }
    return START_DELAY_MS;
}

// Keeps more snapshots of the show's state for up to `milliseconds` (in the
// wait, or in a frame slot's slack) without changing what the show draws next;
// 1 while there is more to keep.
EMSCRIPTEN_KEEPALIVE int vornak_web_keep_snapshots(uint32_t milliseconds) {
    if (!showStarted() || pageShow->player == nullptr) return 0;
    return pageShow->player->keepSnapshots(*pageShow->clock, pageNow() + milliseconds) ? 1 : 0;
}

// Called for each wait the page makes (moves the virtual clock; the page's runs on its own).
EMSCRIPTEN_KEEPALIVE void vornak_web_sleep(uint32_t milliseconds) {
    if (showStarted()) pageShow->clock->sleep(milliseconds);
}

// One step of the loop: after the first frame the keys of the last wait go to the
// player (Escape or Q ends the show) and the end of the timeline is seen; the
// first step starts the music and the player. Otherwise the frame of this moment
// is rendered and written to the console (nothing new while paused).
// Answers how many ms to wait before the next step, or -1 when the show has
// ended and been shut down (music off), or was never started.
EMSCRIPTEN_KEEPALIVE int vornak_web_frame() {
    if (!showStarted()) return -1;
    PageShow& show = *pageShow;
    if (show.finished) return -1;
    Player<Demo>* player = show.player.get();
    if (show.framesRun > 0) {
        const bool keys = show.console.pendingInputEvents() > 0;
        if (player != nullptr ? !handlePlayerInput(show.console, *player, pageNow())
                              : consumeInputForEscape(show.console)) {
            show.running = 0;
        }
        if (show.running != 1) {
            show.player.reset();
            show.loop.finish();
            show.finished = true;
            return -1;
        }
        // A key's frame (a seek, a pause) stays a slot, while the music it asked
        // for starts and the page says so: the next frame follows it.
        if (player != nullptr && keys) return waitSlot(show);
    } else {
        show.loop.startMusic();
        if (player != nullptr) {
            player->begin(show.startAt, pageNow());
            ++show.framesRun;
            return waitSlot(show);
        }
    }
    show.running = player != nullptr ? player->frame(pageNow()) : show.loop.frame(pageNow());
    ++show.framesRun;
    const FrameSlot slot = nextFrameSlot(pageNow(), show.lastTick);
    show.lastTick = slot.nextTick;
    return static_cast<int>(slot.wait);
}

// A key from the page, as a Windows virtual-key code (letters in upper case).
EMSCRIPTEN_KEEPALIVE void vornak_web_key(int virtualKeyCode, int down) {
    if (pageShow != nullptr) pageShow->console.pushKey(uint16_t(virtualKeyCode), down != 0);
}

// The console look of the cells that changed since the last call, drawn into the
// show's 640x600 RGBA pixels; answers where they are (null before a show was
// begun). vornak_web_drawn_rect tells which cells were drawn.
EMSCRIPTEN_KEEPALIVE const uint8_t* vornak_web_draw() {
    if (pageShow == nullptr) return nullptr;
    pageShow->drawn = pageShow->console.drawChangedLook(pageShow->pixels.data());
    return pageShow->pixels.data();
}

// Column, row, columns and rows of the cells the last vornak_web_draw drew.
EMSCRIPTEN_KEEPALIVE const int32_t* vornak_web_drawn_rect() {
    static_assert(sizeof(WebConsole::CellRect) == 4 * sizeof(int32_t));
    return pageShow != nullptr ? &pageShow->drawn.column : nullptr;
}

// The 80x50 cells of the screen buffer (4 bytes each, row after row), for a page
// that draws the console look itself, and a count that moves when they change.
EMSCRIPTEN_KEEPALIVE const uint8_t* vornak_web_cells() {
    return pageShow != nullptr ? pageShow->console.cells().pixels() : nullptr;
}
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_cells_version() {
    return pageShow != nullptr ? pageShow->console.cellsVersion() : 0;
}

// The console font (256 glyphs of 12 rows of 8 pixels, the high bit leftmost) and
// its 16 colours (red, green, blue bytes).
EMSCRIPTEN_KEEPALIVE const uint8_t* vornak_web_font() {
    return CONSOLE_FONT;
}
EMSCRIPTEN_KEEPALIVE const uint8_t* vornak_web_palette() {
    static_assert(sizeof(CONSOLE_PALETTE) == 16 * 3);
    return &CONSOLE_PALETTE[0].r;
}

// The demo time of the frame shown, ms.
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_demo_time() {
    if (Player<Demo>* player = livePlayer()) return player->shownTime();
    return vornakDemo.demoTime();
}

// The player, for the page's controls: a seek to a demo time (the grid time at
// or before it, within the show; answers it), the volume in percent (10% steps,
// unmuting), and what they are now.
EMSCRIPTEN_KEEPALIVE int vornak_web_seek(double time) {
    Player<Demo>* player = livePlayer();
    if (player == nullptr) return -1;
    // Not a number or below the start: the start.
    player->seekTo(time >= 0 ? uint32_t(std::min<double>(time, SHOW_LENGTH_MS)) : 0, pageNow());
    return int(player->shownTime());
}
EMSCRIPTEN_KEEPALIVE void vornak_web_set_volume(int percent) {
    Player<Demo>* player = livePlayer();
    if (player == nullptr) return;
    const uint32_t now = pageNow();
    if (player->muted()) player->handleKey('M', now);
    const int target = std::clamp(percent + VOLUME_STEP / 2, 0, 100) / VOLUME_STEP * VOLUME_STEP;
    while (player->volume() < target) player->handleKey('0', now);
    while (player->volume() > target) player->handleKey('9', now);
}
EMSCRIPTEN_KEEPALIVE int vornak_web_paused() {
    Player<Demo>* player = livePlayer();
    return player != nullptr && player->paused() ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE int vornak_web_volume() {
    Player<Demo>* player = livePlayer();
    return player != nullptr ? player->volume() : 100;
}
EMSCRIPTEN_KEEPALIVE int vornak_web_muted() {
    Player<Demo>* player = livePlayer();
    return player != nullptr && player->muted() ? 1 : 0;
}

// The timeline: its length and its scenes' showings (starts and names), in order.
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_length() {
    return SHOW_LENGTH_MS;
}
EMSCRIPTEN_KEEPALIVE int vornak_web_scene_count() {
    return SHOW_SHOWING_COUNT;
}
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_scene_start(int index) {
    return index >= 0 && index < SHOW_SHOWING_COUNT ? SHOW_SHOWINGS[index].start : 0;
}
EMSCRIPTEN_KEEPALIVE const char* vornak_web_scene_name(int index) {
    return index >= 0 && index < SHOW_SHOWING_COUNT ? SHOW_SHOWINGS[index].name : "";
}

// The status line the show shows under the picture ("" while hidden).
EMSCRIPTEN_KEEPALIVE const char* vornak_web_status() {
    return pageShow != nullptr ? pageShow->console.statusLine().c_str() : "";
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
