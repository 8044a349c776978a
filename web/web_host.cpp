// The show in a web page. The page owns the timing: it calls these entry points
// from its timers, and they drive the program layer's FrameLoop exactly as
// runShow does on a terminal (start-up, the three-second wait, one frame per
// 20 ms slot, Escape, shutdown), with the page as console, clock and sound output.
// The clock is the position in the music being heard, so picture and sound stay
// together; the player's keys pause, seek and set the volume of both. The page
// can also run the show on a virtual clock (tests), and the whole-show digest of
// the offline run.
#include <emscripten.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
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
#include "scenes/metaball_field_scene.h"
#include "show/demo.h"
#include "web/web_console.h"

// The page's side (web/show.js, Module.vornakHost).
// clang-format off
EM_JS(double, pageTickCount, (), { return Module.vornakHost.now() >>> 0; });
EM_JS(void, pagePlayMusic, (int audible), { Module.vornakHost.playMusic(audible); });
EM_JS(void, pageStopMusic, (), { Module.vornakHost.stopMusic(); });
// The music heard from `position` ms on (held there when not `playing`); the
// page's clock reads `tick` at that position from now on.
EM_JS(void, pageMusicAt, (double position, double tick, int playing), {
    Module.vornakHost.musicAt(position, tick, playing);
});
EM_JS(void, pageMusicVolume, (double gain), { Module.vornakHost.musicVolume(gain); });
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
    // The page's clock follows the music from here on, heard or not.
    int play(SoundStream* stream) override {
        if (stream == nullptr) return 0;
        pagePlayMusic(musicReady_ ? 1 : 0);
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

// The show's scenes in the order the timeline shows them (the metaball scene
// twice), for the page's timeline and the scene keys.
struct TimelineScene {
    DemoSceneSlot slot;
    uint8_t showing;
    const char* name;
};
constexpr std::array<TimelineScene, 8> TIMELINE = {{
    {SLOT_CROSSES, 1, "Crosses of light"},
    {SLOT_SPHERE, 1, "Sphere"},
    {SLOT_METABALLS, 1, "Metaball field"},
    {SLOT_CUBES, 1, "Cube stream"},
    {SLOT_GLOW, 1, "Glow trails"},
    {SLOT_REPLAY, 1, "Replay"},
    {SLOT_METABALLS, 2, "Metaball columns"},
    {SLOT_NOISE_TEXT, 1, "Noise and text"},
}};

// Where a showing begins. Asking the metaball scene for its second showing
// switches it over, so that one start is taken from its constant.
uint32_t sceneStart(size_t index) {
    const TimelineScene& scene = TIMELINE[index];
    if (scene.showing == 2) return METABALL_SECOND_START;
    Scene* object = vornakDemo.scene(scene.slot);
    return object != nullptr ? object->startTime(1) : 0;
}

// The scene shown at demo time `time`.
size_t sceneAt(uint32_t time) {
    size_t index = 0;
    while (index + 1 < TIMELINE.size() && sceneStart(index + 1) <= time) ++index;
    return index;
}

constexpr uint32_t SEEK_SHORT_MS = 5000;
constexpr uint32_t SEEK_LONG_MS = 60000;
// Page Up further into a scene than this goes to its start, otherwise to the
// start of the scene before (as media players do with chapters).
constexpr uint32_t SCENE_BACK_GRACE_MS = 5000;
constexpr int VOLUME_STEPS = 10;

// The grid time at or before `time` (ms, may be negative), within the timeline.
uint32_t gridTime(int64_t time) {
    const int64_t within = std::clamp<int64_t>(time, 0, DEMO_END_MS);
    return uint32_t(within) / FRAME_MS * FRAME_MS;
}

// The grid time at or after `time`.
uint32_t firstGridTime(uint32_t time) {
    return (time + FRAME_MS - 1) / FRAME_MS * FRAME_MS;
}

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
    uint32_t lastFrameTick = 0;
    uint32_t framesRun = 0;
    bool started = false;
    uint8_t running = 1;
    bool finished = false;
    std::vector<uint8_t> pixels;
    WebConsole::CellRect drawn;

    // The player: the clock reading of demo time 0, the paused grid time, the
    // volume in tenths and the status line.
    uint32_t tickOfZero = 0;
    bool paused = false;
    uint32_t pausedAt = 0;
    int volume = VOLUME_STEPS;
    bool muted = false;
    bool statusShown = false;
    std::array<char, 80> status{};  // as last written, "" while hidden
};

// One show per page: the Demo and the scenes' shared state live for the process.
PageShow* pageShow = nullptr;

// The show has been begun and went through its start-up.
bool showStarted() {
    return pageShow != nullptr && pageShow->started;
}

