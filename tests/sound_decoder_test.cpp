// The streaming decoder: conversion to 44.1 kHz stereo, files cut short or
// damaged, lengths read from the last page, and the ring that the decoding
// thread fills.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ogg_decoder.h"
#include "platform/sound_stream.h"
#include "sound_test_files.h"

namespace {

using namespace sound_test;

const std::string& longTone() {
    static const std::string path = writeTone("decoder-long.ogg", 20.0, 2, 44100);
    return path;
}

// Zero crossings per second of the left channel over the middle half.
double crossingsPerSecond(const std::vector<int16_t>& stereo) {
    const size_t frames = stereo.size() / 2;
    int crossings = 0;
    for (size_t i = frames / 4 + 1; i < 3 * frames / 4; ++i)
        if ((stereo[2 * i - 2] < 0) != (stereo[2 * i] < 0)) ++crossings;
    return crossings / (double(frames / 2) / 44100);
}

// Largest difference of the left channel over the middle half from the
// file's sine of `hertz` (amplitude 9000, phase 0 at the first frame).
double deviationFromTone(const std::vector<int16_t>& stereo, double hertz) {
    double worst = 0;
    for (size_t i = stereo.size() / 8; i < 3 * stereo.size() / 8; ++i) {
        const double wanted = 9000 * std::sin(2 * std::numbers::pi * hertz * double(i) / 44100);
        worst = std::max(worst, std::abs(stereo[2 * i] - wanted));
    }
    return worst;
}

double peakOfMiddle(const std::vector<int16_t>& stereo) {
    int peak = 0;
    for (size_t i = stereo.size() / 4; i < 3 * stereo.size() / 4; ++i)
        peak = std::max(peak, std::abs(int{stereo[i]}));
    return peak;
}

// Every accepted rate and channel count comes out as 44.1 kHz stereo: the
// length, pitch and level of the music stay what they were.
TEST(MusicDecoder, EveryRateComesOutAs44100StereoWithItsPitchLengthAndLevel) {
    const struct {
        int rate, channels;
    } formats[] = {{8000, 1},  {22050, 1}, {44100, 1}, {44100, 2},
                   {48000, 2}, {96000, 2}, {192000, 2}};
    for (const auto& f : formats) {
        SCOPED_TRACE(std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) + " channels");
        const std::string path =
            writeTone("rate" + std::to_string(f.rate) + "-" + std::to_string(f.channels) + ".ogg",
                      2.0, f.channels, f.rate);
        OggMusicSource source;
        std::string problem;
        ASSERT_TRUE(source.open(path.c_str(), problem)) << problem;
        EXPECT_EQ(source.notice(), "");
        EXPECT_EQ(source.fileRate(), f.rate);
        EXPECT_NEAR(double(source.lengthFrames()), 2 * 44100, 2);
        const std::vector<int16_t> pcm = readWhole(source);
        EXPECT_EQ(pcm.size() / 2, size_t{2 * 44100});
        EXPECT_NEAR(crossingsPerSecond(pcm), 880, 4);
        EXPECT_NEAR(peakOfMiddle(pcm), 9000, 900);
        // In time: frame n is the file's sound at n / 44100 s.
        EXPECT_LT(deviationFromTone(pcm, 440), 400);
        for (size_t i = 0; i < pcm.size(); i += 2) ASSERT_EQ(pcm[i], pcm[i + 1]) << i;
        // And the same again after a rewind.
        ASSERT_TRUE(source.rewind());
        EXPECT_EQ(readWhole(source), pcm);
    }
}

// Sound above 22.05 kHz in a file of a higher rate is filtered out, not folded
// back into the audible band (at this quality the encoder keeps these tones).
TEST(MusicDecoder, ToneAboveTheOutputsNyquistFrequencyIsFilteredOut) {
    for (const auto& [rate, hertz] : {std::pair{48000, 22500.0}, std::pair{96000, 23000.0}}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz");
        const std::string path =
            writeTone("ultrasonic" + std::to_string(rate) + ".ogg", 1.0, 2, rate, hertz, 1.0f);
        OggMusicSource source;
        std::string problem;
        ASSERT_TRUE(source.open(path.c_str(), problem)) << problem;
        const std::vector<int16_t> pcm = readWhole(source);
        EXPECT_EQ(pcm.size() / 2, size_t{44100});
        EXPECT_LE(peakOfMiddle(pcm), 10);
    }
}

