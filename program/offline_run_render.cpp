// --render: the pictures and pages of moments of the show.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "formats/cell_pages.h"
#include "image/console_look.h"
#include "platform/png_file.h"
#include "program/offline_frames.h"
#include "program/offline_run.h"
#include "program/pending_file.h"
#include "show/demo.h"

namespace {

// Writes `path` through a temporary name with `write` (which writes the file
// it is given); false with `error` set.
template <class Write>
bool writeComplete(const std::string& path, Write write, std::string& error) {
    PendingFile file;
    if (!file.create(path, error)) return false;
    if (!write(file.temporaryPath(), error)) return false;
    return file.commit(error);
}

bool writeMoment(const std::string& directory, uint32_t time, const OfflineFrame& frame,
                 std::string& error) {
    const std::string base = directory + "/" + std::to_string(time);
    const Surface& cells = *frame.cells;
    const auto png = [&](const Surface& picture, bool look) {
        return [&picture, look](const std::string& path, std::string& why) {
            if (look ? writeConsoleLookPng(picture, path) : writeOpaquePng(picture, path))
                return true;
            why = "cannot write the picture";
            return false;
        };
    };
    const auto bytes = [](const std::string& content) {
        return [content](const std::string& path, std::string& why) {
            return writeFileBytes(path, content, why);
        };
    };
    char title[32];
    std::snprintf(title, sizeof title, "VORNAK at %" PRIu32 ":%02" PRIu32 ".%03" PRIu32,
                  time / 60000, time / 1000 % 60, time % 1000);
    const CellScreen screen{cells.pixels(), cells.pitch(), cells.width(), cells.height()};
    const struct {
        const char* extension;
        std::function<bool(const std::string&, std::string&)> write;
    } files[] = {
        {".png", png(cells, true)},
        {"-rgb.png", png(*frame.render, false)},
        {".ans", bytes(encodeAnsiArt(screen, {title, "", "", ""}))},
        {".txt", bytes(encodeCellText(screen))},
        {".html", bytes(encodeCellHtml(screen, title))},
    };
    for (const auto& file : files) {
        if (!writeComplete(base + file.extension, file.write, error)) {
            error = "cannot write '" + base + file.extension + "': " + error;
            return false;
        }
    }
    return true;
}

}  // namespace

bool writeConsoleLookPng(const Surface& cells, const std::string& path) {
    RgbaImage image;
    return drawConsoleLook(cells, image) && writePngRgba(path, image);
}

bool writeOpaquePng(const Surface& color, const std::string& path) {
    // The colour buffer's alpha is working data of the scenes; show the picture opaque.
    std::vector<uint8_t> opaque(size_t(color.pitch()) * size_t(color.height()));
    std::memcpy(opaque.data(), color.pixels(), opaque.size());
    for (size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
    return writePngRgba(path, color.width(), color.height(), opaque.data(), color.pitch());
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
        reportOfflineStartFailure(frames.startupText());
        return 1;
    }
    size_t next = 0;
    while (next < pending.size()) {
        const OfflineFrame* frame = frames.next();
        if (frame == nullptr) break;
        const uint32_t now = frame->demoTime;
        const bool lastFrame = now > DEMO_END_MS;
        // This frame is the last one at or before T when the next frame comes after T.
        while (next < pending.size() && now <= pending[next] &&
               (lastFrame || pending[next] < now + FRAME_MS)) {
            std::string problem;
            if (!writeMoment(directory, pending[next], *frame, problem)) {
                std::fprintf(stderr, "vornak: %s\n", problem.c_str());
                return 1;
            }
            ++next;
        }
    }
    return 0;
}
