#include "show/demo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sound.h"
#include "scenes/replay_scene.h"

namespace {

// Records every call the Demo makes to the sound layer.
class RecordingSound : public SoundSystem {
  public:
    int init(int mixRate, int channels, unsigned flags) override {
        calls.push_back("init " + std::to_string(mixRate) + " " + std::to_string(channels) + " " +
                        std::to_string(flags));
        return initResult;
    }
    SoundStream* openStream(const char* fileName) override {
        calls.push_back(std::string("open ") + fileName);
        return openSucceeds ? reinterpret_cast<SoundStream*>(&calls) : nullptr;
    }
    int play(SoundStream*) override {
        calls.push_back("play");
        return 1;
    }
    void stop(SoundStream*) override { calls.push_back("stop"); }
    void close(SoundStream*) override { calls.push_back("close"); }
    void shutdown() override { calls.push_back("shutdown"); }
    const char* problem() const override { return openSucceeds ? note : "no such file"; }

    std::vector<std::string> calls;
    const char* note = "";
    int initResult = 1;
    bool openSucceeds = true;
};

struct SceneCall {
    int slot;
    char kind;  // 'i' init, 's' startTime, 'r' render
    uint32_t value;
};

std::vector<SceneCall> sceneLog;
std::vector<int> createdSlots;
int failingSlot = -1;

constexpr uint32_t FIRST_START[DEMO_SCENE_COUNT] = {79354, 38388, 161297, 0, 58880, 99834, 120314};
constexpr uint32_t SECOND_START[DEMO_SCENE_COUNT] = {79354,  38388, 161297, 0,
                                                     140747, 99834, 120314};

class RecordingScene : public Scene {
  public:
    explicit RecordingScene(int slot) : slot_(slot) {}
    int init() override {
        sceneLog.push_back({slot_, 'i', 0});
        return slot_ == failingSlot ? 1 : 0;
    }
    uint32_t startTime(uint8_t which) override {
        sceneLog.push_back({slot_, 's', which});
        return which == 2 ? SECOND_START[slot_] : FIRST_START[slot_];
    }
    uint8_t render(uint32_t localTime) override {
        sceneLog.push_back({slot_, 'r', localTime});
        return 0;
    }
    void reserved() override {}

  private:
    int slot_;
};

template <int SLOT>
Scene* makeRecordingScene(const SceneSet&) {
    createdSlots.push_back(SLOT);
    return new RecordingScene(SLOT);
}

const std::array<SceneFactory, DEMO_SCENE_COUNT> RECORDING_SCENES = {
    makeRecordingScene<0>, makeRecordingScene<1>, makeRecordingScene<2>, makeRecordingScene<3>,
    makeRecordingScene<4>, makeRecordingScene<5>, makeRecordingScene<6>,
};

Scene* makeReplay(const SceneSet& scenes) {
    return new ReplayScene(scenes);
}

const std::array<SceneFactory, DEMO_SCENE_COUNT> RECORDING_SCENES_WITH_REPLAY = {
    makeRecordingScene<0>,
    makeRecordingScene<1>,
    makeRecordingScene<2>,
    makeRecordingScene<3>,
    makeRecordingScene<4>,
    makeRecordingScene<5>,
    makeReplay,
};

struct DemoTimeline : testing::Test {
    void SetUp() override {
        sceneLog.clear();
        createdSlots.clear();
        failingSlot = -1;
        demo.attachSound(&sound);
        demo.setSceneFactories(RECORDING_SCENES);
    }

    // Starts the show at tick 1000 and returns after the first frame.
    void start() {
        demo.setSoundEnabled(0);
        ASSERT_EQ(demo.init({160, 100}), 0);
        demo.update(1000);
        sceneLog.clear();
    }

