// The player: the live show under a viewer's control. Pause, seeks, scene
// jumps, frame steps, mute and volume and a status line, from the keys every
// console reports as virtual-key codes.
//
// Positions are demo times. Whatever the player stops on (a pause, a seek, a
// frame step) lies on the 20 ms grid of the offline runs, and the picture there
// is the one those runs draw: the show's state is brought to the grid run's
// state at that moment from kept snapshots, running the frames in between
// silently (rendered, never converted or shown). While playing, frames follow
// the clock, or the music as heard while it plays.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "program/frame_loop.h"
#include "scenekit/state_record.h"
#include "show/demo.h"
#include "show/timeline.h"

// The last position the player stops on; the grid run's next frame ends the show.
constexpr uint32_t SHOW_LENGTH_MS = DEMO_END_MS;
// Grid frames between two kept snapshots of the show's state.
constexpr uint32_t SNAPSHOT_FRAMES = 150;
constexpr int VOLUME_STEP = 10;
// Going back to the previous scene from further into the current one than this
// goes to the start of the current one (as media players do with chapters).
constexpr uint32_t SCENE_BACK_THRESHOLD_MS = 5000;
// The status line's longest text.
constexpr size_t STATUS_LINE_CAPACITY = 80;

enum class PlayerAction : uint8_t {
    None,
    TogglePause,
    Seek,  // by `amount` ms
    PreviousScene,
    NextScene,
    Home,
    Step,  // by `amount` grid frames (pauses first)
    Mute,
    Volume,  // by `amount` percent
    ToggleStatus,
    Quit,
};

struct PlayerKey {
    PlayerAction action = PlayerAction::None;
    int32_t amount = 0;
};

// What a key-down of virtual-key code `key` asks for; None for any other key.
PlayerKey playerKeyFor(uint16_t key);

// The grid time at or before demo time t.
inline uint32_t gridTimeAtOrBefore(uint32_t t) {
    return t - t % FRAME_MS;
}
// The grid time at or after demo time t: the first frame of a scene that
// starts between two grid times.
inline uint32_t gridTimeAtOrAfter(uint32_t t) {
    return gridTimeAtOrBefore(t + FRAME_MS - 1);
}

// Grid frames of the offline runs by index: demo times 0, 0, 20, 40, ...
inline uint32_t gridTimeOfFrame(uint32_t index) {
    return index == 0 ? 0 : (index - 1) * FRAME_MS;
}
// The last grid frame that shows grid time t.
inline uint32_t gridFrameOf(uint32_t t) {
    return t / FRAME_MS + 1;
}

// Where Page Up and Page Down go from position t: the first grid time of the
// showing before (or of the current one, past the threshold), or of the next
// one (the end of the show after the last).
uint32_t previousShowingStart(uint32_t t);
uint32_t nextShowingStart(uint32_t t);

struct PlayerStatus {
    uint32_t position = 0;
    bool paused = false;
    bool muted = false;
    int volume = 100;
};

// The status line: "1:23.46 / 2:53.00  3/7 metaball field  paused  volume 80%".
// Writes at most STATUS_LINE_CAPACITY bytes of ASCII text; returns how many.
size_t formatStatusLine(const PlayerStatus& status, char* text);

// The status text as one row of 80 console cells, over the picture's last row:
// white on blue, blank to the end of the row.
void statusRowCells(const char* text, size_t length, uint8_t cells[CONSOLE_COLUMNS * 4]);

