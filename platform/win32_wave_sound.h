// Sound output on Windows through winmm's waveOut. The music is decoded whole
// when it is opened (the same decoder as everywhere); the device is opened then,
// at the music's own rate, with a few short buffers that a thread of ours refills
// from the playing stream. Playing never allocates: the buffers exist from the
// open on and the thread only copies. Without a device the show plays silently
// on its clock and problem() says why in one line.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "platform/sound_stream.h"

struct WaveOutput;  // the device, its buffers and the refill thread, win32_wave_sound.cpp

class WaveOutSoundSystem final : public SoundSystem {
  public:
    WaveOutSoundSystem();
    ~WaveOutSoundSystem() override;
    WaveOutSoundSystem(const WaveOutSoundSystem&) = delete;
    WaveOutSoundSystem& operator=(const WaveOutSoundSystem&) = delete;

    // Always 1: without a device the music is checked and the show plays silently.
    int init(int mixRate, int channels, unsigned flags) override;
    SoundStream* openStream(const char* fileName) override;
    int play(SoundStream* stream) override;
    void stop(SoundStream* stream) override;
    void seek(SoundStream* stream, uint64_t frame) override;
    void setPaused(SoundStream* stream, bool paused) override;
    void setVolume(int percent) override;
    int64_t heardFrame(const SoundStream* stream) const override;
    void close(SoundStream* stream) override;
    void shutdown() override;
    const char* problem() const override { return problem_.c_str(); }

    // Observations for tests.
    bool outputIsSilent() const { return silent_; }
    uint64_t musicFramesPlayed() const;  // frames of music handed to the device since play

  private:
    bool openOutput(int rate);
    void closeOutput();

    std::unique_ptr<WaveOutput> output_;
    std::vector<std::unique_ptr<SoundStream>> streams_;
    bool initialised_ = false;
    bool silent_ = false;
    std::string problem_;
};
