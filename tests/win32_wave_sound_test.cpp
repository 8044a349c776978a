// The waveOut sound backend: bad files refused with the decoder's cause, music
// handed to the device from its first sample to its last, and a silent show with
// one line of cause where there is no device. The test run gives Wine either a
// null ALSA device or none; the tests that need the other case skip.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "platform/win32_wave_sound.h"
#include "tools/soundtrack/ogg_writer.h"

namespace {

// One directory per test process, removed at exit.
struct TestDirectory {
    std::filesystem::path path = std::filesystem::path(VORNAK_BINARY_DIR) / "wave_test_files" /
                                 std::to_string(GetCurrentProcessId());
    TestDirectory() { std::filesystem::create_directories(path); }
    ~TestDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

std::filesystem::path testDirectory() {
    static const TestDirectory directory;
    return directory.path;
}

std::string writeTone(const std::string& name, double seconds, int channels, int rate) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = static_cast<int16_t>(
                9000 * std::sin(2 * std::numbers::pi * 440 * static_cast<double>(i) / rate));
    const std::string path = (testDirectory() / name).string();
    std::string problem;
    EXPECT_TRUE(writeOggVorbis(path.c_str(), pcm.data(), frames, channels, rate, 0.3f, problem))
        << problem;
    return path;
}

bool haveDevice() {
    return waveOutGetNumDevs() > 0;
}

class WaveOutTest : public testing::Test {
  protected:
    void TearDown() override { sound_.shutdown(); }
    WaveOutSoundSystem sound_;
};

TEST_F(WaveOutTest, MissingOrDamagedFilesAreRefusedNamingTheFile) {
    ASSERT_EQ(sound_.init(44100, 32, 0), 1);
    const std::string missing = (testDirectory() / "no-such-file.ogg").string();
    EXPECT_EQ(sound_.openStream(missing.c_str()), nullptr);
    EXPECT_NE(std::string(sound_.problem()).find("Cannot open music file"), std::string::npos)
        << sound_.problem();
    EXPECT_NE(std::string(sound_.problem()).find("no-such-file.ogg"), std::string::npos);

    const std::string garbage = (testDirectory() / "garbage.ogg").string();
    std::ofstream(garbage, std::ios::binary) << std::string(5000, 'x');
    EXPECT_EQ(sound_.openStream(garbage.c_str()), nullptr);
    EXPECT_NE(std::string(sound_.problem()).find("is not an Ogg Vorbis file"), std::string::npos)
        << sound_.problem();
}

TEST_F(WaveOutTest, CallsOutOfOrderAreHarmless) {
    SoundStream unknown;
    EXPECT_EQ(sound_.play(nullptr), 0);
    EXPECT_EQ(sound_.play(&unknown), 0);
    sound_.stop(&unknown);
    sound_.close(nullptr);
    sound_.shutdown();
    ASSERT_EQ(sound_.init(44100, 32, 0), 1);
    ASSERT_EQ(sound_.init(44100, 32, 0), 1);
    SoundStream* stream = sound_.openStream(writeTone("order.ogg", 0.3, 2, 44100).c_str());
    ASSERT_NE(stream, nullptr) << sound_.problem();
    sound_.stop(stream);  // before play
    EXPECT_EQ(sound_.play(stream), 1);
    EXPECT_EQ(sound_.play(stream), 1);  // again: from the start
    sound_.close(stream);
    EXPECT_EQ(sound_.play(stream), 0);  // closed
    sound_.shutdown();
    sound_.shutdown();
}

// Every frame of the music reaches the device, once, in order; the null device
// takes them faster than real time. Mono music and other rates are played as
// 44.1 kHz stereo.
TEST_F(WaveOutTest, DevicePlaysEveryFrameFromTheFirst) {
    if (!haveDevice()) GTEST_SKIP() << "no waveOut device here";
    ASSERT_EQ(sound_.init(44100, 32, 0), 1);
    EXPECT_FALSE(sound_.outputIsSilent());
    for (const auto& [channels, rate] : {std::pair{2, 44100}, std::pair{1, 22050}}) {
        const std::string name = "tone" + std::to_string(channels) + ".ogg";
        SoundStream* stream = sound_.openStream(writeTone(name, 1.0, channels, rate).c_str());
        ASSERT_NE(stream, nullptr) << sound_.problem();
        EXPECT_STREQ(sound_.problem(), "");
        EXPECT_EQ(stream->fileRate(), rate);
        const uint64_t length = stream->lengthFrames();
        EXPECT_EQ(length, 44100u);
        ASSERT_EQ(sound_.play(stream), 1);
        for (int wait = 0; wait < 600 && !stream->finished(); ++wait) Sleep(50);
        Sleep(100);
        // The resampler may end a few frames either side of the exact length.
        EXPECT_NEAR(double(sound_.musicFramesPlayed()), double(length), 64.0);
        sound_.stop(stream);
        sound_.close(stream);
    }
}

TEST_F(WaveOutTest, StopEndsTheMusicAtOnce) {
    if (!haveDevice()) GTEST_SKIP() << "no waveOut device here";
    ASSERT_EQ(sound_.init(44100, 32, 0), 1);
    SoundStream* stream = sound_.openStream(writeTone("long.ogg", 8.0, 2, 44100).c_str());
    ASSERT_NE(stream, nullptr) << sound_.problem();
    ASSERT_EQ(sound_.play(stream), 1);
    EXPECT_GT(sound_.musicFramesPlayed(), 0u) << "the first buffers go out with play";
    sound_.stop(stream);
    const uint64_t atStop = sound_.musicFramesPlayed();
    Sleep(200);
    EXPECT_EQ(sound_.musicFramesPlayed(), atStop);
}

TEST_F(WaveOutTest, WithoutADeviceTheShowIsSilentAndSaysSoInOneLine) {
    if (haveDevice()) GTEST_SKIP() << "a waveOut device is here";
    ASSERT_EQ(sound_.init(44100, 32, 0), 1);
    EXPECT_TRUE(sound_.outputIsSilent());
    const std::string problem = sound_.problem();
    EXPECT_NE(problem.find("plays silently"), std::string::npos) << problem;
    EXPECT_EQ(problem.find('\n'), std::string::npos);
    // The music is still checked, and plays as silence.
    SoundStream* stream = sound_.openStream(writeTone("silent.ogg", 0.5, 2, 44100).c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->lengthFrames(), 22050u);
    EXPECT_EQ(sound_.play(stream), 1);
    EXPECT_EQ(sound_.musicFramesPlayed(), 0u);
    EXPECT_EQ(sound_.openStream("no-such-vornak.ogg"), nullptr);
}

}  // namespace
