// Ogg Vorbis encoding of interleaved 16-bit PCM, reproducible byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The stream serial of every file we write: a fixed one keeps builds reproducible.
inline constexpr int OGG_STREAM_SERIAL = 0x766f726e;

// Encodes frameCount frames of `channels` interleaved samples at `rate` into
// fileName with Vorbis VBR quality (-0.1 to 1). False, with the cause, on failure.
bool writeOggVorbis(const char* fileName, const int16_t* samples, size_t frameCount, int channels,
                    int rate, float quality, std::string& problem);
