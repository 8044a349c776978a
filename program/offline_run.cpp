#include "program/offline_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <filesystem>

#include "image/console_look.h"
#include "platform/png_file.h"
#include "program/offline_frames.h"
#include "show/demo.h"

namespace {

bool writeImages(const std::string& directory, uint32_t time, const OfflineFrame& frame) {
    const std::string base = directory + "/" + std::to_string(time);
    if (!writeConsoleLookPng(*frame.cells, base + ".png")) return false;
    // The colour buffer's alpha is working data of the scenes; show the picture opaque.
    const Surface& color = *frame.render;
    std::vector<uint8_t> opaque(size_t(color.pitch()) * size_t(color.height()));
    std::memcpy(opaque.data(), color.pixels(), opaque.size());
    for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    return writePngRgba(base + "-rgb.png", color.width(), color.height(), opaque.data(),
                        color.pitch());
}

// Says why the show did not start.
void reportStartFailure(const OfflineFrames<Demo>& frames) {
    std::fprintf(stderr, "vornak: %s\n", frames.startupText().c_str());
}

}  // namespace

bool writeConsoleLookPng(const Surface& cells, const std::string& path) {
    RgbaImage image;
    return drawConsoleLook(cells, image) && writePngRgba(path, image);
}

uint64_t hashBytes(const uint8_t* bytes, size_t count, uint64_t hash) {
    for (size_t i = 0; i < count; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

int runRenderMode(const std::string& directory, const std::vector<uint32_t>& times) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!std::filesystem::is_directory(directory)) {
        std::fprintf(stderr, "vornak: cannot create the directory '%s'\n", directory.c_str());
        return 1;
    }
    std::vector<uint32_t> pending = times;
    std::sort(pending.begin(), pending.end());
    pending.erase(std::unique(pending.begin(), pending.end()), pending.end());

    OfflineFrames<Demo> frames(vornakDemo);
    if (!frames.start()) {
        reportStartFailure(frames);
        return 1;
    }
    bool failed = false;
    size_t next = 0;
    while (next < pending.size() && !failed) {
        const OfflineFrame* frame = frames.next();
        if (frame == nullptr) break;
        const uint32_t now = frame->demoTime;
        const bool lastFrame = now > DEMO_END_MS;
        // This frame is the last one at or before T when the next frame comes after T.
        while (next < pending.size() && now <= pending[next] &&
               (lastFrame || pending[next] < now + FRAME_MS)) {
            if (!writeImages(directory, pending[next], *frame)) {
                std::fprintf(stderr, "vornak: cannot write the images of %" PRIu32 " ms in '%s'\n",
                             pending[next], directory.c_str());
                failed = true;
            }
            ++next;
        }
    }
    return failed ? 1 : 0;
}

int runDigest(std::FILE* out) {
    OfflineFrames<Demo> frames(vornakDemo);
    if (!frames.start()) {
        reportStartFailure(frames);
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
