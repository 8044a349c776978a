// The sound backends: music files good and bad, the silent fallback and its
// timekeeping, and the calls the Demo makes in every order it can make them.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/sdl_sound.h"
#include "platform/silent_sound.h"
#include "sound_test_files.h"

namespace {

using namespace sound_test;

const std::string& goodFile() {
    static const std::string path = writeTone("good.ogg", 2.0, 2, 44100);
    return path;
}

const std::string& longFile() {
    static const std::string path = writeTone("long.ogg", 20.0, 2, 44100);
    return path;
}

// Every backend answers the same to every kind of bad file.
class SoundSystems : public testing::Test {
  protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
    void TearDown() override {
        sdl.shutdown();
        silent.shutdown();
        unsetenv("SDL_AUDIODRIVER");
    }
    SdlSoundSystem sdl;
    SilentSoundSystem silent;

    void expectRefused(const std::string& path, const char* cause) {
        for (SoundSystem* system :
             {static_cast<SoundSystem*>(&sdl), static_cast<SoundSystem*>(&silent)}) {
            ASSERT_EQ(system->init(44100, 32, 0), 1);
            EXPECT_EQ(system->openStream(path.c_str()), nullptr) << path;
            EXPECT_NE(std::string(system->problem()).find(cause), std::string::npos)
                << system->problem();
            EXPECT_NE(std::string(system->problem()).find(path), std::string::npos)
                << "the cause names the file: " << system->problem();
        }
    }
};

TEST_F(SoundSystems, MissingFileIsRefusedNamingFileAndDirectory) {
    expectRefused(testDir() + "/no-such-file.ogg", "No such file");
    // A relative name is reported with the directory it was looked for in.
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    EXPECT_EQ(sdl.openStream("no-such-vornak.ogg"), nullptr);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_NE(std::string(sdl.problem()).find(cwd), std::string::npos) << sdl.problem();
}

TEST_F(SoundSystems, EmptyNotVorbisAndGarbageFilesAreRefused) {
    expectRefused(writeBytes("empty.ogg", {}), "is empty");
    const std::string text = "this is not music\n";
    expectRefused(writeBytes("text.ogg", {text.begin(), text.end()}), "not an Ogg Vorbis file");
    std::vector<char> noise(20000);
    uint32_t state = 12345;
    for (char& b : noise) b = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
    expectRefused(writeBytes("noise.ogg", noise), "not an Ogg Vorbis file");
}

// Cut anywhere inside its headers (or before its first sound), a file is
// refused; the failed opens leave nothing allocated behind (LeakSanitizer
// checks this in the sanitizer build: libvorbisfile 1.3.7 leaks the header
// state of a failed ov_open_callbacks, so such files never reach it).
TEST_F(SoundSystems, FileCutInsideItsHeadersIsRefused) {
    const std::vector<char> whole = readAll(goodFile());
    const std::vector<size_t> pages = pageStarts(whole);
    ASSERT_GE(pages.size(), 3u);
    ASSERT_GT(whole.size(), 6000u);
    for (size_t cut = 1; cut < pages[2] + 40; cut += cut < 64 ? 7 : 331) {
        SCOPED_TRACE(cut);
        expectRefused(writeCut("cut-header.ogg", goodFile(), cut), "Music file");
    }
}

// A file cut short plays what it has in both backends, and the start-up says
// so in one line of its own, beside the line about the output.
TEST_F(SoundSystems, TruncatedFilePlaysWhatRemainsAndSaysWhereItStops) {
    const std::vector<char> whole = readAll(longFile());
    const std::string path = writeCut("truncated.ogg", longFile(), whole.size() / 2);
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    SoundStream* stream = sdl.openStream(path.c_str());
    ASSERT_NE(stream, nullptr) << sdl.problem();
    EXPECT_GT(stream->lengthFrames(), 0u);
    EXPECT_LT(stream->lengthFrames(), size_t{20 * 44100});
    const std::string cutLine = "Music file \"" + path + "\" is cut short: the music stops at " +
                                formatMinutesSeconds(stream->lengthFrames() / 44100);
    EXPECT_EQ(std::string(sdl.problem()),
              "The audio driver \"dummy\" is chosen; the show plays silently\n" + cutLine);
    EXPECT_EQ(sdl.play(stream), 1);
    sdl.close(stream);

    ASSERT_EQ(silent.init(44100, 32, 0), 1);
    EXPECT_NE(silent.openStream(path.c_str()), nullptr) << silent.problem();
    EXPECT_EQ(std::string(silent.problem()), cutLine);
}

// Without a device and without a usable file: the file's cause comes first,
// right under the failure line, and the device's line stays its own.
TEST_F(SoundSystems, EveryProblemKeepsItsOwnLineAndTheFileComesFirstWhenItFails) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    const std::string deviceLine = sdl.problem();
    ASSERT_EQ(deviceLine.find("No usable audio device"), 0u);
    const std::string missing = testDir() + "/missing.ogg";
    EXPECT_EQ(sdl.openStream(missing.c_str()), nullptr);
    const std::string lines = sdl.problem();
    EXPECT_EQ(lines.find("Cannot open music file \"" + missing + "\""), 0u) << lines;
    EXPECT_EQ(lines.substr(lines.find('\n') + 1), deviceLine);
    // A whole file, however long, adds nothing.
    ASSERT_NE(sdl.openStream(longFile().c_str()), nullptr);
    EXPECT_EQ(std::string(sdl.problem()), deviceLine);
}

