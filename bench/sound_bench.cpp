// Costs of the music: decoding the soundtrack at start, and the CPU that
// playback takes while the show runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/sdl_sound.h"

namespace {

const std::string MUSIC = std::string(VORNAK_BENCH_BINARY_DIR) + "/vornak.ogg";

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Opening the stream decodes all 175 s into memory.
void BM_SoundOpenSoundtrack(benchmark::State& state) {
    SdlSoundSystem sound;
    sound.init(44100, 32, 0);
    for (auto _ : state) {
        SoundStream* stream = sound.openStream(MUSIC.c_str());
        if (!stream) state.SkipWithError(sound.problem());
        sound.close(stream);
    }
    sound.shutdown();
}
BENCHMARK(BM_SoundOpenSoundtrack)->Unit(benchmark::kMillisecond)->Iterations(3);

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
