// Costs of the music: opening the soundtrack and filling the stream before
// play returns (the start-up wait), decoding speed, and the CPU that playback
// takes while the show runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/ogg_decoder.h"
#include "platform/sdl_sound.h"
#include "platform/sound_stream.h"

namespace {

const std::string MUSIC = std::string(VORNAK_BENCH_BINARY_DIR) + "/vornak.ogg";

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Opening the stream reads the headers and the last pages and decodes the
// first block; play waits until the ring holds PREFILL_FRAMES. Neither depends
// on the file's length.
void BM_SoundOpenAndPrefill(benchmark::State& state) {
    for (auto _ : state) {
        SoundStream stream;
        std::string problem;
        if (!stream.open(MUSIC.c_str(), problem)) state.SkipWithError(problem.c_str());
        stream.prepareToPlay();
    }
    state.counters["ring_bytes"] = double(SoundStream::BUFFER_FRAMES * 4);
}
BENCHMARK(BM_SoundOpenAndPrefill)->Unit(benchmark::kMillisecond)->Iterations(10);

// Decoding speed of the soundtrack to 44.1 kHz stereo, in seconds of music
// per second of CPU (the decoding thread needs a small share of one core).
void BM_SoundDecodeSoundtrack(benchmark::State& state) {
    std::vector<int16_t> block(2 * 4096);
    double musicSeconds = 0;
    for (auto _ : state) {
        OggMusicSource source;
        std::string problem;
        if (!source.open(MUSIC.c_str(), problem)) state.SkipWithError(problem.c_str());
        size_t frames = 0;
        while (const size_t got = source.read(block.data(), 4096)) frames += got;
        musicSeconds += double(frames) / OggMusicSource::OUTPUT_RATE;
    }
    state.counters["music_s_per_cpu_s"] =
        benchmark::Counter(musicSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SoundDecodeSoundtrack)->Unit(benchmark::kMillisecond)->Iterations(3);

// Share of one core that playback takes: the process's CPU time over wall
// time while the soundtrack plays (on the device SDL finds, or on the silent
// stand-in).
void BM_SoundPlaybackCpuShare(benchmark::State& state) {
    SdlSoundSystem sound;
    sound.init(44100, 32, 0);
    SoundStream* stream = sound.openStream(MUSIC.c_str());
    if (!stream) {
        state.SkipWithError(sound.problem());
        return;
    }
    double share = 0;
    for (auto _ : state) {
        sound.play(stream);
        const double cpu = cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        share = (cpuSeconds() - cpu) / wall;
        sound.stop(stream);
    }
    state.counters["cpu_share_percent"] = share * 100;
    state.counters["start_latency_ms"] = sound.startLatencyMicros() / 1000.0;
    state.SetLabel(sound.outputIsSilent() ? "silent output" : "audio device");
    sound.shutdown();
}
BENCHMARK(BM_SoundPlaybackCpuShare)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