// The player over a FrameLoop that has started. DemoT is a FrameLoop demo type
// with keepState(StateRecord&) and, for the music, seekMusic(ms),
// pauseMusic(bool), setMusicVolume(percent) and heardMusicMs() (-1 when no
// music is heard); a demo without them plays as the clock says.
template <class DemoT>
class Player {
  public:
    // With a `clock`, playing goes on after a seek from the moment its frame was
    // ready rather than from the key's moment: the time spent bringing the show
    // there is not skipped.
    Player(Console& console, FrameLoop<DemoT>& loop, DemoT& demo, Clock* clock = nullptr)
        : console_(console), loop_(loop), demo_(demo), clock_(clock) {
        snapshots_.reserve(gridFrameOf(SHOW_LENGTH_MS) / SNAPSHOT_FRAMES + 2);
        saveSnapshot();  // the state before the first frame
        stateFrame_ = 0;
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Keeps more snapshots of the show's state, so that later seeks are quick: one
    // grid frame at a time, silently, until `clock` reaches `untilTick` (at least
    // one frame), at any time (in the start-up wait, playing or paused). The live
    // state is put aside in a record and brought back, so the show goes on
    // exactly as it would have; the keeping run's own state waits in another
    // record for the next call. False once all are kept.
    bool keepSnapshots(Clock& clock, uint32_t untilTick) {
        if (allKept()) return false;
        if constexpr (requires { demo_.keepState(aside_); }) {
            const uint32_t liveFrame = stateFrame_;
            aside_.startSaving();
            demo_.keepState(aside_);
            const auto last = uint32_t(snapshots_.size() - 1);
            if (keepingFrame_ > last * SNAPSHOT_FRAMES) {
                keeping_.startRestoring();
                demo_.keepState(keeping_);
                stateFrame_ = keepingFrame_;
            } else {
                restoreSnapshot(last);
            }
            do {
                runSilently(std::min(stateFrame_ + 1, gridFrameOf(SHOW_LENGTH_MS)));
            } while (!allKept() && int32_t(clock.tickCount() - untilTick) < 0);
            if (!allKept()) {
                keeping_.startSaving();
                demo_.keepState(keeping_);
                keepingFrame_ = stateFrame_;
            }
            aside_.startRestoring();
            demo_.keepState(aside_);
            stateFrame_ = liveFrame;
        }
        return !allKept();
    }

    // Begins to play at grid time `start` at clock reading `now`: from the
    // show's first state at 0, as a run without the player does, otherwise
    // from the grid run's frame there, shown at once.
    void begin(uint32_t start, uint32_t now) {
        paused_ = false;
        if (start == 0) {
            restoreSnapshot(0);
            anchor(0, now);
            seekMusic(0);
            shownTime_ = 0;
            return;
        }
        showGridTime(gridTimeAtOrBefore(std::min(start, SHOW_LENGTH_MS)));
        anchor(shownTime_, tickAfterWork(now));
        seekMusic(shownTime_);
    }

    // The frame of clock reading `now` while playing; while paused, the frame
    // shown is written again (a console that skipped it for a busy terminal
    // sends it now; an unchanged one costs next to nothing). Answers 0 once the
    // show has passed its end.
    uint8_t frame(uint32_t now) {
        if (paused_) {
            showAgain();
            return 1;
        }
        uint32_t t = playingPosition(now);
        if (t < shownTime_) t = shownTime_;  // never backwards while playing
        stateFrame_ = NOT_ON_GRID;
        shownTime_ = t;
        const uint8_t running = loop_.frame(t);
        writeStatus();
        return running;
    }

    // Reacts to a key-down; false for a key that ends the show.
    bool handleKey(uint16_t key, uint32_t now) {
        const PlayerKey pressed = playerKeyFor(key);
        switch (pressed.action) {
            case PlayerAction::None:
                break;
            case PlayerAction::Quit:
                return false;
            case PlayerAction::TogglePause:
                togglePause(now);
                break;
            case PlayerAction::Seek:
                seekTo(clampedPosition(int64_t(position(now)) + pressed.amount), now);
                break;
            case PlayerAction::PreviousScene:
                seekTo(previousShowingStart(position(now)), now);
                break;
            case PlayerAction::NextScene:
                seekTo(nextShowingStart(position(now)), now);
                break;
            case PlayerAction::Home:
                seekTo(0, now);
                break;
            case PlayerAction::Step:
                step(pressed.amount, now);
                break;
            case PlayerAction::Mute:
                muted_ = !muted_;
                applyVolume();
                break;
            case PlayerAction::Volume:
                volume_ = std::clamp(volume_ + pressed.amount, 0, 100);
                applyVolume();
                break;
            case PlayerAction::ToggleStatus:
                statusShown_ = !statusShown_;
                if (!statusShown_ && console_.hasStatusRow()) console_.writeStatusLine("", 0);
                statusDirty_ = true;
                break;
        }
        if (paused_ && statusDirty_) showAgain();
        return true;
    }

    // Goes to grid time at or before `t` (within the show) and shows its frame;
    // playing goes on from there, a pause stays.
    void seekTo(uint32_t t, uint32_t now) {
        showGridTime(gridTimeAtOrBefore(std::min(t, SHOW_LENGTH_MS)));
        anchor(shownTime_, tickAfterWork(now));
        if (!paused_) seekMusic(shownTime_);
    }

    // Pauses on the grid frame at or before the moment, or plays on from it.
    void togglePause(uint32_t now) {
        if (paused_) {
            paused_ = false;
            anchor(shownTime_, now);
            seekMusic(shownTime_);
            pauseMusic(false);
            statusDirty_ = true;
            return;
        }
        pauseAt(now);
    }

    // Pauses (if playing) and moves `frames` grid frames ahead or back.
    void step(int frames, uint32_t now) {
        if (!paused_) pauseAt(now);
        const int64_t target = int64_t(shownTime_) + int64_t(frames) * FRAME_MS;
        showGridTime(gridTimeAtOrBefore(clampedPosition(target)));
        anchor(shownTime_, now);
    }

    // The demo time shown or being reached at clock reading `now`.
    uint32_t position(uint32_t now) const {
        return paused_ ? shownTime_ : std::max(shownTime_, clockPosition(now));
    }
    // The demo time of the last frame shown.
    uint32_t shownTime() const { return shownTime_; }
    bool paused() const { return paused_; }
    bool muted() const { return muted_; }
    int volume() const { return volume_; }
    bool statusShown() const { return statusShown_; }
    // Snapshots kept so far and the bytes they hold.
    size_t snapshotCount() const { return snapshots_.size(); }
    size_t snapshotBytes() const {
        size_t bytes = 0;
        for (const StateRecord& snapshot : snapshots_) bytes += snapshot.size();
        return bytes;
    }

  private:
    static constexpr uint32_t NOT_ON_GRID = UINT32_MAX;

    bool allKept() const {
        return uint32_t(snapshots_.size()) * SNAPSHOT_FRAMES > gridFrameOf(SHOW_LENGTH_MS);
    }

    static uint32_t clampedPosition(int64_t t) {
        return uint32_t(std::clamp<int64_t>(t, 0, SHOW_LENGTH_MS));
    }

    void anchor(uint32_t position, uint32_t now) {
        anchorPosition_ = position;
        anchorTick_ = now;
    }
    uint32_t tickAfterWork(uint32_t now) const {
        return clock_ != nullptr ? clock_->tickCount() : now;
    }
    uint32_t clockPosition(uint32_t now) const { return anchorPosition_ + (now - anchorTick_); }

    // The position while playing: the music as heard while there is music,
    // otherwise the clock since the last anchor.
    uint32_t playingPosition(uint32_t now) {
        if constexpr (requires { demo_.heardMusicMs(); }) {
            const int64_t heard = demo_.heardMusicMs();
            if (heard >= 0) {
                anchor(uint32_t(heard), now);
                return uint32_t(heard);
            }
        }
        return clockPosition(now);
    }

    void pauseAt(uint32_t now) {
        const uint32_t moment = gridTimeAtOrBefore(std::min(position(now), SHOW_LENGTH_MS));
        paused_ = true;
        pauseMusic(true);
        showGridTime(moment);
        anchor(shownTime_, now);
    }

    // Brings the show to the grid run's state for grid time t and shows that frame.
    void showGridTime(uint32_t t) {
        const uint32_t target = gridFrameOf(t);
        if (stateFrame_ == NOT_ON_GRID || stateFrame_ > target ||
            target - stateFrame_ > SNAPSHOT_FRAMES) {
            const uint32_t kept =
                std::min<uint32_t>(target / SNAPSHOT_FRAMES, uint32_t(snapshots_.size() - 1));
            restoreSnapshot(kept);
        }
        runSilently(target);
        loop_.frame(gridTimeOfFrame(target));
        stateFrame_ = target + 1;
        shownTime_ = t;
        statusDirty_ = true;
        writeStatus();
    }

    // Renders grid frames from the current state up to (not including) frame
    // `end`, keeping a snapshot at each multiple of SNAPSHOT_FRAMES not yet kept.
    void runSilently(uint32_t end) {
        while (true) {
            if (stateFrame_ % SNAPSHOT_FRAMES == 0 &&
                stateFrame_ / SNAPSHOT_FRAMES == snapshots_.size())
                saveSnapshot();
            if (stateFrame_ >= end) return;
            demo_.update(gridTimeOfFrame(stateFrame_));
            ++stateFrame_;
        }
    }

    void saveSnapshot() {
        const size_t previousSize = snapshots_.empty() ? 0 : snapshots_.back().size();
        snapshots_.emplace_back();
        StateRecord& record = snapshots_.back();
        record.reserve(previousSize);
        record.startSaving();
        if constexpr (requires { demo_.keepState(record); }) demo_.keepState(record);
    }
    void restoreSnapshot(uint32_t index) {
        StateRecord& record = snapshots_[index];
        record.startRestoring();
        if constexpr (requires { demo_.keepState(record); }) demo_.keepState(record);
        stateFrame_ = index * SNAPSHOT_FRAMES;
    }

    void seekMusic(uint32_t t) {
        if constexpr (requires { demo_.seekMusic(t); }) demo_.seekMusic(t);
    }
    void pauseMusic(bool paused) {
        if constexpr (requires { demo_.pauseMusic(paused); }) demo_.pauseMusic(paused);
    }
    void applyVolume() {
        if constexpr (requires { demo_.setMusicVolume(0); })
            demo_.setMusicVolume(muted_ ? 0 : volume_);
        statusDirty_ = true;
    }

    // The status line where the console shows it, or over the last row of the
    // next frame written.
    void writeStatus() {
        if (!statusShown_) {
            loop_.setOverlayRow(nullptr);
            statusDirty_ = false;
            return;
        }
        const PlayerStatus status{shownTime_, paused_, muted_, volume_};
        const size_t length = formatStatusLine(status, statusText_);
        if (console_.hasStatusRow()) {
            console_.writeStatusLine(statusText_, uint32_t(length));
            loop_.setOverlayRow(nullptr);
        } else {
            statusRowCells(statusText_, length, statusRow_);
            loop_.setOverlayRow(statusRow_);
        }
        statusDirty_ = false;
    }

    // Writes the last frame again with the status line as it is now.
    void showAgain() {
        writeStatus();
        loop_.writeAgain();
    }

    Console& console_;
    FrameLoop<DemoT>& loop_;
    DemoT& demo_;
    Clock* clock_;
    std::vector<StateRecord> snapshots_;
    // For keepSnapshots: the live state while it runs, and its own run's state
    // (at grid frame keepingFrame_) between calls.
    StateRecord aside_;
    StateRecord keeping_;
    uint32_t keepingFrame_ = 0;
    // The grid frame the show's state is ready to render, or NOT_ON_GRID after
    // a frame off the grid.
    uint32_t stateFrame_ = 0;
    uint32_t shownTime_ = 0;
    uint32_t anchorPosition_ = 0;
    uint32_t anchorTick_ = 0;
    bool paused_ = false;
    bool muted_ = false;
    int volume_ = 100;
    bool statusShown_ = false;
    bool statusDirty_ = false;
    char statusText_[STATUS_LINE_CAPACITY + 1] = {};
    uint8_t statusRow_[CONSOLE_COLUMNS * 4] = {};
};

// How the live show starts and ends.
struct PlayOptions {
    uint32_t start = 0;  // demo time to begin at (ms, on the grid)
    bool loop = false;   // start again after the end
};

// Hands every key-down waiting on `console` to the player; false once one of
// them ends the show.
template <class DemoT>
bool handlePlayerInput(Console& console, Player<DemoT>& player, uint32_t now) {
    bool going = true;
    for (uint32_t n = console.pendingInputEvents(); n > 0; --n) {
        ConsoleInputEvent event;
        if (!console.readInputEvent(event)) continue;
        if (event.eventType != CONSOLE_KEY_EVENT || event.keyDown != 1) continue;
        if (going && !player.handleKey(event.virtualKeyCode, now)) going = false;
    }
    return going;
}

// The live show under the viewer's control: start-up as runShow, the snapshots
// kept during the three-second wait, then one frame every 20 ms until the end
// (or again from the start with `loop`) or a key that ends it. Returns 0, or -1
// when start-up failed.
template <class DemoT>
int runPlayer(Console& console, Clock& clock, DemoT& demo, const PlayOptions& options) {
    FrameLoop<DemoT> loop(console, demo);
    if (!loop.start()) return -1;

    uint32_t lastTick = clock.tickCount();
    loop.announceStart();
    {
        Player<DemoT> player(console, loop, demo, &clock);
        const uint32_t waitStart = clock.tickCount();
        // Snapshots are kept while the wait lasts, the rest while the show plays
        // or as its seeks pass them: a slow machine (or a sanitizer build) never
        // starts late.
        bool keeping = player.keepSnapshots(clock, waitStart + START_DELAY_MS);
        const uint32_t spent = clock.tickCount() - waitStart;
        if (spent < START_DELAY_MS) clock.sleep(START_DELAY_MS - spent);
        loop.startMusic();
        player.begin(options.start, clock.tickCount());

        uint8_t running = 1;
        do {
            const uint32_t frameStart = clock.tickCount();
            running = player.frame(frameStart);
            // Snapshots the wait could not keep are kept in half of each slot.
            if (keeping) keeping = player.keepSnapshots(clock, frameStart + FRAME_MS / 2);
            lastTick = paceFrame(clock, lastTick);
            if (!handlePlayerInput(console, player, clock.tickCount())) break;
            if (running == 0 && options.loop) {
                player.begin(0, clock.tickCount());
                running = 1;
            }
        } while (running == 1);
    }
    loop.finish();
    return 0;
}