    // The last render call: (slot, local time).
    std::pair<int, uint32_t> renderAt(uint32_t demoTime, uint8_t* result = nullptr) {
        sceneLog.clear();
        const uint8_t r = demo.update(1000 + demoTime);
        if (result) *result = r;
        for (auto it = sceneLog.rbegin(); it != sceneLog.rend(); ++it)
            if (it->kind == 'r') return {it->slot, it->value};
        return {-1, 0};
    }

    bool askedForSecondShowing() const {
        for (const SceneCall& call : sceneLog)
            if (call.slot == SLOT_METABALLS && call.kind == 's' && call.value == 2) return true;
        return false;
    }

    RecordingSound sound;
    Demo demo;
};

}  // namespace

TEST_F(DemoTimeline, FirstUpdateIsTheShowsFirstMoment) {
    start();
    EXPECT_EQ(demo.demoTime(), 0u);
    EXPECT_EQ(renderAt(0), std::make_pair(int(SLOT_CROSSES), 0u));
    EXPECT_EQ(renderAt(20), std::make_pair(int(SLOT_CROSSES), 20u));
}

TEST_F(DemoTimeline, SceneBoundariesAndLocalTimes) {
    start();
    const struct {
        uint32_t t;
        int slot;
        uint32_t local;
    } cases[] = {
        {38387, SLOT_CROSSES, 38387}, {38388, SLOT_SPHERE, 0},         {58879, SLOT_SPHERE, 20491},
        {58880, SLOT_METABALLS, 0},   {79354, SLOT_CUBES, 0},          {99834, SLOT_GLOW, 0},
        {120313, SLOT_GLOW, 20479},   {120314, SLOT_REPLAY, 0},        {140746, SLOT_REPLAY, 20432},
        {140747, SLOT_METABALLS, 0},  {161296, SLOT_METABALLS, 20549}, {161297, SLOT_NOISE_TEXT, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(renderAt(c.t), std::make_pair(c.slot, c.local)) << "t = " << c.t;
}

TEST_F(DemoTimeline, SecondShowingIsRequestedEveryFrameFromTheReplayOn) {
    start();
    renderAt(120313);
    EXPECT_FALSE(askedForSecondShowing());
    renderAt(120314);
    EXPECT_TRUE(askedForSecondShowing());
    renderAt(150000);
    EXPECT_TRUE(askedForSecondShowing());
    renderAt(170000);
    EXPECT_TRUE(askedForSecondShowing());
}

TEST_F(DemoTimeline, LastFrameIsRenderedAndEndsTheShow) {
    start();
    uint8_t result = 9;
    EXPECT_EQ(renderAt(173000, &result), std::make_pair(int(SLOT_NOISE_TEXT), 11703u));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(renderAt(173001, &result), std::make_pair(int(SLOT_NOISE_TEXT), 11704u));
    EXPECT_EQ(result, 0);
}

TEST_F(DemoTimeline, TickWrapAroundKeepsDemoTime) {
    demo.setSoundEnabled(0);
    ASSERT_EQ(demo.init({160, 100}), 0);
    demo.update(0xFFFFFFF0u);
    sceneLog.clear();
    demo.update(0x10u);
    EXPECT_EQ(demo.demoTime(), 0x20u);
}

TEST_F(DemoTimeline, ScenesAreCreatedInOrderAndAFailureStopsTheRest) {
    failingSlot = SLOT_CROSSES;
    demo.setSoundEnabled(0);
    EXPECT_EQ(demo.init({160, 100}), DEMO_ERR_SCENE);
    EXPECT_EQ(createdSlots, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_FALSE(demo.initialised());
    EXPECT_EQ(demo.colorSurface(), nullptr);
}

// The failing scene is the cause given; the sound layer's note keeps a line of
// its own after it and is never shown as the cause.
TEST_F(DemoTimeline, FailedSceneIsTheCauseAndTheSoundNoteKeepsItsOwnLine) {
    failingSlot = SLOT_CROSSES;
    demo.setSoundEnabled(1);
    sound.note = "No usable audio device (none); the show plays silently";
    EXPECT_EQ(demo.init({160, 100}), DEMO_ERR_SCENE);
    EXPECT_STREQ(demo.problem(),
                 "Scene 4 of 7 could not be set up\n"
                 "No usable audio device (none); the show plays silently");
    failingSlot = -1;
    ASSERT_EQ(demo.init({160, 100}), 0);
    EXPECT_STREQ(demo.problem(), "No usable audio device (none); the show plays silently");
}

TEST_F(DemoTimeline, SoundCallsFollowTheLifecycle) {
    demo.setSoundEnabled(1);
    ASSERT_EQ(demo.init({160, 100}), 0);
    EXPECT_EQ(sound.calls, (std::vector<std::string>{"init 44100 32 0", "open vornak.ogg"}));
    demo.startMusic();
    demo.update(0);
    demo.update(20);
    EXPECT_EQ(sound.calls.back(), "play");
    EXPECT_EQ(sound.calls.size(), 3u);
    demo.setSoundEnabled(0);  // ignored once initialised
    demo.shutdown();
    EXPECT_EQ(sound.calls, (std::vector<std::string>{"init 44100 32 0", "open vornak.ogg", "play",
                                                     "stop", "close", "shutdown"}));
    demo.shutdown();  // a second shutdown does nothing
    EXPECT_EQ(sound.calls.size(), 6u);
}

TEST_F(DemoTimeline, DisabledSoundMakesNoCallAtAll) {
    demo.setSoundEnabled(0);
    ASSERT_EQ(demo.init({160, 100}), 0);
    demo.update(0);
    demo.shutdown();
    EXPECT_TRUE(sound.calls.empty());
}

TEST_F(DemoTimeline, SoundFailuresGiveTheirCodes) {
    demo.setSoundEnabled(1);
    sound.initResult = 0;
    EXPECT_EQ(demo.init({160, 100}), DEMO_ERR_SOUND_INIT);
    EXPECT_TRUE(createdSlots.empty());
    sound.initResult = 1;
    sound.openSucceeds = false;
    EXPECT_EQ(demo.init({160, 100}), DEMO_ERR_STREAM);
    EXPECT_STREQ(demo.problem(), "no such file");
    EXPECT_TRUE(createdSlots.empty());
}

TEST_F(DemoTimeline, ColorSurfaceHasTheRenderSizeWhileInitialised) {
    EXPECT_EQ(demo.colorSurface(), nullptr);
    demo.setSoundEnabled(0);
    ASSERT_EQ(demo.init({160, 100}), 0);
    ASSERT_NE(demo.colorSurface(), nullptr);
    EXPECT_EQ(demo.colorSurface()->width(), 160);
    EXPECT_EQ(demo.colorSurface()->height(), 100);
    EXPECT_EQ(demo.colorSurface()->bytesPerPixel(), 4);
    demo.shutdown();
    EXPECT_EQ(demo.colorSurface(), nullptr);
}

TEST_F(DemoTimeline, ReplayCutsBetweenThreeScenesWithTheReplayOffset) {
    demo.setSceneFactories(RECORDING_SCENES_WITH_REPLAY);
    start();
    const struct {
        uint32_t local;
        int slot;
    } cases[] = {
        {0, SLOT_CROSSES},     {2524, SLOT_CROSSES}, {2525, SLOT_SPHERE},  {5056, SLOT_CUBES},
        {7627, SLOT_CROSSES},  {10158, SLOT_SPHERE}, {12771, SLOT_CUBES},  {15296, SLOT_CROSSES},
        {17901, SLOT_CROSSES}, {17902, SLOT_SPHERE}, {20432, SLOT_SPHERE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(renderAt(120314 + c.local), std::make_pair(c.slot, 1000000 + c.local))
            << "local " << c.local;
    }
    auto* replay = static_cast<ReplayScene*>(demo.scene(SLOT_REPLAY));
    EXPECT_EQ(replay->phase, 7);
}
