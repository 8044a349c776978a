// The real sound backend: SDL2 audio output fed from streams decoded as they play.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "platform/sound_stream.h"

struct SdlAudioOutput;  // the device and what its callback shares, sdl_sound.cpp

class SdlSoundSystem final : public SoundSystem {
  public:
    SdlSoundSystem();
    ~SdlSoundSystem() override;
    SdlSoundSystem(const SdlSoundSystem&) = delete;
    SdlSoundSystem& operator=(const SdlSoundSystem&) = delete;

    // Always 1 once a device, or the silent stand-in for a missing one, is running.
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
    // One line per problem: the output's (no device, silent driver) and the
    // music file's (why it cannot be opened, or where it stops early).
    const char* problem() const override { return problem_.c_str(); }

    // Observations for tests and measurements.
    bool outputIsSilent() const;
    uint64_t framesConsumed() const;     // frames the output has taken since init, music or not
    uint64_t musicFramesPlayed() const;  // frames of music handed to the output since play
    int64_t startLatencyMicros() const;  // play() to the first music frame handed over; -1 if none

  private:
    void composeProblem(bool musicFailed);

    std::unique_ptr<SdlAudioOutput> output_;
    std::vector<std::unique_ptr<SoundStream>> streams_;  // open streams, freed by close/shutdown
    std::string deviceLine_;
    std::string musicLine_;
    std::string problem_;
};