// The show has shown its first frame and not ended: the player's controls work.
bool showPlaying() {
    return showStarted() && pageShow->framesRun > 0 && !pageShow->finished;
}

// Where the show is: the paused grid time, or the moment the clock has reached.
int64_t position(PageShow& show) {
    if (show.paused) return show.pausedAt;
    return int64_t(show.clock->tickCount() - show.tickOfZero);
}

// Brings the show to grid time `time` (clamped to the timeline) and shows its
// frame; the music goes on from there, or waits there while paused.
uint32_t seekTo(PageShow& show, int64_t time) {
    const uint32_t target = gridTime(time);
    const uint32_t tick = show.tickOfZero + target;
    show.running = show.loop.frame(tick);
    show.lastFrameTick = tick;
    show.lastTick = tick;
    show.pausedAt = target;
    pageMusicAt(target, tick, show.paused ? 0 : 1);
    return target;
}

void setPaused(PageShow& show, bool paused) {
    if (paused == show.paused) return;
    if (paused) {
        // The frame of the grid time at or before the moment of the key.
        const int64_t at = position(show);
        show.paused = true;
        seekTo(show, at);
        return;
    }
    show.paused = false;
    pageMusicAt(show.pausedAt, show.tickOfZero + show.pausedAt, 1);
    show.lastTick = show.tickOfZero + show.pausedAt;
}

void applyVolume(const PageShow& show) {
    pageMusicVolume(show.muted ? 0.0 : double(show.volume) / VOLUME_STEPS);
}

// The start of the scene before (`direction` -1) or after (+1) the position,
// taken to the first grid time of the scene.
int64_t sceneSeekTarget(PageShow& show, int direction) {
    const int64_t at = position(show);
    const size_t current = sceneAt(uint32_t(std::max<int64_t>(at, 0)));
    if (direction > 0) {
        return current + 1 < TIMELINE.size() ? firstGridTime(sceneStart(current + 1)) : DEMO_END_MS;
    }
    if (at - sceneStart(current) >= SCENE_BACK_GRACE_MS || current == 0) {
        return firstGridTime(sceneStart(current));
    }
    return firstGridTime(sceneStart(current - 1));
}

// Writes the status line when it is shown and has changed (no allocation: it is
// looked at every frame).
void updateStatus(PageShow& show) {
    std::array<char, sizeof(PageShow::status)> line{};
    if (show.statusShown) {
        const uint32_t at =
            std::min(show.paused ? show.pausedAt : vornakDemo.demoTime(), DEMO_END_MS);
        char volume[16];
        std::snprintf(volume, sizeof volume, "volume %d%%", show.volume * 10);
        std::snprintf(line.data(), line.size(), "%u:%02u / %u:%02u  %s%s  %s", at / 60000,
                      at / 1000 % 60, DEMO_END_MS / 60000, DEMO_END_MS / 1000 % 60,
                      TIMELINE[sceneAt(at)].name, show.paused ? "  paused" : "",
                      show.muted ? "muted" : volume);
    }
    if (line == show.status) return;
    show.status = line;
    show.console.writeStatusLine(line.data(), uint32_t(std::strlen(line.data())));
}

