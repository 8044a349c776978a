// SDL2 audio output. The device runs from init on and its callback only takes
// frames from the playing stream's ring (or gives silence), so it never
// blocks, allocates or decodes; each stream decodes on a thread of its own.
// Without a usable device a thread of ours calls the same callback at the real
// rate and discards what it gets, so that the silent show keeps time the same
// way.
#include <SDL2/SDL.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/sdl_sound.h"
#include "platform/silent_sound.h"
#include "platform/sound_backends.h"

namespace {

int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Sound libraries report a missing card on stderr, over the start-up lines;
// the cause reaches the user through problem() instead.
class QuietStderr {
  public:
    QuietStderr() {
        saved_ = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) ::close(null);
    }
    ~QuietStderr() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

// The audio threads start with every signal blocked, so that the show's own
// handlers (terminal restore, Escape, Ctrl-C) always run on the main thread.
class SignalsBlocked {
  public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &saved_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
    sigset_t saved_;
};

}  // namespace

struct SdlAudioOutput {
    SDL_AudioDeviceID device = 0;  // 0: no device, the silent clock stands in
    bool silent = false;
    int rate = 44100;

    std::thread silentClock;
    std::atomic<bool> clockRunning{false};
    std::mutex clockMutex;  // the silent clock's lock, in place of the device's

    // Shared with the callback; changed only while the device is locked.
    SoundStream* playing = nullptr;
    int64_t playMicros = 0;
    bool latencyPending = false;
    bool paused = false;
    // The frames of a callback's buffer, played after the one before it: what
    // is handed over is heard that much later.
    uint64_t bufferFrames = 0;
    // Music frames handed over before the last callback, and when it came.
    uint64_t playedBeforeCallback = 0;
    int64_t callbackMicros = 0;
    std::atomic<int> volume{100};

    std::atomic<uint64_t> consumed{0};
    std::atomic<uint64_t> musicPlayed{0};
    std::atomic<int64_t> latencyMicros{-1};

    void lock() {
        if (device)
            SDL_LockAudioDevice(device);
        else
            clockMutex.lock();
    }
    void unlock() {
        if (device)
            SDL_UnlockAudioDevice(device);
        else
            clockMutex.unlock();
    }
};

