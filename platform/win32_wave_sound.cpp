#include "platform/win32_wave_sound.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/sound_backends.h"
#include "platform/sound_stream.h"

namespace {

// Four buffers of 20 ms: 80 ms queued at most, so play() is heard at once and
// stop() cuts the music short.
constexpr int BUFFER_COUNT = 4;
constexpr int BUFFER_MILLIS = 20;

std::string waveOutErrorText(MMRESULT result) {
    char text[MAXERRORLENGTH] = {};
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR || text[0] == 0)
        return "error " + std::to_string(result);
    return text;
}

}  // namespace

struct WaveOutput {
    HWAVEOUT device = nullptr;
    HANDLE bufferDone = nullptr;  // set by the device whenever a buffer comes back
    int rate = 0;
    size_t bufferFrames = 0;
    std::vector<int16_t> memory;  // BUFFER_COUNT buffers of bufferFrames stereo frames
    WAVEHDR headers[BUFFER_COUNT] = {};
    int nextHeader = 0;  // the buffers go to the device in ring order

    std::mutex lock;  // guards what follows and every device call
    SoundStream* playing = nullptr;
    bool paused = false;
    std::atomic<uint64_t> musicPlayed{0};
    std::atomic<int> volume{100};

    std::atomic<bool> running{false};
    std::thread refill;

    // Up to `frames` stereo frames of the playing stream, from its decoding
    // ring (never blocks), and how many there were.
    size_t takeMusic(int16_t* stereo, size_t frames) {
        if (playing == nullptr) return 0;
        return playing->take(stereo, frames);
    }

    // Hands every free buffer to the device, filled with the music, in ring
    // order. Called with `lock` held. Nothing is queued once the music is over
    // or stopped.
    void fillFreeBuffers() {
        for (;;) {
            WAVEHDR& header = headers[nextHeader];
            if (header.dwFlags & WHDR_INQUEUE) return;
            const size_t frames =
                takeMusic(reinterpret_cast<int16_t*>(header.lpData), bufferFrames);
            if (frames == 0) return;
            if (const int v = volume.load(std::memory_order_relaxed); v < 100) {
                int16_t* samples = reinterpret_cast<int16_t*>(header.lpData);
                for (size_t i = 0; i < frames * 2; ++i)
                    samples[i] = static_cast<int16_t>(samples[i] * v / 100);
            }
            header.dwBufferLength = static_cast<DWORD>(frames * 4);
            if (waveOutWrite(device, &header, sizeof header) != MMSYSERR_NOERROR) return;
            musicPlayed.fetch_add(frames, std::memory_order_relaxed);
            nextHeader = (nextHeader + 1) % BUFFER_COUNT;
        }
    }

    // The refill thread: a std::thread, so that it starts with full precision
    // (a plain CreateThread thread starts at double precision).
    void run() {
        while (running.load()) {
            WaitForSingleObject(bufferDone, 100);
            std::lock_guard<std::mutex> hold(lock);
            fillFreeBuffers();
        }
    }
};

WaveOutSoundSystem::WaveOutSoundSystem() = default;

WaveOutSoundSystem::~WaveOutSoundSystem() {
    shutdown();
}

int WaveOutSoundSystem::init(int, int, unsigned) {
    if (initialised_) return 1;
    problem_.clear();
    initialised_ = true;
    silent_ = waveOutGetNumDevs() == 0;
    if (silent_) problem_ = "No audio output device (waveOut finds none); the show plays silently";
    return 1;
}

