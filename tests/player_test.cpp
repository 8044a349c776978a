#include "program/player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless_console.h"
#include "program/offline_frames.h"
#include "program/offline_run.h"

namespace {

uint64_t frameHash(const Surface& cells, const Surface& render) {
    const uint64_t hash = hashBytes(cells.pixels(), size_t(cells.pitch()) * 50);
    return hashBytes(render.pixels(), size_t(render.pitch()) * 100, hash);
}

// The hash of the offline runs' frame of every grid time (the last one of 0).
const std::vector<uint64_t>& gridHashes() {
    static const std::vector<uint64_t> hashes = [] {
        std::vector<uint64_t> result;
        OfflineFrames<Demo> frames(vornakDemo);
        if (!frames.start()) return result;
        while (const OfflineFrame* frame = frames.next()) {
            result.resize(frame->demoTime / FRAME_MS + 1);
            result[frame->demoTime / FRAME_MS] = frameHash(*frame->cells, *frame->render);
        }
        return result;
    }();
    return hashes;
}

// The live show under a player, muted, on a headless console.
struct PlayerRun {
    HeadlessConsole console;
    MutedDemo<Demo> demo{vornakDemo};
    FrameLoop<MutedDemo<Demo>> loop{console, demo};
    std::unique_ptr<Player<MutedDemo<Demo>>> player;

    PlayerRun() {
        if (loop.start()) player = std::make_unique<Player<MutedDemo<Demo>>>(console, loop, demo);
    }
    ~PlayerRun() {
        player.reset();
        loop.finish();
    }
    // Whether the frame shown is the offline runs' frame of the time shown.
    bool showsGridFrame() const {
        const uint32_t t = player->shownTime();
        return t % FRAME_MS == 0 && t / FRAME_MS < gridHashes().size() &&
               frameHash(loop.cells(), *vornakDemo.colorSurface()) == gridHashes()[t / FRAME_MS];
    }
};

}  // namespace

TEST(Player, SceneMarksAndStatusLine) {
    // Scene marks, on the first grid time of each showing: back goes to the
    // current start past the threshold, else the one before.
    const uint32_t marks[][3] = {// position, previous, next
                                 {0, 0, 38400},
                                 {38388 + 4980, 0, 58880},
                                 {38388 + 5000, 38400, 58880},
                                 {150000, 140760, 161300},
                                 {172000, 161300, SHOW_LENGTH_MS}};
    for (const auto& m : marks) {
        EXPECT_EQ(previousShowingStart(m[0]), m[1]) << m[0];
        EXPECT_EQ(nextShowingStart(m[0]), m[2]) << m[0];
    }
    char text[STATUS_LINE_CAPACITY + 1];
    size_t length = formatStatusLine({83460, true, false, 80}, text);
    EXPECT_EQ(std::string(text, length), "1:23.46 / 2:53.00  4/7 cube stream  paused  volume 80%");
    length = formatStatusLine({150000, false, true, 0}, text);
    EXPECT_EQ(std::string(text, length), "2:30.00 / 2:53.00  3/7 metaball columns  muted");
}

