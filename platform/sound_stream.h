// The music stream that the sound backends hand out: the whole piece decoded
// ahead of playback, so that the audio callback only ever copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class SoundStream {
  public:
    std::vector<int16_t> samples;  // interleaved stereo at the output rate; empty when silent
    size_t frameCount = 0;         // frames of music, also when the samples are not kept
    int rate = 0;                  // frames per second of the music
};