// Cut anywhere after its headers, in a page or between two, a file plays what
// it has and says where the music stops; the time said is the time it stops.
TEST(MusicDecoder, FileCutShortPlaysWhatItHasAndSaysWhereTheMusicStops) {
    const std::vector<char> whole = readAll(longTone());
    const std::vector<size_t> pages = pageStarts(whole);
    ASSERT_GT(pages.size(), 10u);
    const size_t cuts[] = {whole.size() / 5, whole.size() / 2, whole.size() * 99 / 100,
                           pages[pages.size() / 2], pages.back()};
    for (const size_t cut : cuts) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut) + " of " + std::to_string(whole.size()));
        const std::string path = writeCut("cut-" + std::to_string(cut) + ".ogg", longTone(), cut);
        OggMusicSource source;
        std::string problem;
        ASSERT_TRUE(source.open(path.c_str(), problem)) << problem;
        const std::vector<int16_t> pcm = readWhole(source);
        const size_t frames = pcm.size() / 2;
        EXPECT_LT(frames, size_t{20 * 44100});
        EXPECT_NEAR(double(source.lengthFrames()), double(frames), 4096);
        // The file is named as given (with its folder when the name is relative
        // to the system: Unix-style paths under Wine are).
        const std::string stop = "is cut short: the music stops at " +
                                 formatMinutesSeconds(source.lengthFrames() / 44100);
        EXPECT_EQ(source.notice().rfind("Music file \"" + path + "\" ", 0), 0u) << source.notice();
        EXPECT_TRUE(source.notice().ends_with(stop)) << source.notice();
        EXPECT_EQ(source.notice().find('\n'), std::string::npos);
    }
}

TEST(MusicDecoder, WholeFileAndFileClaimingHoursSayNothing) {
    OggMusicSource source;
    std::string problem;
    ASSERT_TRUE(source.open(longTone().c_str(), problem)) << problem;
    EXPECT_EQ(source.notice(), "");
    EXPECT_NEAR(double(source.lengthFrames()), 20 * 44100, 2);
    // A few kilobytes whose last page claims five hours: opened at once, with
    // the claimed length, and no more memory than any other file.
    const std::string claim =
        writeWithLastGranule("claims-hours.ogg", longTone(), int64_t{5} * 3600 * 44100);
    ASSERT_TRUE(source.open(claim.c_str(), problem)) << problem;
    EXPECT_EQ(source.notice(), "");
    EXPECT_EQ(source.lengthFrames(), uint64_t{5} * 3600 * 44100);
}

