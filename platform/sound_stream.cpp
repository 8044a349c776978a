// The decoding thread and the ring it fills.
#include "platform/sound_stream.h"

#include <algorithm>
#include <chrono>
#include <cstring>

SoundStream::SoundStream() = default;

SoundStream::~SoundStream() {
    stopThread();
}

void SoundStream::stopThread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool SoundStream::open(const char* fileName, std::string& problem, bool decode) {
    stopThread();
    quit_ = false;
    if (!source_.open(fileName, problem)) return false;
    written_.store(0, std::memory_order_relaxed);
    read_.store(0, std::memory_order_relaxed);
    startFrame_ = rewindFrame_ = 0;
    ended_.store(!decode, std::memory_order_relaxed);
    damage_.store(false, std::memory_order_relaxed);
    taken_.store(false, std::memory_order_relaxed);
    late_ = 0;
    if (decode) {
        if (!ring_) ring_ = std::make_unique<int16_t[]>(2 * BUFFER_FRAMES);
        thread_ = std::thread(&SoundStream::decodeLoop, this);
    }
    return true;
}

void SoundStream::decodeLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (rewindsDone_ != rewindsRequested_) {
            const uint64_t request = rewindsRequested_;
            const uint64_t frame = rewindFrame_;
            lock.unlock();
            const bool rewound = source_.seek(frame);
            written_.store(0, std::memory_order_relaxed);
            read_.store(0, std::memory_order_relaxed);
            damage_.store(false, std::memory_order_relaxed);
            ended_.store(!rewound, std::memory_order_release);
            lock.lock();
            rewindsDone_ = request;
            wake_.notify_all();
            continue;
        }
        if (ended_.load(std::memory_order_relaxed)) {
            wake_.wait(lock);
            continue;
        }
        const uint64_t written = written_.load(std::memory_order_relaxed);
        const size_t filled = static_cast<size_t>(written - read_.load(std::memory_order_acquire));
        const size_t space = BUFFER_FRAMES - filled;
        if (space < CHUNK_FRAMES) {
            // The output takes 441 frames every 10 ms; look again in a while.
            wake_.wait_for(lock, std::chrono::milliseconds(10));
            continue;
        }
        lock.unlock();
        // One chunk, not wrapping: the ring's size is a multiple of the chunk's.
        const size_t at = static_cast<size_t>(written % BUFFER_FRAMES);
        const size_t got = source_.read(ring_.get() + 2 * at, CHUNK_FRAMES);
        written_.store(written + got, std::memory_order_release);
        if (got < CHUNK_FRAMES) {
            damage_.store(source_.stoppedByDamage(), std::memory_order_relaxed);
            ended_.store(true, std::memory_order_release);
        }
        lock.lock();
        wake_.notify_all();
    }
}

void SoundStream::prepareToPlay(uint64_t frame) {
    if (!thread_.joinable()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (taken_.load(std::memory_order_relaxed) || frame != startFrame_) {
        taken_.store(false, std::memory_order_relaxed);
        ++rewindsRequested_;
        rewindFrame_ = frame;
        startFrame_ = frame;
        wake_.notify_all();
    }
    late_ = 0;
    const uint64_t request = rewindsRequested_;
    wake_.wait_for(lock, std::chrono::seconds(1), [&] {
        return rewindsDone_ == request &&
               (written_.load(std::memory_order_acquire) >= PREFILL_FRAMES ||
                ended_.load(std::memory_order_acquire));
    });
}

size_t SoundStream::take(int16_t* stereo, size_t frames) {
    if (!ring_) return 0;
    // Read the end flag first: once it is seen, every frame is already written.
    const bool ended = ended_.load(std::memory_order_acquire);
    const uint64_t written = written_.load(std::memory_order_acquire);
    uint64_t read = read_.load(std::memory_order_relaxed);
    size_t available = static_cast<size_t>(written - read);
    const size_t skipped = static_cast<size_t>(std::min<uint64_t>(late_, available));
    late_ -= skipped;
    read += skipped;
    available -= skipped;
    const size_t n = std::min(frames, available);
    size_t done = 0;
    while (done < n) {
        const size_t at = static_cast<size_t>(read % BUFFER_FRAMES);
        const size_t piece = std::min(n - done, BUFFER_FRAMES - at);
        std::memcpy(stereo + 2 * done, ring_.get() + 2 * at, piece * 4);
        done += piece;
        read += piece;
    }
    read_.store(read, std::memory_order_release);
    if (n < frames && !ended) late_ += frames - n;
    if (n > 0 || skipped > 0) taken_.store(true, std::memory_order_relaxed);
    return n;
}

bool SoundStream::finished() const {
    return ended_.load(std::memory_order_acquire) &&
           read_.load(std::memory_order_acquire) == written_.load(std::memory_order_acquire);
}