bool WaveOutSoundSystem::openOutput(int rate) {
    if (output_ && output_->rate == rate) return true;
    closeOutput();
    auto out = std::make_unique<WaveOutput>();
    out->rate = rate;
    out->bufferFrames = static_cast<size_t>(std::max(rate * BUFFER_MILLIS / 1000, 64));
    out->bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (out->bufferDone == nullptr) {
        problem_ = "No usable audio device (cannot create an event); the show plays silently";
        return false;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = format.nSamplesPerSec * 4;
    const MMRESULT opened =
        waveOutOpen(&out->device, WAVE_MAPPER, &format,
                    reinterpret_cast<DWORD_PTR>(out->bufferDone), 0, CALLBACK_EVENT);
    if (opened != MMSYSERR_NOERROR) {
        CloseHandle(out->bufferDone);
        problem_ = "No usable audio device (waveOutOpen: " + waveOutErrorText(opened) +
                   "); the show plays silently";
        return false;
    }
    out->memory.assign(out->bufferFrames * 2 * BUFFER_COUNT, 0);
    for (int i = 0; i < BUFFER_COUNT; ++i) {
        WAVEHDR& header = out->headers[i];
        header.lpData = reinterpret_cast<LPSTR>(out->memory.data() + out->bufferFrames * 2 * i);
        header.dwBufferLength = static_cast<DWORD>(out->bufferFrames * 4);
        waveOutPrepareHeader(out->device, &header, sizeof header);
    }
    out->running = true;
    out->refill = std::thread(&WaveOutput::run, out.get());
    output_ = std::move(out);
    return true;
}

void WaveOutSoundSystem::closeOutput() {
    if (!output_) return;
    WaveOutput& out = *output_;
    out.running = false;
    SetEvent(out.bufferDone);
    if (out.refill.joinable()) out.refill.join();
    waveOutReset(out.device);  // every queued buffer comes back done
    for (WAVEHDR& header : out.headers) {
        if (header.dwFlags & WHDR_PREPARED)
            waveOutUnprepareHeader(out.device, &header, sizeof header);
    }
    waveOutClose(out.device);
    CloseHandle(out.bufferDone);
    output_.reset();
}

SoundStream* WaveOutSoundSystem::openStream(const char* fileName) {
    auto stream = std::make_unique<SoundStream>();
    std::string cause;
    // A silent output only checks the file; a playing one decodes it as it plays.
    if (!stream->open(fileName, cause, !silent_)) {
        // The music's cause first, then what was said about the device.
        problem_ = problem_.empty() ? cause : cause + "\n" + problem_;
        return nullptr;
    }
    if (!silent_ && !openOutput(44100)) silent_ = true;  // problem_ says why
    if (!stream->notice().empty()) {                     // plays, but ends early
        problem_ = problem_.empty() ? stream->notice() : problem_ + "\n" + stream->notice();
    }
    streams_.push_back(std::move(stream));
    return streams_.back().get();
}

int WaveOutSoundSystem::play(SoundStream* stream) {
    const bool known = std::any_of(streams_.begin(), streams_.end(),
                                   [stream](const auto& s) { return s.get() == stream; });
    if (!initialised_ || !stream || !known) return 0;
    if (!output_ || silent_) return 1;  // silent
    WaveOutput& out = *output_;
    {
        // Off the device while it is rewound and prefilled.
        std::lock_guard<std::mutex> hold(out.lock);
        if (out.playing) waveOutReset(out.device);
        if (out.paused) waveOutRestart(out.device);
        out.playing = nullptr;
        out.paused = false;
    }
    stream->prepareToPlay();
    {
        std::lock_guard<std::mutex> hold(out.lock);
        out.playing = stream;
        out.musicPlayed.store(0, std::memory_order_relaxed);
        out.fillFreeBuffers();  // the first sample goes to the device now
    }
    return 1;
}

void WaveOutSoundSystem::seek(SoundStream* stream, uint64_t frame) {
    const bool known = std::any_of(streams_.begin(), streams_.end(),
                                   [stream](const auto& s) { return s.get() == stream; });
    if (!initialised_ || !stream || !known || !output_ || silent_) return;
    WaveOutput& out = *output_;
    {
        // Everything queued comes back, and the device counts from 0 again.
        std::lock_guard<std::mutex> hold(out.lock);
        waveOutReset(out.device);
        out.playing = nullptr;
    }
    stream->prepareToPlay(frame);
    {
        std::lock_guard<std::mutex> hold(out.lock);
        out.playing = stream;
        out.musicPlayed.store(0, std::memory_order_relaxed);
        out.fillFreeBuffers();
    }
}

void WaveOutSoundSystem::setPaused(SoundStream* stream, bool paused) {
    if (!output_ || !stream) return;
    WaveOutput& out = *output_;
    std::lock_guard<std::mutex> hold(out.lock);
    if (out.playing != stream || out.paused == paused) return;
    out.paused = paused;
    if (paused)
        waveOutPause(out.device);
    else
        waveOutRestart(out.device);
}

void WaveOutSoundSystem::setVolume(int percent) {
    if (output_) output_->volume.store(std::clamp(percent, 0, 100), std::memory_order_relaxed);
}

int64_t WaveOutSoundSystem::heardFrame(const SoundStream* stream) const {
    if (!output_ || !stream) return -1;
    WaveOutput& out = *output_;
    std::lock_guard<std::mutex> hold(out.lock);
    if (out.playing != stream || out.paused || stream->finished()) return -1;
    // The device's own count of the samples played since the last reset.
    MMTIME time{};
    time.wType = TIME_SAMPLES;
    if (waveOutGetPosition(out.device, &time, sizeof time) != MMSYSERR_NOERROR ||
        time.wType != TIME_SAMPLES)
        return -1;
    return int64_t(stream->startFrame()) + int64_t(time.u.sample);
}

void WaveOutSoundSystem::stop(SoundStream* stream) {
    if (!output_ || !stream) return;
    WaveOutput& out = *output_;
    std::lock_guard<std::mutex> hold(out.lock);
    if (out.playing != stream) return;
    out.playing = nullptr;
    waveOutReset(out.device);
}

void WaveOutSoundSystem::close(SoundStream* stream) {
    stop(stream);
    std::erase_if(streams_, [stream](const auto& s) { return s.get() == stream; });
}

void WaveOutSoundSystem::shutdown() {
    closeOutput();
    streams_.clear();
    initialised_ = false;
}

uint64_t WaveOutSoundSystem::musicFramesPlayed() const {
    return output_ ? output_->musicPlayed.load(std::memory_order_relaxed) : 0;
}

SoundSystem& platformSoundSystem() {
    static WaveOutSoundSystem* system = new WaveOutSoundSystem;
    return *system;
}
