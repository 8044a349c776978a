// The music decoder on any file: opened (the checks at open read the headers
// and the file's last pages), decoded to 44.1 kHz stereo for a bounded time,
// rewound and decoded again; a refusal must come with a cause naming the
// file. LeakSanitizer checks that failed opens leave nothing behind.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/ogg_decoder.h"

namespace {

// The decoder opens files by name: one scratch file per fuzzing process.
const std::string& scratchFile() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && dir[0] ? dir : "/tmp") + "/vornak-fuzz-music-" +
               std::to_string(getpid()) + ".ogg";
    }();
    return path;
}

// At most this much music per input keeps every run short.
constexpr size_t MAX_FRAMES = OggMusicSource::OUTPUT_RATE;

size_t decode(OggMusicSource& source, std::vector<int16_t>& block) {
    size_t total = 0;
    while (total < MAX_FRAMES) {
        const size_t got = source.read(block.data(), block.size() / 2);
        if (got > block.size() / 2) std::abort();
        if (got == 0) break;
        total += got;
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(scratchFile().c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (!written) return 0;

    OggMusicSource source;
    std::string problem;
    if (!source.open(scratchFile().c_str(), problem)) {
        if (problem.find(scratchFile()) == std::string::npos) std::abort();
        return 0;
    }
    if (source.fileChannels() < 1 || source.fileChannels() > 2) std::abort();
    std::vector<int16_t> block(2 * 1000);
    const size_t first = decode(source, block);
    if (source.rewind()) {
        const size_t again = decode(source, block);
        if (again != first) std::abort();  // the same music again, as long as before
    }
    return 0;
}