// A damaged page in the middle is lost; the frames after it stay where they
// were, so that the music keeps to the show's clock.
TEST(MusicDecoder, LostPageInTheMiddleBecomesSilenceOfItsLength) {
    OggMusicSource source;
    std::string problem;
    ASSERT_TRUE(source.open(longTone().c_str(), problem)) << problem;
    const std::vector<int16_t> original = readWhole(source);

    std::vector<char> bytes = readAll(longTone());
    const std::vector<size_t> pages = pageStarts(bytes);
    const size_t damaged = pages[pages.size() / 2] + 100;
    for (size_t i = damaged; i < damaged + 50; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    const std::string path = writeBytes("lost-page.ogg", bytes);
    ASSERT_TRUE(source.open(path.c_str(), problem)) << problem;
    EXPECT_EQ(source.notice(), "");
    const std::vector<int16_t> repaired = readWhole(source);
    ASSERT_EQ(repaired.size(), original.size());
    // The last second is the same sound at the same place.
    EXPECT_TRUE(std::equal(original.end() - 2 * 44100, original.end(), repaired.end() - 2 * 44100));
}

// Chained streams play one after the other. A later link with damaged
// headers ends the music where it starts. libvorbisfile 1.3.7 leaks the
// header state it had allocated (8 bytes here) when a seekable open fails on
// such a file; the decoder opens files as streams and never gets there
// (LeakSanitizer fails the sanitizer build's test run if it does).
TEST(MusicDecoder, ChainedStreamsPlayInTurnAndADamagedLinkEndsTheMusic) {
    const std::string first = writeTone("link.ogg", 1.0, 2, 44100);
    std::vector<char> chain = readAll(first);
    const std::vector<char> second = asChainedLink(first, 0x1234, false);
    chain.insert(chain.end(), second.begin(), second.end());
    OggMusicSource source;
    std::string problem;
    ASSERT_TRUE(source.open(writeBytes("chain.ogg", chain).c_str(), problem)) << problem;
    EXPECT_EQ(source.notice(), "");
    EXPECT_NEAR(double(readWhole(source).size() / 2), 2 * 44100, 2048);

    std::vector<char> damaged = readAll(first);
    const std::vector<char> bad = asChainedLink(first, 0x1234, true);
    damaged.insert(damaged.end(), bad.begin(), bad.end());
    ASSERT_TRUE(source.open(writeBytes("chain-damaged.ogg", damaged).c_str(), problem)) << problem;
    EXPECT_NEAR(double(readWhole(source).size() / 2), 44100, 2);
    EXPECT_TRUE(source.stoppedByDamage());
    ASSERT_TRUE(source.rewind());
    EXPECT_NEAR(double(readWhole(source).size() / 2), 44100, 2);
}

TEST(MusicDecoder, TimesAreMinutesAndSeconds) {
    EXPECT_EQ(formatMinutesSeconds(0), "0:00");
    EXPECT_EQ(formatMinutesSeconds(86), "1:26");
    EXPECT_EQ(formatMinutesSeconds(3600 + 5), "60:05");
}

// The frames an output takes at a given clock position are the decoder's
// frames at that position, whether the decoding thread keeps up or not.
void expectStreamFollowsSource(SoundStream& stream, const std::vector<int16_t>& direct,
                               bool paced) {
    stream.prepareToPlay();
    std::vector<int16_t> chunk(2 * 441);
    size_t clock = 0;
    size_t received = 0;
    const size_t frames = direct.size() / 2;
    // Paced, the decoder reaches the end long before this limit.
    const size_t limit = paced ? 100 * frames : frames + 44100;
    while (!stream.finished() && clock < limit) {
        const size_t got = stream.take(chunk.data(), 441);
        if (got > 0) {
            ASSERT_LE(clock + got, frames);
        }
        ASSERT_TRUE(std::equal(chunk.begin(), chunk.begin() + 2 * static_cast<long>(got),
                               direct.begin() + 2 * static_cast<long>(clock)))
            << "at frame " << clock;
        received += got;
        clock += 441;
        if (paced && clock % (441 * 10) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(stream.finished() || !paced);
    EXPECT_GE(received, SoundStream::PREFILL_FRAMES);  // ready before play returned
}

TEST(MusicStream, OutputTakesTheDecodersFramesAtTheirClockPositionsAcrossRewinds) {
    OggMusicSource source;
    std::string problem;
    ASSERT_TRUE(source.open(longTone().c_str(), problem)) << problem;
    const std::vector<int16_t> direct = readWhole(source);
    ASSERT_GT(direct.size() / 2, 2 * SoundStream::BUFFER_FRAMES);  // the ring wraps

    SoundStream stream;
    ASSERT_TRUE(stream.open(longTone().c_str(), problem)) << problem;
    {
        SCOPED_TRACE("first play");
        expectStreamFollowsSource(stream, direct, true);
    }
    // Played again: from the first frame; taken as fast as possible, the
    // decoder falls behind and the late frames are skipped, never shifted.
    {
        SCOPED_TRACE("played again, taken as fast as possible");
        expectStreamFollowsSource(stream, direct, false);
    }
    {
        SCOPED_TRACE("played a third time");
        expectStreamFollowsSource(stream, direct, true);
    }
}

TEST(MusicStream, PrefilledBeforePlayReturnsAndBoundedWhateverTheLength) {
    const std::string claim =
        writeWithLastGranule("stream-claims-hours.ogg", longTone(), int64_t{20} * 3600 * 44100);
    SoundStream stream;
    std::string problem;
    ASSERT_TRUE(stream.open(claim.c_str(), problem)) << problem;
    stream.prepareToPlay();
    std::vector<int16_t> chunk(2 * SoundStream::PREFILL_FRAMES);
    EXPECT_EQ(stream.take(chunk.data(), SoundStream::PREFILL_FRAMES), SoundStream::PREFILL_FRAMES);
    // The ring never holds more than its size.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<int16_t> all(2 * 2 * SoundStream::BUFFER_FRAMES);
    EXPECT_LE(stream.take(all.data(), 2 * SoundStream::BUFFER_FRAMES), SoundStream::BUFFER_FRAMES);
}

TEST(MusicStream, CheckedOnlyStreamYieldsNothingAndEndsAtOnce) {
    SoundStream stream;
    std::string problem;
    ASSERT_TRUE(stream.open(longTone().c_str(), problem, false)) << problem;
    stream.prepareToPlay();
    int16_t frame[2];
    EXPECT_EQ(stream.take(frame, 1), 0u);
    EXPECT_NEAR(double(stream.lengthFrames()), 20 * 44100, 2);
}

}  // namespace
