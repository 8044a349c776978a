// A sound backend without a device: the show runs on its own clock and plays nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sound.h"
#include "platform/sound_stream.h"

class SilentSoundSystem final : public SoundSystem {
  public:
    int init(int mixRate, int channels, unsigned flags) override;
    // Opens and checks the file as the real backend does, decoding nothing.
    SoundStream* openStream(const char* fileName) override;
    int play(SoundStream* stream) override;
    void stop(SoundStream* stream) override;
    void close(SoundStream* stream) override;
    void shutdown() override;
    const char* problem() const override { return problem_.c_str(); }

  private:
    std::vector<std::unique_ptr<SoundStream>> streams_;
    std::string problem_;
};
