#include "program/offline_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <filesystem>

#include "image/console_look.h"
#include "platform/headless_console.h"
#include "platform/png_file.h"
#include "platform/virtual_clock.h"
#include "program/frame_loop.h"
#include "show/demo.h"
#include "textmode/text_mode.h"

namespace {

const ConsoleInputEvent ESCAPE_DOWN = {CONSOLE_KEY_EVENT, 1, CONSOLE_VK_ESCAPE};

// The headless console's screen buffer as a Surface of cells, for the console look.
void copyCells(const HeadlessConsole& console, Surface& cells) {
    std::memcpy(cells.pixels(), console.cells().data(),
                std::min(console.cells().size(), size_t(cells.pitch()) * size_t(cells.height())));
}

bool writeImages(const std::string& directory, uint32_t time, const HeadlessConsole& console,
                 Surface& cells, const Surface& color) {
    const std::string base = directory + "/" + std::to_string(time);
    copyCells(console, cells);
    if (!writeConsoleLookPng(cells, base + ".png")) return false;
    // The colour buffer's alpha is working data of the scenes; show the picture opaque.
    std::vector<uint8_t> opaque(size_t(color.pitch()) * size_t(color.height()));
    std::memcpy(opaque.data(), color.pixels(), opaque.size());
    for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    return writePngRgba(base + "-rgb.png", color.width(), color.height(), opaque.data(),
                        color.pitch());
}

// Runs the whole show muted on a virtual clock into `console`, whose frame hook
// observes it. True when the show ran; otherwise the start-up text is reported.
bool runShowOffline(HeadlessConsole& console) {
    VirtualClock clock;
    MutedDemo<Demo> demo(vornakDemo);
    vornakDemo.attachPlatform(&clock, nullptr);
    if (runShow(console, clock, demo) == 0) return true;
    std::fprintf(stderr, "vornak: %s\n", console.text().c_str());
    return false;
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

    HeadlessConsole console;
    Surface cells;
    cells.create({CONSOLE_COLUMNS, CONSOLE_ROWS}, 4);
    bool failed = false;
    size_t next = 0;
    console.setFrameHook([&](const HeadlessConsole&, uint32_t frames) {
        const uint32_t now = vornakDemo.demoTime();
        const bool lastFrame = now > DEMO_END_MS;
        // This frame is the last one at or before T when the next frame comes after T.
        while (next < pending.size() && now <= pending[next] &&
               (lastFrame || pending[next] < now + FRAME_MS)) {
            if (!writeImages(directory, pending[next], console, cells,
                             *vornakDemo.colorSurface())) {
                std::fprintf(stderr, "vornak: cannot write the images of %" PRIu32 " ms in '%s'\n",
                             pending[next], directory.c_str());
                failed = true;
            }
            ++next;
        }
        if (next == pending.size() || failed) console.scheduleInput(frames, ESCAPE_DOWN);
    });

    const bool ran = runShowOffline(console);
    cells.release();
    return ran && !failed ? 0 : 1;
}

int runDigest(std::FILE* out) {
    HeadlessConsole console;
    uint64_t showHash = hashBytes(nullptr, 0);
    console.setFrameHook([&](const HeadlessConsole& frame, uint32_t) {
        const uint64_t cellsHash = hashBytes(frame.cells().data(), frame.cells().size());
        const uint32_t now = vornakDemo.demoTime();
        const uint8_t mode = textMode();
        std::fprintf(out, "%" PRIu32 " %u %016" PRIx64 "\n", now, unsigned(mode), cellsHash);
        const uint8_t record[5] = {uint8_t(now), uint8_t(now >> 8), uint8_t(now >> 16),
                                   uint8_t(now >> 24), mode};
        showHash = hashBytes(record, sizeof record, showHash);
        showHash = hashBytes(frame.cells().data(), frame.cells().size(), showHash);
    });

    if (!runShowOffline(console)) return 1;
    std::fprintf(out, "show %016" PRIx64 "\n", showHash);
    return 0;
}