TEST_F(SoundSystems, CorruptedMiddleNeverCrashes) {
    std::vector<char> bytes = readAll(goodFile());
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 3000 && i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131);
    const std::string path = writeBytes("corrupt.ogg", bytes);
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    // Either refused with a cause, or a stream of at most the original length.
    if (SoundStream* stream = sdl.openStream(path.c_str())) {
        EXPECT_LE(stream->lengthFrames(), size_t{2 * 44100 + 4096});
        EXPECT_EQ(sdl.play(stream), 1);
        sdl.close(stream);
    } else {
        EXPECT_STRNE(sdl.problem(), "");
    }
}

TEST_F(SoundSystems, GoodFileOpensInBothBackends) {
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    SoundStream* stream = sdl.openStream(goodFile().c_str());
    ASSERT_NE(stream, nullptr) << sdl.problem();
    EXPECT_NEAR(static_cast<double>(stream->lengthFrames()), 88200, 2);

    ASSERT_EQ(silent.init(44100, 32, 0), 1);
    SoundStream* quiet = silent.openStream(goodFile().c_str());
    ASSERT_NE(quiet, nullptr) << silent.problem();
    EXPECT_EQ(quiet->lengthFrames(), stream->lengthFrames());
    int16_t frame[2];
    EXPECT_EQ(quiet->take(frame, 1), 0u);  // the silent backend decodes nothing
    EXPECT_EQ(silent.play(quiet), 1);
    silent.stop(quiet);
    silent.close(quiet);
}

TEST_F(SoundSystems, CallsOutOfOrderAreHarmless) {
    // Before init, with null or foreign streams, twice in a row.
    EXPECT_EQ(sdl.play(nullptr), 0);
    sdl.stop(nullptr);
    sdl.close(nullptr);
    sdl.shutdown();
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    EXPECT_EQ(sdl.init(44100, 32, 0), 1);
    SoundStream foreign;
    EXPECT_EQ(sdl.play(&foreign), 0);
    SoundStream* stream = sdl.openStream(goodFile().c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(sdl.play(stream), 1);
    EXPECT_EQ(sdl.play(stream), 1);  // again from the start
    sdl.stop(stream);
    sdl.stop(stream);
    sdl.shutdown();  // frees the stream that was never closed
    sdl.shutdown();
    EXPECT_EQ(sdl.framesConsumed(), 0u);
    // And it starts again after a shut down.
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    EXPECT_NE(sdl.openStream(goodFile().c_str()), nullptr);
}

// Without a device the output still takes frames at the real rate, so the
// silent show keeps time; music starts at once from its first frame.
TEST_F(SoundSystems, SilentOutputConsumesFramesAtRealRate) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    EXPECT_TRUE(sdl.outputIsSilent());
    EXPECT_NE(std::string(sdl.problem()).find("plays silently"), std::string::npos);
    SoundStream* stream = sdl.openStream(goodFile().c_str());
    ASSERT_NE(stream, nullptr);
    const auto start = std::chrono::steady_clock::now();
    const uint64_t before = sdl.framesConsumed();
    ASSERT_EQ(sdl.play(stream), 1);
    // Wide bounds: a loaded machine may starve the output's thread for a while,
    // and the faults to catch are no consumption or consumption without pacing.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double expected = seconds * 44100;
    const double consumed = static_cast<double>(sdl.framesConsumed() - before);
    const double music = static_cast<double>(sdl.musicFramesPlayed());
    EXPECT_GT(consumed, expected * 0.5);
    EXPECT_LT(consumed, expected * 1.5 + 1000);
    EXPECT_GT(music, expected * 0.5);
    EXPECT_LE(music, consumed + 1);
    // Starts with the next 10 ms chunk, not after a buffer's worth; the figure
    // itself is measured by the benchmark, not held to a time here.
    EXPECT_GE(sdl.startLatencyMicros(), 0);
    EXPECT_LT(sdl.startLatencyMicros(), 250000);
    std::printf("start latency %.1f ms; %.0f of %.0f frames in %.0f ms\n",
                sdl.startLatencyMicros() / 1000.0, consumed, expected, seconds * 1000);

    // Stopped music stays stopped.
    sdl.stop(stream);
    const uint64_t atStop = sdl.musicFramesPlayed();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(sdl.musicFramesPlayed(), atStop);
}

TEST_F(SoundSystems, ChosenDummyDriverPlaysSilentlyAndSaysSo) {
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    EXPECT_TRUE(sdl.outputIsSilent());
    EXPECT_NE(std::string(sdl.problem()).find("\"dummy\""), std::string::npos) << sdl.problem();
    SoundStream* stream = sdl.openStream(goodFile().c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(sdl.play(stream), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GT(sdl.musicFramesPlayed(), 0u);
}

TEST_F(SoundSystems, UnusableDriverFallsBackToSilenceWithOneLineOfCause) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    ASSERT_EQ(sdl.init(44100, 32, 0), 1);
    EXPECT_TRUE(sdl.outputIsSilent());
    const std::string problem = sdl.problem();
    EXPECT_EQ(problem.find("No usable audio device"), 0u) << problem;
    EXPECT_NE(problem.find("plays silently"), std::string::npos);
    EXPECT_EQ(problem.find('\n'), std::string::npos);
    SoundStream* stream = sdl.openStream(goodFile().c_str());
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(sdl.play(stream), 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_GT(sdl.musicFramesPlayed(), 0u);
    // A good open does not clear the cause of the silence.
    EXPECT_EQ(std::string(sdl.problem()), problem);
}

}  // namespace
