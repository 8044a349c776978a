// The sound layer: the six operations through which the show plays its music
// (the FSOUND_* calls of the sound library it was designed for).
#pragma once

class SoundStream;  // defined by each backend

class SoundSystem {
  public:
    virtual ~SoundSystem() = default;

    // Prepares the output at `mixRate` frames per second; 1 on success
    // (FSOUND_Init(mixRate, channels, flags)).
    virtual int init(int mixRate, int channels, unsigned flags) = 0;
    // Opens the music file, ready to play; null if it cannot be played
    // (FSOUND_Stream_Open(fileName, 0, 0, 0)).
    virtual SoundStream* openStream(const char* fileName) = 0;
    // Starts the music at once from its first sample (FSOUND_Stream_Play(0, stream)).
    virtual int play(SoundStream* stream) = 0;
    // Stops the music (FSOUND_Stream_Stop).
    virtual void stop(SoundStream* stream) = 0;
    // Frees an open stream (FSOUND_Stream_Close).
    virtual void close(SoundStream* stream) = 0;
    // Releases the output (FSOUND_Close).
    virtual void shutdown() = 0;

    // Why the last init or openStream failed, or why the output is silent; "" if all is well.
    virtual const char* problem() const = 0;
};
