// The sound layer: the six operations through which the show plays its music
// (the FSOUND_* calls of the sound library it was designed for).
#pragma once

#include <cstdint>

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

    // The player's controls. A backend without them plays on as it is: the
    // defaults do nothing and report no position.
    //
    // Plays the stream from frame `frame` (44.1 kHz) on: the output restarts
    // there at once, dropping what it had queued.
    virtual void seek(SoundStream* /*stream*/, uint64_t /*frame*/) {}
    // Holds the music where it is (true) or lets it go on (false).
    virtual void setPaused(SoundStream* /*stream*/, bool /*paused*/) {}
    // Loudness from 0 (silent) to 100 percent (as decoded), from the next buffer on.
    virtual void setVolume(int /*percent*/) {}
    // The frame of the music being heard now, the device's latency taken off;
    // -1 while none is heard (not playing, paused, played out) or unknown.
    virtual int64_t heardFrame(const SoundStream* /*stream*/) const { return -1; }

    // Why the last init or openStream failed, or why the output is silent; "" if all is well.
    virtual const char* problem() const = 0;
};
