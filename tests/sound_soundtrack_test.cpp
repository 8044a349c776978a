// The soundtrack: the built vornak.ogg, its hits on the show's cues, and the
// synthesiser's length, peak and determinism.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ogg_decoder.h"
#include "tools/soundtrack/cues.h"
#include "tools/soundtrack/synth.h"

namespace {

struct DecodedSoundtrack {
    std::vector<int16_t> samples;  // interleaved stereo at 44.1 kHz
    size_t frameCount = 0;
    uint64_t lengthFrames = 0;  // as the file's last page gives it
    int channels = 0;
    int rate = 0;
    bool complete = false;
};

// The whole built file, read through the streaming decoder.
const DecodedSoundtrack& builtSoundtrack() {
    static DecodedSoundtrack audio = [] {
        DecodedSoundtrack a;
        OggMusicSource source;
        std::string problem;
        const std::string path = std::string(VORNAK_BINARY_DIR) + "/vornak.ogg";
        EXPECT_TRUE(source.open(path.c_str(), problem)) << problem;
        a.channels = source.fileChannels();
        a.rate = source.fileRate();
        a.complete = source.notice().empty();
        a.lengthFrames = source.lengthFrames();
        std::vector<int16_t> block(2 * 4096);
        while (const size_t got = source.read(block.data(), 4096))
            a.samples.insert(a.samples.end(), block.begin(), block.begin() + 2 * got);
        a.frameCount = a.samples.size() / 2;
        return a;
    }();
    return audio;
}

TEST(Soundtrack, BuiltFileIsStereo44100AndCoversTheShow) {
    const DecodedSoundtrack& audio = builtSoundtrack();
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_TRUE(audio.complete);
    EXPECT_GE(audio.frameCount, soundtrackFrame(173000));
    EXPECT_EQ(audio.frameCount, SOUNDTRACK_FRAMES);
    EXPECT_EQ(audio.lengthFrames, SOUNDTRACK_FRAMES);
}

// Energy of the first difference (which favours the clicks and noise of a
// drum over bass and pads) in 2 ms windows, one starting at every millisecond; an onset is a window
// with at least four times the mean energy of the 10 ms before it.
struct OnsetDetector {
    static constexpr size_t WINDOW = 88, HISTORY = 10;
    std::vector<double> energy;

    explicit OnsetDetector(const std::vector<int16_t>& stereo) {
        const size_t frames = stereo.size() / 2;
        std::vector<float> diff(frames);
        float last = 0;
        for (size_t i = 0; i < frames; ++i) {
            const float mono = (stereo[2 * i] + stereo[2 * i + 1]) / 65536.0f;
            diff[i] = mono - last;
            last = mono;
        }
        for (uint32_t ms = 0; soundtrackFrame(ms) + WINDOW <= frames; ++ms) {
            const size_t at = soundtrackFrame(ms);
            double sum = 0;
            for (size_t i = at; i < at + WINDOW; ++i) sum += double(diff[i]) * diff[i];
            energy.push_back(sum);
        }
    }

    // The strongest rise among the windows starting within the given milliseconds.
    double strongestRise(int fromMs, int toMs) const {
        double best = 0;
        for (int k = std::max<int>(fromMs, HISTORY + 2); k <= toMs; ++k) {
            if (static_cast<size_t>(k) >= energy.size()) break;
            double before = 0;
            for (size_t j = k - HISTORY - 2; j < static_cast<size_t>(k) - 2; ++j)
                before += energy[j];
            before /= HISTORY;
            if (energy[k] < 1e-4) continue;  // far too quiet to be heard as a hit
            best = std::max(best, energy[k] / (before + 1e-9));
        }
        return best;
    }
};

TEST(Soundtrack, EveryCueHasAnOnsetWithinTenMilliseconds) {
    const DecodedSoundtrack& audio = builtSoundtrack();
    ASSERT_EQ(audio.channels, 2);
    const OnsetDetector onsets(audio.samples);
    std::vector<std::pair<double, uint32_t>> rises;
    for (size_t c = 0; c < SOUNDTRACK_CUE_COUNT; ++c) {
        const int ms = static_cast<int>(SOUNDTRACK_CUES[c].ms);
        // A window starting 2 ms before the cue already holds its first millisecond.
        const double rise = onsets.strongestRise(ms - 10, ms + 8);
        EXPECT_GE(rise, 4.0) << "no onset near the cue at " << ms << " ms";
        rises.emplace_back(rise, SOUNDTRACK_CUES[c].ms);
    }
    std::sort(rises.begin(), rises.end());
    std::printf("weakest onsets:");
    for (size_t i = 0; i < 5 && i < rises.size(); ++i)
        std::printf(" %.1fx at %u ms;", rises[i].first, rises[i].second);
    std::printf("\n");
}

TEST(Soundtrack, DetectorSeesNoOnsetInSteadySound) {
    // A steady tone and its quiet tail: the detector must not find hits where there are none.
    std::vector<int16_t> tone(2 * 44100);
    for (size_t i = 0; i < tone.size() / 2; ++i)
        tone[2 * i] = tone[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(i * 0.05));
    const OnsetDetector onsets(tone);
    EXPECT_LT(onsets.strongestRise(100, 900), 4.0);
}

TEST(Soundtrack, CuesAreInOrderWithinTheShow) {
    for (size_t c = 1; c < SOUNDTRACK_CUE_COUNT; ++c)
        EXPECT_LT(SOUNDTRACK_CUES[c - 1].ms, SOUNDTRACK_CUES[c].ms) << "cue " << c;
    EXPECT_LE(SOUNDTRACK_CUES[SOUNDTRACK_CUE_COUNT - 1].ms, 173000u);
}

TEST(Synthesiser, FullRenderHasTheShowsLengthAndStaysBelowMinusOneDbfs) {
    const std::vector<int16_t> pcm = renderSoundtrack();
    ASSERT_EQ(pcm.size(), 2 * SOUNDTRACK_FRAMES);
    EXPECT_EQ(SOUNDTRACK_FRAMES, size_t{7717500});
    int peak = 0;
    for (int16_t s : pcm) peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_LE(peak, SOUNDTRACK_PEAK_LIMIT);
    EXPECT_GT(peak, SOUNDTRACK_PEAK_LIMIT / 2);  // and is not silent
    // The tail fades to silence.
    for (size_t i = pcm.size() - 200; i < pcm.size(); ++i) EXPECT_EQ(pcm[i], 0);
}

TEST(Synthesiser, ExcerptsAreIdenticalToEachOtherAndToTheFullRender) {
    const size_t frames = soundtrackFrame(4000);
    const std::vector<int16_t> first = renderSoundtrack(frames);
    const std::vector<int16_t> second = renderSoundtrack(frames);
    ASSERT_EQ(first.size(), 2 * frames);
    EXPECT_EQ(first, second);
    // Only the limiter's look at what follows can differ at the excerpt's end.
    const size_t compared = 2 * soundtrackFrame(3900);
    const std::vector<int16_t> longer = renderSoundtrack(soundtrackFrame(8000));
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + compared, longer.begin()));
}

TEST(Synthesiser, StepIsSixteenthAtNinetyThreePointSevenFiveBpm) {
    EXPECT_EQ(SOUNDTRACK_STEP_FRAMES * 4 * 93.75, 60.0 * 44100);
    EXPECT_EQ(soundtrackFrame(160), SOUNDTRACK_STEP_FRAMES);
}

}  // namespace
