#include "program/offline_run.h"

#include <cinttypes>

#include "program/offline_frames.h"
#include "show/demo.h"

uint64_t hashBytes(const uint8_t* bytes, size_t count, uint64_t hash) {
    for (size_t i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

int runDigest(std::FILE* out) {
    OfflineFrames<Demo> frames(vornakDemo);
    if (!frames.start()) {
        reportOfflineStartFailure(frames.startupText());
        return 1;
    }
    uint64_t showHash = hashBytes(nullptr, 0);
    while (const OfflineFrame* frame = frames.next()) {
        const Surface& cells = *frame->cells;
        const size_t cellBytes = size_t(cells.pitch()) * size_t(cells.height());
        const uint64_t cellsHash = hashBytes(cells.pixels(), cellBytes);
        const uint32_t now = frame->demoTime;
        const uint8_t mode = frame->textMode;
        std::fprintf(out, "%" PRIu32 " %u %016" PRIx64 "\n", now, unsigned(mode), cellsHash);
        const uint8_t record[5] = {uint8_t(now), uint8_t(now >> 8), uint8_t(now >> 16),
                                   uint8_t(now >> 24), mode};
        showHash = hashBytes(record, sizeof record, showHash);
        showHash = hashBytes(cells.pixels(), cellBytes, showHash);
    }
    std::fprintf(out, "show %016" PRIx64 "\n", showHash);
    return 0;
}

void reportOfflineStartFailure(const std::string& startupText) {
    std::fprintf(stderr, "vornak: %s\n", startupText.c_str());
}
