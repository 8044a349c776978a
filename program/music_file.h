// Where the program finds its music file. The show opens it by its bare name; this
// sound output in front of the real one looks the name up in the working directory
// first, then beside the executable, then in the installed data directory (found
// from the executable's own location, so a moved installation still finds it).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/sound.h"

// The directories to look in, in order; an empty entry is the working directory.
// Places that name the same directory appear once.
std::vector<std::string> musicSearchDirectories();

// The directory that holds the running executable, or "" if the system does not say.
std::string executableDirectory();

// Forwards every call to `output`; openStream first finds the file in `directories`
// and opens it where it is, or fails itself with a cause naming every place tried.
class MusicSearchingSound final : public SoundSystem {
  public:
    MusicSearchingSound(SoundSystem& output, std::vector<std::string> directories);

    int init(int mixRate, int channels, unsigned flags) override;
    SoundStream* openStream(const char* fileName) override;
    int play(SoundStream* stream) override { return output_.play(stream); }
    void stop(SoundStream* stream) override { output_.stop(stream); }
    void close(SoundStream* stream) override { output_.close(stream); }
    void shutdown() override { output_.shutdown(); }
    const char* problem() const override;

  private:
    SoundSystem& output_;
    std::vector<std::string> directories_;
    std::string notFound_;  // the cause after a failed look-up; "" otherwise
};
