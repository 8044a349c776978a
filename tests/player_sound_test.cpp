#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless_console.h"
#include "platform/ogg_decoder.h"
#include "platform/sound.h"
#include "platform/sound_stream.h"
#include "program/player.h"

namespace {

const std::string MUSIC = std::string(VORNAK_BINARY_DIR) + "/vornak.ogg";

std::vector<int16_t> readFrames(OggMusicSource& source, size_t frames) {
    std::vector<int16_t> pcm(2 * frames);
    pcm.resize(2 * source.read(pcm.data(), frames));
    return pcm;
}

// A sound output that plays nothing and records what it is asked for; the
// music "heard" is whatever the test sets.
class CapturingSound final : public SoundSystem {
  public:
    int init(int, int, unsigned) override { return 1; }
    SoundStream* openStream(const char*) override { return &stream_; }
    int play(SoundStream*) override {
        calls.push_back("play");
        return 1;
    }
    void stop(SoundStream*) override { calls.push_back("stop"); }
    void close(SoundStream*) override {}
    void shutdown() override {}
    const char* problem() const override { return ""; }
    void seek(SoundStream*, uint64_t frame) override {
        calls.push_back("seek " + std::to_string(frame));
    }
    void setPaused(SoundStream*, bool paused) override {
        calls.push_back(paused ? "pause" : "resume");
    }
    void setVolume(int percent) override { calls.push_back("volume " + std::to_string(percent)); }
    int64_t heardFrame(const SoundStream*) const override { return heard; }

    std::vector<std::string> calls;
    int64_t heard = -1;

  private:
    SoundStream stream_;
};

}  // namespace

// After a seek the stream gives the very frames a decode from the start gives
// there; past the end, none.
TEST(MusicSeek, StartsAtTheSampleAskedFor) {
    OggMusicSource whole;
    std::string problem;
    ASSERT_TRUE(whole.open(MUSIC.c_str(), problem)) << problem;
    const uint64_t length = whole.lengthFrames();
    const std::vector<int16_t> all = readFrames(whole, length + 1);
    ASSERT_EQ(all.size() / 2, length);

    SoundStream stream;
    ASSERT_TRUE(stream.open(MUSIC.c_str(), problem)) << problem;
    for (const uint64_t frame : {uint64_t{3969000}, uint64_t{1}, uint64_t{0}, uint64_t{5296870},
                                 length - 100, uint64_t{44100} * 60 * 2 + 7, length + 5}) {
        stream.prepareToPlay(frame);
        std::vector<int16_t> got(2 * 4096);
        got.resize(2 * stream.take(got.data(), 4096));
        const size_t from = size_t(std::min(frame, length));
        const size_t expected = std::min<size_t>(4096, length - from);
        ASSERT_EQ(got.size(), 2 * expected) << frame;
        EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + long(2 * from))) << frame;
        EXPECT_EQ(stream.startFrame(), frame);
    }
}

// The player asks the output for the music at the sample of every position it
// goes to, pauses and resumes it, sets its loudness, and follows it as heard.
TEST(MusicSeek, PlayerKeepsTheMusicInStep) {
    CapturingSound sound;
    Demo& demo = vornakDemo;
    demo.attachSound(&sound);
    HeadlessConsole console;
    FrameLoop<Demo> loop(console, demo);
    ASSERT_TRUE(loop.start());
    {
        Player<Demo> player(console, loop, demo);
        loop.startMusic();
        player.begin(90000, 0);  // 90 s x 44100
        sound.heard = 44100 * 95;
        player.frame(20);
        EXPECT_EQ(player.shownTime(), 95000u);  // the picture follows the music heard
        sound.heard = -1;                       // none heard: the clock goes on from there
        player.frame(520);
        EXPECT_EQ(player.shownTime(), 95500u);
        player.handleKey(CONSOLE_VK_SPACE, 530);  // paused at 95.51 s: the frame of 95.50 s
        player.handleKey('9', 540);
        player.handleKey('M', 550);
        player.handleKey(CONSOLE_VK_RIGHT, 560);  // while paused, only the picture moves
        player.handleKey('P', 4000);
        player.handleKey('M', 4010);
        player.handleKey(CONSOLE_VK_PAGE_UP, 4020);  // the cube stream's first grid frame
    }
    loop.finish();
    demo.attachSound(nullptr);
    const std::vector<std::string> expected = {
        "play",         "seek 3969000", "pause",     "volume 90",    "volume 0",
        "seek 4432050", "resume",       "volume 90", "seek 3499776", "stop"};
    EXPECT_EQ(sound.calls, expected);
}
