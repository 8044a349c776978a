// An Ogg Vorbis music file decoded on request into 44.1 kHz interleaved
// stereo, a block at a time: memory does not grow with the file's length or
// sample rate. Portable (C stdio, libvorbisfile, the standard library): every
// sound backend streams through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class OggMusicSource {
  public:
    static constexpr int OUTPUT_RATE = 44100;
    // Highest sample rate accepted; the resampler's memory grows with the rate.
    static constexpr int MAX_FILE_RATE = 384000;

    OggMusicSource();
    ~OggMusicSource();
    OggMusicSource(const OggMusicSource&) = delete;
    OggMusicSource& operator=(const OggMusicSource&) = delete;

    // Opens and checks fileName and decodes its first block. Fails (false, with
    // one line naming the file and the directory it was looked for in) if the
    // file cannot be read, is empty, is not Ogg Vorbis, has more than two
    // channels or an unusable rate, or holds no sound. A file that can be
    // played but was cut short (its last page does not end the stream) opens
    // with notice() saying where the music stops. The check reads the file's
    // first and last pages only; damage in the middle is found when decoding
    // reaches it: a lost page becomes silence, other damage (or a chained
    // stream in another format) ends the music there.
    bool open(const char* fileName, std::string& problem);
    void close();
    bool isOpen() const;

    // "" or the one line about an early end found at open.
    const std::string& notice() const { return notice_; }

    // Writes up to `frames` frames of interleaved stereo at OUTPUT_RATE and
    // returns how many; fewer only at the end of the music, then 0. Lost pages
    // are replaced by silence of their length, so the music stays in time.
    size_t read(int16_t* stereo, size_t frames);
    // Back to the first frame; false if the file cannot seek (the music is over).
    bool rewind();
    // On to frame `frame` (at OUTPUT_RATE; exact for a 44.1 kHz file) as if the
    // frames before it had been read; past the end the music is over. False as
    // for rewind.
    bool seek(uint64_t frame);

    int fileRate() const { return fileRate_; }
    int fileChannels() const { return fileChannels_; }
    // Length at OUTPUT_RATE as the file's last page gives it; 0 if unknown
    // (a pipe, or a chain of streams).
    uint64_t lengthFrames() const { return lengthFrames_; }
    // A decode error stopped the music before the end the file's pages claim.
    bool stoppedByDamage() const { return stoppedByDamage_; }

  private:
    struct Decoder;  // libvorbisfile and libsoxr state, ogg_decoder.cpp
    std::unique_ptr<Decoder> decoder_;
    std::string notice_;
    int fileRate_ = 0;
    int fileChannels_ = 0;
    uint64_t lengthFrames_ = 0;
    bool stoppedByDamage_ = false;
};

// "M:SS" (minutes unbounded) for start-up lines.
std::string formatMinutesSeconds(uint64_t seconds);
