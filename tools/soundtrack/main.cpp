// Build-time generator of vornak.ogg: renders the soundtrack and encodes it.
#include <chrono>
#include <cstdio>
#include <string>

#include "tools/soundtrack/ogg_writer.h"
#include "tools/soundtrack/synth.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ogg\n", argv[0]);
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const std::vector<int16_t> pcm = renderSoundtrack();
    const auto rendered = Clock::now();
    std::string problem;
    if (!writeOggVorbis(argv[1], pcm.data(), pcm.size() / 2, 2, SOUNDTRACK_RATE, 0.3f, problem)) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    const auto encoded = Clock::now();
    const auto ms = [](auto d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    std::printf("soundtrack: synthesis %lld ms, encoding %lld ms\n",
                static_cast<long long>(ms(rendered - start)),
                static_cast<long long>(ms(encoded - rendered)));
    return 0;
}
