// Decoding of an Ogg Vorbis music file, whole, into interleaved 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DecodedAudio {
    std::vector<int16_t> samples;  // interleaved, `channels` per frame; empty if not kept
    size_t frameCount = 0;
    int channels = 0;  // 1 or 2
    int rate = 0;
    bool complete = true;  // false if decoding stopped early at damage or at the length limit
};

// The longest music decoded; a few kilobytes of Vorbis can claim hours of silence.
inline constexpr double OGG_MAX_SECONDS = 20 * 60;

// Decodes fileName. Fails (false, with a one-line cause naming the file and the
// directory it was looked for in) if the file cannot be read, is empty, is not
// Ogg Vorbis, has more than two channels or holds no sound. Damage after some
// sound keeps what came before it: complete is false and problem says where the
// music stops. With keepSamples false the file is checked and measured only.
bool decodeOggFile(const char* fileName, DecodedAudio& out, std::string& problem,
                   bool keepSamples = true);