// Acts on the keys that came since the last step. True when the show is to end;
// `seeked` tells that a frame was shown for a new position.
bool handleKeys(PageShow& show, bool& seeked) {
    bool end = false;
    for (uint32_t n = show.console.pendingInputEvents(); n > 0; --n) {
        ConsoleInputEvent event;
        if (!show.console.readInputEvent(event)) continue;
        if (event.eventType != CONSOLE_KEY_EVENT || event.keyDown != 1) continue;
        const auto seekBy = [&](int64_t by) {
            seekTo(show, position(show) + by);
            seeked = true;
        };
        switch (event.virtualKeyCode) {
            case CONSOLE_VK_ESCAPE:
            case 'Q':
                end = true;
                break;
            case CONSOLE_VK_SPACE:
            case CONSOLE_VK_POINTER:
            case 'P':
                setPaused(show, !show.paused);
                seeked = true;
                break;
            case CONSOLE_VK_LEFT:
                seekBy(-int64_t(SEEK_SHORT_MS));
                break;
            case CONSOLE_VK_RIGHT:
                seekBy(SEEK_SHORT_MS);
                break;
            case CONSOLE_VK_DOWN:
                seekBy(-int64_t(SEEK_LONG_MS));
                break;
            case CONSOLE_VK_UP:
                seekBy(SEEK_LONG_MS);
                break;
            case CONSOLE_VK_PAGE_UP:
                seekBy(sceneSeekTarget(show, -1) - position(show));
                break;
            case CONSOLE_VK_PAGE_DOWN:
                seekBy(sceneSeekTarget(show, 1) - position(show));
                break;
            case CONSOLE_VK_HOME:
                seekBy(-position(show));
                break;
            case CONSOLE_VK_PERIOD:
                if (show.paused) seekBy(FRAME_MS);
                break;
            case CONSOLE_VK_COMMA:
                if (show.paused) seekBy(-int64_t(FRAME_MS));
                break;
            case 'M':
                show.muted = !show.muted;
                applyVolume(show);
                break;
            case '9':
            case '0':
                show.volume = std::clamp(show.volume + (event.virtualKeyCode == '0' ? 1 : -1), 0,
                                         VOLUME_STEPS);
                show.muted = false;
                applyVolume(show);
                break;
            case 'I':
                show.statusShown = !show.statusShown;
                break;
            default:
                break;  // other keys do nothing
        }
    }
    return end;
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

// One step of the loop: after the first frame the keys of the last wait are
// acted on (Escape or Q ends the show) and the end of the timeline is seen;
// before the first frame the music starts. Then, unless paused or a key just
// showed a new position, the frame of this moment is rendered and written to
// the console. Answers how many ms to wait before the next step, or -1 when the
// show has ended and been shut down (music off), or was never started.
EMSCRIPTEN_KEEPALIVE int vornak_web_frame() {
    if (!showStarted()) return -1;
    PageShow& show = *pageShow;
    if (show.finished) return -1;
    bool seeked = false;
    if (show.framesRun > 0) {
        if (handleKeys(show, seeked)) show.running = 0;
        if (show.running != 1) {
            show.loop.finish();
            show.finished = true;
            return -1;
        }
    } else {
        show.loop.startMusic();
    }
    const uint32_t now = show.clock->tickCount();
    if (show.framesRun == 0) show.tickOfZero = now;
    // Live, a moment already shown is not drawn again (the clock stands while the
    // music it follows has not yet been heard). The virtual clock's runs draw
    // every frame, as the offline runs do.
    const bool shownAlready =
        show.framesRun > 0 && now == show.lastFrameTick && show.clock == &show.pageTicks;
    if (!show.paused && !seeked && !shownAlready) {
        show.running = show.loop.frame(now);
        show.lastFrameTick = now;
        ++show.framesRun;
    }
    updateStatus(show);
    if (show.paused || seeked) {
        show.lastTick = now;
        return int(FRAME_MS);
    }
    const FrameSlot slot = nextFrameSlot(show.clock->tickCount(), show.lastTick);
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
    if (pageShow != nullptr && pageShow->paused) return pageShow->pausedAt;
    return vornakDemo.demoTime();
}

// The player, for the page's controls: seek to a demo time (the grid time at or
// before it, within the timeline; answers it), pause or resume, the volume in
// percent (10% steps), mute, and what they are now.
EMSCRIPTEN_KEEPALIVE int vornak_web_seek(double time) {
    if (!showPlaying()) return -1;
    // Not a number or below the start: the start.
    const double within = time >= 0 ? std::min<double>(time, DEMO_END_MS) : 0.0;
    return int(seekTo(*pageShow, int64_t(within)));
}
EMSCRIPTEN_KEEPALIVE void vornak_web_pause(int paused) {
    if (showPlaying()) setPaused(*pageShow, paused != 0);
}
EMSCRIPTEN_KEEPALIVE int vornak_web_paused() {
    return pageShow != nullptr && pageShow->paused ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE void vornak_web_set_volume(int percent) {
    if (pageShow == nullptr) return;
    pageShow->volume = std::clamp((percent + 5) / 10, 0, VOLUME_STEPS);
    pageShow->muted = false;
    applyVolume(*pageShow);
}
EMSCRIPTEN_KEEPALIVE int vornak_web_volume() {
    return pageShow != nullptr ? pageShow->volume * 10 : 100;
}
EMSCRIPTEN_KEEPALIVE int vornak_web_muted() {
    return pageShow != nullptr && pageShow->muted ? 1 : 0;
}

// The timeline: its length and its scenes' starts and names, in showing order.
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_length() {
    return DEMO_END_MS;
}
EMSCRIPTEN_KEEPALIVE int vornak_web_scene_count() {
    return int(TIMELINE.size());
}
EMSCRIPTEN_KEEPALIVE uint32_t vornak_web_scene_start(int index) {
    return index >= 0 && size_t(index) < TIMELINE.size() ? sceneStart(size_t(index)) : 0;
}
EMSCRIPTEN_KEEPALIVE const char* vornak_web_scene_name(int index) {
    return index >= 0 && size_t(index) < TIMELINE.size() ? TIMELINE[size_t(index)].name : "";
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
