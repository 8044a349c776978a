// The synthesiser of vornak's soundtrack: an original piece locked to the
// show's timeline, rendered deterministically from the score in synth.cpp and
// the cue table in cues.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int SOUNDTRACK_RATE = 44100;
// A 16th note at 93.75 beats per minute: 160 ms.
inline constexpr size_t SOUNDTRACK_STEP_FRAMES = 7056;
inline constexpr uint32_t SOUNDTRACK_SHOW_MS = 173000;
inline constexpr uint32_t SOUNDTRACK_TOTAL_MS = 175000;  // the show and a fading tail

// Frame of a demo time (44.1 frames per millisecond).
constexpr size_t soundtrackFrame(uint32_t ms) {
    return static_cast<size_t>(ms) * 441 / 10;
}

inline constexpr size_t SOUNDTRACK_FRAMES = soundtrackFrame(SOUNDTRACK_TOTAL_MS);
// -1 dBFS in 16 bits: the master never goes above it, so the encoder does not clip.
inline constexpr int SOUNDTRACK_PEAK_LIMIT = 29204;

// The first frameCount frames of the piece as interleaved stereo 16-bit PCM.
// A shorter render is a prefix of the full one except for its last few
// milliseconds, where the limiter cannot see what follows.
std::vector<int16_t> renderSoundtrack(size_t frameCount = SOUNDTRACK_FRAMES);
