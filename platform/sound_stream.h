// The music stream that the sound backends hand out: an OggMusicSource
// decoded on a thread of its own into a bounded ring of 44.1 kHz stereo
// frames, which the output (an audio callback, or a thread that refills
// device buffers) takes from without ever blocking, allocating or decoding.
// Portable: the standard library only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ogg_decoder.h"

class SoundStream {
  public:
    // About 3 s of music (512 KB): rides out a busy machine.
    static constexpr size_t BUFFER_FRAMES = size_t{1} << 17;
    // Decoded before play returns (about 190 ms), so that the music starts at once.
    static constexpr size_t PREFILL_FRAMES = size_t{1} << 13;
    static constexpr size_t CHUNK_FRAMES = 4096;

    SoundStream();
    ~SoundStream();
    SoundStream(const SoundStream&) = delete;
    SoundStream& operator=(const SoundStream&) = delete;

    // Opens and checks the file (see OggMusicSource::open). With decode true,
    // the decoding thread starts at once and fills the ring from the first
    // frame; with false the file is only checked and measured. The thread
    // inherits the caller's signal mask.
    bool open(const char* fileName, std::string& problem, bool decode = true);
    // "" or the line saying where the music stops early.
    const std::string& notice() const { return source_.notice(); }
    // Length at 44.1 kHz as the file's last page gives it; 0 if unknown.
    uint64_t lengthFrames() const { return source_.lengthFrames(); }
    int fileRate() const { return source_.fileRate(); }

    // Readies the stream to be played from frame `frame` (its first by
    // default): rewinds or seeks it unless it is untouched at that frame, then
    // waits until PREFILL_FRAMES are decoded or the music is over (a second at
    // most). Called while no output takes from it.
    void prepareToPlay(uint64_t frame = 0);
    // The frame of the music the ring began at, at the last prepareToPlay.
    uint64_t startFrame() const { return startFrame_; }

    // The output's side (one taker at a time): copies up to `frames` frames
    // and returns how many. When decoding falls behind, the frames missing now
    // are skipped once they arrive, so the music keeps to the clock.
    size_t take(int16_t* stereo, size_t frames);
    // Everything decoded has been taken and decoding is over.
    bool finished() const;
    // A decode error stopped the music early (found while streaming).
    bool stoppedByDamage() const { return damage_.load(std::memory_order_acquire); }

  private:
    void decodeLoop();
    void stopThread();

    OggMusicSource source_;
    std::unique_ptr<int16_t[]> ring_;  // BUFFER_FRAMES interleaved stereo frames
    std::thread thread_;

    std::mutex mutex_;  // guards the requests below; never taken by the output
    std::condition_variable wake_;
    bool quit_ = false;
    uint64_t rewindsRequested_ = 0;
    uint64_t rewindsDone_ = 0;
    uint64_t rewindFrame_ = 0;  // where the last rewind requested goes
    uint64_t startFrame_ = 0;

    // Frame counts since the last rewind; each written by one side only.
    std::atomic<uint64_t> written_{0};  // by the decoding thread
    std::atomic<uint64_t> read_{0};     // by the output
    std::atomic<bool> ended_{false};    // decoding reached the end of the music
    std::atomic<bool> damage_{false};
    std::atomic<bool> taken_{false};  // frames were taken since the last rewind
    uint64_t late_ = 0;               // output only: frames owed by a late decoder
};
