// The sound layer: the six operations through which the show plays its music
// (the FSOUND_* calls of the sound library it was designed for).
#pragma once

class SoundStream;  // defined by each backend

class SoundSystem {
  public:
    virtual ~SoundSystem() = default;

    // FSOUND_Init(mixRate, channels, flags): 1 on success.
    virtual int init(int mixRate, int channels, unsigned flags) = 0;
    // FSOUND_Stream_Open(fileName, 0, 0, 0): an open stream, or null.
    virtual SoundStream* openStream(const char* fileName) = 0;
    // FSOUND_Stream_Play(0, stream): starts at once from the first sample.
    virtual int play(SoundStream* stream) = 0;
    virtual void stop(SoundStream* stream) = 0;   // FSOUND_Stream_Stop
    virtual void close(SoundStream* stream) = 0;  // FSOUND_Stream_Close
    virtual void shutdown() = 0;                  // FSOUND_Close

    // Why the last init or openStream failed, or why the output is silent; "" if all is well.
    virtual const char* problem() const = 0;
};