// Every frame the player stops on is the offline runs' frame of that time: jumps
// into each showing and just after each boundary, back and forth in the replay,
// a pause in a live run, and a long paused step sequence.
TEST(Player, StopsOnTheGridRunsFrames) {
    ASSERT_EQ(gridHashes().size(), SHOW_LENGTH_MS / FRAME_MS + 2);
    PlayerRun run;
    ASSERT_TRUE(run.player);
    Player<MutedDemo<Demo>>& player = *run.player;

    std::vector<uint32_t> jumps = {0,      20,     172980, 173000, 125000, 122820, 122840,
                                   130460, 121000, 138220, 127940, 135620, 60000};
    for (const Showing& showing : SHOW_SHOWINGS)
        for (uint32_t after : {0u, 20u, 2000u})
            jumps.push_back(gridTimeAtOrBefore(showing.start) + after);
    uint32_t now = 0;
    for (uint32_t t : jumps) {
        player.seekTo(t, now += 7);
        EXPECT_EQ(player.shownTime(), t);
        EXPECT_TRUE(run.showsGridFrame()) << "jump to " << t;
    }

    // Playing off the grid, then a pause: the grid frame at or before the moment.
    player.begin(0, 1000);
    for (uint32_t tick = 1000; tick < 1000 + 41000; tick += 23) player.frame(tick);
    player.togglePause(1000 + 41013);
    EXPECT_TRUE(player.paused());
    EXPECT_EQ(player.shownTime(), gridTimeAtOrBefore(41013));
    EXPECT_TRUE(run.showsGridFrame()) << "pause";

    // Steps ahead over a snapshot and a scene boundary, and back.
    player.seekTo(58000, now);
    for (int i = 0; i < 260; ++i) {
        player.step(1, now);
        ASSERT_TRUE(run.showsGridFrame()) << player.shownTime();
    }
    for (int i = 0; i < 60; ++i) {
        player.step(-1, now);
        ASSERT_TRUE(run.showsGridFrame()) << player.shownTime();
    }
    EXPECT_EQ(player.shownTime(), 58000u + 200 * FRAME_MS);

    // Page Down from the start shows each showing's first frame in turn, then the end.
    player.seekTo(0, now);
    for (int showing = 1; showing <= SHOW_SHOWING_COUNT; ++showing) {
        player.handleKey(CONSOLE_VK_PAGE_DOWN, now);
        if (showing < SHOW_SHOWING_COUNT) {
            EXPECT_EQ(showingAt(player.shownTime()), showing);
        }
        EXPECT_TRUE(run.showsGridFrame()) << player.shownTime();
    }
    EXPECT_EQ(player.shownTime(), SHOW_LENGTH_MS);
}

// A seek while playing goes on from the moment its frame was ready: the time
// spent reaching it is not skipped.
TEST(Player, PlaysOnFromTheSeeksFrameNotFromTheKey) {
    struct SetClock : Clock {
        uint32_t ticks = 0;
        uint32_t tickCount() override { return ticks; }
        void sleep(uint32_t) override {}
    } clock;
    PlayerRun run;
    ASSERT_TRUE(run.player);
    Player<MutedDemo<Demo>> player(run.console, run.loop, run.demo, &clock);
    player.begin(0, 0);
    clock.ticks = 5300;  // the seek's frame is ready 300 ms after the key
    player.seekTo(100000, 5000);
    player.frame(5320);
    EXPECT_EQ(player.shownTime(), 100020u);
}

// Snapshots kept while playing leave the live show drawing what it would have,
// and are the grid run's states.
TEST(Player, KeepingSnapshotsWhilePlayingChangesNoFrame) {
    struct CountingClock : Clock {
        uint32_t ticks = 0;
        uint32_t tickCount() override { return ticks++; }  // one tick per look: ~30 frames a call
        void sleep(uint32_t) override {}
    } clock;
    ASSERT_EQ(gridHashes().size(), SHOW_LENGTH_MS / FRAME_MS + 2);  // before any live run
    const auto play = [&](bool keepAside) {
        std::vector<uint64_t> hashes;
        PlayerRun run;
        if (!run.player) return hashes;
        run.player->begin(0, 0);
        for (uint32_t tick = 0; tick < 40000; tick += 23) {
            run.player->frame(tick);
            hashes.push_back(frameHash(run.loop.cells(), *vornakDemo.colorSurface()));
            if (keepAside) run.player->keepSnapshots(clock, clock.ticks + 30);
        }
        if (keepAside) {
            EXPECT_FALSE(run.player->keepSnapshots(clock, clock.ticks)) << "all kept";
            // The snapshots so kept bring seeks to the grid run's frames.
            for (uint32_t t : {172980u, 125000u, 90020u, 41000u}) {
                run.player->seekTo(t, 0);
                EXPECT_TRUE(run.showsGridFrame()) << "jump to " << t;
            }
        }
        return hashes;
    };
    const std::vector<uint64_t> plain = play(false);
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(play(true), plain);
}