namespace {

void audioCallback(void* user, Uint8* bytes, int length) {
    SdlAudioOutput& out = *static_cast<SdlAudioOutput*>(user);
    const size_t frames = static_cast<size_t>(length) / 4;
    size_t copied = 0;
    out.playedBeforeCallback = out.musicPlayed.load(std::memory_order_relaxed);
    out.callbackMicros = steadyMicros();
    if (out.playing && !out.paused)
        copied = out.playing->take(reinterpret_cast<int16_t*>(bytes), frames);
    if (const int volume = out.volume.load(std::memory_order_relaxed); volume < 100) {
        // Scaled in whole numbers: the same sound on every machine.
        int16_t* samples = reinterpret_cast<int16_t*>(bytes);
        for (size_t i = 0; i < copied * 2; ++i)
            samples[i] = static_cast<int16_t>(samples[i] * volume / 100);
    }
    if (copied > 0) {
        out.musicPlayed.fetch_add(copied, std::memory_order_relaxed);
        if (out.latencyPending) {
            out.latencyPending = false;
            out.latencyMicros.store(steadyMicros() - out.playMicros, std::memory_order_relaxed);
        }
    }
    std::memset(bytes + copied * 4, 0, static_cast<size_t>(length) - copied * 4);
    out.consumed.fetch_add(frames, std::memory_order_relaxed);
}

// The stand-in for a device: takes 10 ms of frames at a time, as the steady
// clock makes them due.
void runSilentClock(SdlAudioOutput& out) {
    const size_t chunk = static_cast<size_t>(std::clamp(out.rate / 100, 64, 8192));
    std::vector<Uint8> buffer(chunk * 4);
    const int64_t start = steadyMicros();
    uint64_t handed = 0;
    while (out.clockRunning.load(std::memory_order_relaxed)) {
        const uint64_t due = static_cast<uint64_t>(steadyMicros() - start) *
                             static_cast<uint64_t>(out.rate) / 1000000;
        while (handed + chunk <= due) {
            {
                std::lock_guard<std::mutex> hold(out.clockMutex);
                audioCallback(&out, buffer.data(), static_cast<int>(buffer.size()));
            }
            handed += chunk;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Starts SDL audio with the current driver choice and a running device.
bool openDevice(SdlAudioOutput& out, std::string& reason) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        reason = SDL_GetError();
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = out.rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    // 10 ms per callback: a short start and a whole-millisecond pace for the dummy driver.
    want.samples = static_cast<Uint16>(std::clamp(out.rate / 100, 64, 8192));
    want.callback = audioCallback;
    want.userdata = &out;
    SDL_AudioSpec have{};
    out.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (out.device == 0) {
        reason = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    out.silent = driver && std::strcmp(driver, "dummy") == 0;
    out.bufferFrames = have.samples;
    SDL_PauseAudioDevice(out.device, 0);
    return true;
}

}  // namespace

SdlSoundSystem::SdlSoundSystem() = default;

SdlSoundSystem::~SdlSoundSystem() {
    shutdown();
}

int SdlSoundSystem::init(int, int, unsigned) {
    if (output_) return 1;
    deviceLine_.clear();
    musicLine_.clear();
    // Streams are 44.1 kHz; should the device want another rate, SDL converts.
    auto out = std::make_unique<SdlAudioOutput>();
    out->rate = OggMusicSource::OUTPUT_RATE;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "vornak");

    std::string reason;
    SignalsBlocked inheritedByAudioThreads;
    bool opened;
    {
        QuietStderr quiet;
        opened = openDevice(*out, reason);
    }
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    if (!opened) {
        deviceLine_ = "No usable audio device (" + reason + "); the show plays silently";
        out->silent = true;
        out->clockRunning = true;
        out->silentClock = std::thread(runSilentClock, std::ref(*out));
    } else if (out->silent) {
        deviceLine_ = "The audio driver \"dummy\" is chosen; the show plays silently";
    }
    output_ = std::move(out);
    composeProblem(false);
    return 1;
}

void SdlSoundSystem::composeProblem(bool musicFailed) {
    // One line per problem. A music file that stops the start is the cause
    // shown right under the failure line; notes about the output follow.
    const std::string& first = musicFailed ? musicLine_ : deviceLine_;
    const std::string& second = musicFailed ? deviceLine_ : musicLine_;
    problem_ = first;
    if (!first.empty() && !second.empty()) problem_ += '\n';
    problem_ += second;
}

SoundStream* SdlSoundSystem::openStream(const char* fileName) {
    auto stream = std::make_unique<SoundStream>();
    std::string cause;
    bool opened;
    {
        SignalsBlocked inheritedByDecodingThread;
        opened = stream->open(fileName, cause);
    }
    if (!opened) {
        musicLine_ = cause;
        composeProblem(true);
        return nullptr;
    }
    musicLine_ = stream->notice();  // plays, but may end early
    composeProblem(false);
    streams_.push_back(std::move(stream));
    return streams_.back().get();
}

int SdlSoundSystem::play(SoundStream* stream) {
    const bool known = std::any_of(streams_.begin(), streams_.end(),
                                   [stream](const auto& s) { return s.get() == stream; });
    if (!output_ || !stream || !known) return 0;
    SdlAudioOutput& out = *output_;
    // Taken off the output while it is rewound and prefilled.
    out.lock();
    if (out.playing == stream) out.playing = nullptr;
    out.unlock();
    stream->prepareToPlay();
    out.lock();
    out.playing = stream;
    out.paused = false;
    out.musicPlayed.store(0, std::memory_order_relaxed);
    out.playedBeforeCallback = 0;
    out.callbackMicros = steadyMicros();
    out.latencyMicros.store(-1, std::memory_order_relaxed);
    out.playMicros = steadyMicros();
    out.latencyPending = true;
    out.unlock();
    return 1;
}

void SdlSoundSystem::seek(SoundStream* stream, uint64_t frame) {
    const bool known = std::any_of(streams_.begin(), streams_.end(),
                                   [stream](const auto& s) { return s.get() == stream; });
    if (!output_ || !stream || !known) return;
    SdlAudioOutput& out = *output_;
    // As play: off the output while it seeks, then on from the new frame with
    // nothing of the old place left queued.
    out.lock();
    const bool wasPlaying = out.playing == stream;
    if (wasPlaying) out.playing = nullptr;
    out.unlock();
    stream->prepareToPlay(frame);
    out.lock();
    out.playing = stream;
    out.musicPlayed.store(0, std::memory_order_relaxed);
    out.playedBeforeCallback = 0;
    out.callbackMicros = steadyMicros();
    out.unlock();
}

void SdlSoundSystem::setPaused(SoundStream* stream, bool paused) {
    if (!output_ || !stream) return;
    SdlAudioOutput& out = *output_;
    out.lock();
    if (out.playing == stream) out.paused = paused;
    out.unlock();
}

void SdlSoundSystem::setVolume(int percent) {
    if (output_) output_->volume.store(std::clamp(percent, 0, 100), std::memory_order_relaxed);
}

int64_t SdlSoundSystem::heardFrame(const SoundStream* stream) const {
    if (!output_ || !stream) return -1;
    SdlAudioOutput& out = *output_;
    out.lock();
    int64_t heard = -1;
    if (out.playing == stream && !out.paused && !stream->finished()) {
        const uint64_t played = out.musicPlayed.load(std::memory_order_relaxed);
        const int64_t since = (steadyMicros() - out.callbackMicros) * out.rate / 1000000;
        const int64_t latency = out.device ? int64_t(out.bufferFrames) : 0;
        const int64_t reached = int64_t(out.playedBeforeCallback) - latency + since;
        heard = int64_t(stream->startFrame()) + std::clamp<int64_t>(reached, 0, int64_t(played));
    }
    out.unlock();
    return heard;
}

void SdlSoundSystem::stop(SoundStream* stream) {
    if (!output_ || !stream) return;
    SdlAudioOutput& out = *output_;
    out.lock();
    if (out.playing == stream) {
        out.playing = nullptr;
        out.latencyPending = false;
    }
    out.unlock();
}

void SdlSoundSystem::close(SoundStream* stream) {
    stop(stream);
    std::erase_if(streams_, [stream](const auto& s) { return s.get() == stream; });
}

void SdlSoundSystem::shutdown() {
    if (output_) {
        if (output_->device) {
            SDL_CloseAudioDevice(output_->device);  // waits for a running callback
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
        if (output_->silentClock.joinable()) {
            output_->clockRunning = false;
            output_->silentClock.join();
        }
        output_.reset();
    }
    streams_.clear();  // each joins its decoding thread
}

bool SdlSoundSystem::outputIsSilent() const {
    return output_ && output_->silent;
}

uint64_t SdlSoundSystem::framesConsumed() const {
    return output_ ? output_->consumed.load(std::memory_order_relaxed) : 0;
}

uint64_t SdlSoundSystem::musicFramesPlayed() const {
    return output_ ? output_->musicPlayed.load(std::memory_order_relaxed) : 0;
}

int64_t SdlSoundSystem::startLatencyMicros() const {
    return output_ ? output_->latencyMicros.load(std::memory_order_relaxed) : -1;
}

SoundSystem& platformSoundSystem() {
    static SdlSoundSystem* system = new SdlSoundSystem;
    return *system;
}
