// Ogg Vorbis decoding through libvorbisfile.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/ogg_decoder.h"

namespace {

// Where a relative name was looked for, so that a failure says which file is meant.
std::string describeFile(const char* fileName) {
    std::string where = "\"" + std::string(fileName) + "\"";
    // Absolute as the system sees it: "/..." here, "C:\\..." on Windows.
    if (!std::filesystem::path(fileName).is_absolute()) {
        std::error_code error;
        const std::filesystem::path dir = std::filesystem::current_path(error);
        if (!error) where += " in " + dir.string();
    }
    return where;
}

size_t readFile(void* buffer, size_t size, size_t count, void* file) {
    return std::fread(buffer, size, count, static_cast<FILE*>(file));
}

int seekFile(void* file, ogg_int64_t offset, int whence) {
    if (offset < LONG_MIN || offset > LONG_MAX) return -1;
    return std::fseek(static_cast<FILE*>(file), static_cast<long>(offset), whence);
}

long tellFile(void* file) {
    return std::ftell(static_cast<FILE*>(file));
}

// The file is closed by its owner, not by libvorbisfile.
constexpr ov_callbacks FILE_CALLBACKS = {readFile, seekFile, nullptr, tellFile};

struct OpenFile {
    FILE* file = nullptr;
    OggVorbis_File vorbis{};
    bool vorbisOpen = false;
    ~OpenFile() {
        if (vorbisOpen) ov_clear(&vorbis);
        if (file) std::fclose(file);
    }
};

const char* openError(int code) {
    switch (code) {
        case OV_ENOTVORBIS:
            return "is not an Ogg Vorbis file";
        case OV_EVERSION:
            return "has an unsupported Vorbis version";
        case OV_EBADHEADER:
            return "has a damaged Vorbis header";
        default:
            return "cannot be read as Ogg Vorbis";
    }
}

}  // namespace

bool decodeOggFile(const char* fileName, DecodedAudio& out, std::string& problem,
                   bool keepSamples) {
    out = DecodedAudio{};
    problem.clear();
    if (!fileName || !fileName[0]) {
        problem = "No music file name given";
        return false;
    }
    const std::string where = describeFile(fileName);

    OpenFile f;
    f.file = std::fopen(fileName, "rb");
    if (!f.file) {
        problem = "Cannot open music file " + where + ": " + std::strerror(errno);
        return false;
    }
    if (std::fseek(f.file, 0, SEEK_END) == 0 && std::ftell(f.file) == 0) {
        problem = "Music file " + where + " is empty";
        return false;
    }
    std::rewind(f.file);
    const int opened = ov_open_callbacks(f.file, &f.vorbis, nullptr, 0, FILE_CALLBACKS);
    if (opened != 0) {
        problem = "Music file " + where + " " + openError(opened);
        return false;
    }
    f.vorbisOpen = true;

    const vorbis_info* info = ov_info(&f.vorbis, -1);
    if (!info || info->rate <= 0 || info->rate > 384000 || info->channels < 1) {
        problem = "Music file " + where + " has a damaged Vorbis header";
        return false;
    }
    if (info->channels > 2) {
        problem = "Music file " + where + " has " + std::to_string(info->channels) +
                  " channels; only mono and stereo are played";
        return false;
    }
    out.channels = info->channels;
    out.rate = static_cast<int>(info->rate);
    const size_t maxFrames = static_cast<size_t>(OGG_MAX_SECONDS * out.rate);

    if (keepSamples) {
        const ogg_int64_t total = ov_pcm_total(&f.vorbis, -1);
        if (total > 0) {
            const size_t expected =
                static_cast<size_t>(total) < maxFrames ? static_cast<size_t>(total) : maxFrames;
            out.samples.reserve(expected * static_cast<size_t>(out.channels));
        }
    }

    // Holes (lost pages) are skipped; any other error ends the music there.
    int16_t buffer[8192];
    char* bytes = reinterpret_cast<char*>(buffer);
    int section = 0;
    int failures = 0;
    const size_t frameBytes = 2 * static_cast<size_t>(out.channels);
    while (out.frameCount < maxFrames) {
        const long got = ov_read(&f.vorbis, bytes, sizeof buffer, 0, 2, 1, &section);
        if (got == 0) break;
        if (got < 0) {
            if (got == OV_HOLE && ++failures < 64) continue;
            out.complete = false;
            break;
        }
        const vorbis_info* now = ov_info(&f.vorbis, section);
        if (!now || now->channels != out.channels || now->rate != out.rate) {
            out.complete = false;  // a chained stream of another format: not ours
            break;
        }
        size_t frames = static_cast<size_t>(got) / frameBytes;
        if (frames > maxFrames - out.frameCount) {
            frames = maxFrames - out.frameCount;
            out.complete = false;
        }
        if (keepSamples) {
            out.samples.insert(out.samples.end(), buffer,
                               buffer + frames * static_cast<size_t>(out.channels));
        }
        out.frameCount += frames;
    }
    if (out.frameCount >= maxFrames &&
        ov_read(&f.vorbis, bytes, sizeof buffer, 0, 2, 1, &section) > 0) {
        out.complete = false;
    }

    if (out.frameCount == 0) {
        problem = "Music file " + where + (out.complete ? " holds no sound" : " is damaged");
        out.samples.clear();
        return false;
    }
    if (!out.complete) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f",
                      static_cast<double>(out.frameCount) / out.rate);
        problem = "Music file " + where + " is cut short or damaged; the music stops after " +
                  seconds + " s";
    }
    return true;
}
