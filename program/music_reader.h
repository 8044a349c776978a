// The show's music read front to back as the show plays it, for writing it
// beside the pictures: 44.1 kHz stereo, found where the show finds it. The one
// place that uses the decoder's interface outside the sound layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ogg_decoder.h"
#include "platform/sound.h"
#include "platform/sound_stream.h"

class MusicReader final : public SoundSystem {
  public:
    // Fails with the same cause line as the show's start-up; a file cut short
    // fails too, since a recording would keep the fault for good.
    bool open(const char* fileName, std::string& problem);
    int rate() const { return OggMusicSource::OUTPUT_RATE; }
    int channels() const { return 2; }
    // Reads past the next `frames` frames.
    void skip(uint64_t frames);
    // The next `frames` frames into `out`; silence after the end of the music.
    void read(int16_t* out, size_t frames);

    // The search opens the file it found through this.
    SoundStream* openStream(const char* path) override;
    int init(int, int, unsigned) override { return 1; }
    int play(SoundStream*) override { return 1; }
    void stop(SoundStream*) override {}
    void close(SoundStream*) override {}
    void shutdown() override {}
    const char* problem() const override { return problem_.c_str(); }

  private:
    static constexpr size_t SKIP_FRAMES = 4096;
    OggMusicSource source_;
    SoundStream opened_;  // stands for the open music towards the search
    std::string problem_;
    bool ended_ = false;
    int16_t skipped_[SKIP_FRAMES * 2];
};
