// Music files for the sound tests: tones encoded with our encoder, copies cut
// or damaged on purpose, in one directory per test process (ctest runs them
// side by side), removed at exit.
#pragma once

#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "platform/ogg_decoder.h"
#include "tools/soundtrack/ogg_writer.h"

namespace sound_test {

struct TestDir {
    std::filesystem::path path =
        std::filesystem::path(VORNAK_BINARY_DIR) / "sound_test_files" / std::to_string(getpid());
    TestDir() { std::filesystem::create_directories(path); }
    ~TestDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline std::string testDir() {
    static const TestDir dir;
    return dir.path.string();
}

// A sine of `hertz` at amplitude 9000 on every channel, encoded with our encoder.
inline std::string writeTone(const std::string& name, double seconds, int channels, int rate,
                             double hertz = 440, float quality = 0.3f) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * static_cast<size_t>(channels));
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = static_cast<int16_t>(
                9000 * std::sin(2 * std::numbers::pi * hertz * double(i) / rate));
    const std::string path = testDir() + "/" + name;
    std::string problem;
    EXPECT_TRUE(writeOggVorbis(path.c_str(), pcm.data(), frames, channels, rate, quality, problem))
        << problem;
    return path;
}

inline std::vector<char> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string writeBytes(const std::string& name, const std::vector<char>& bytes) {
    const std::string path = testDir() + "/" + name;
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

inline std::string writeCut(const std::string& name, const std::string& from, size_t bytes) {
    const std::vector<char> whole = readAll(from);
    return writeBytes(name, {whole.begin(), whole.begin() + static_cast<long>(bytes)});
}

// Where each Ogg page of a file starts.
inline std::vector<size_t> pageStarts(const std::vector<char>& bytes) {
    std::vector<size_t> starts;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), buffer);
    ogg_sync_wrote(&sync, static_cast<long>(bytes.size()));
    ogg_page page;
    size_t at = 0;
    for (long step; (step = ogg_sync_pageseek(&sync, &page)) != 0;) {
        if (step > 0) starts.push_back(at);
        at += static_cast<size_t>(step > 0 ? step : -step);
    }
    ogg_sync_clear(&sync);
    return starts;
}

// Sets the checksum of the page at `start` again after a change.
inline void setPageChecksum(std::vector<char>& bytes, size_t start) {
    ogg_page page;
    page.header = reinterpret_cast<unsigned char*>(&bytes[start]);
    page.header_len = 27 + static_cast<unsigned char>(bytes[start + 26]);
    page.body = page.header + page.header_len;
    page.body_len = 0;
    for (int s = 0; s < static_cast<unsigned char>(bytes[start + 26]); ++s)
        page.body_len += static_cast<unsigned char>(bytes[start + 27 + static_cast<size_t>(s)]);
    ogg_page_checksum_set(&page);
}

// The same file with its last page claiming to end at granule position
// `granule`: a few kilobytes that claim hours.
inline std::string writeWithLastGranule(const std::string& name, const std::string& from,
                                        int64_t granule) {
    std::vector<char> bytes = readAll(from);
    const size_t last = pageStarts(bytes).back();
    for (int b = 0; b < 8; ++b)
        bytes[last + 6 + static_cast<size_t>(b)] =
            static_cast<char>(static_cast<uint64_t>(granule) >> (8 * b));
    setPageChecksum(bytes, last);
    return writeBytes(name, bytes);
}

// The file's pages under another stream serial number, to be chained after
// another file; with damagedSetup, its second page (the codebooks) has bytes
// changed and a valid checksum, so that only its Vorbis headers are bad.
inline std::vector<char> asChainedLink(const std::string& from, uint32_t serial,
                                       bool damagedSetup) {
    std::vector<char> bytes = readAll(from);
    const std::vector<size_t> starts = pageStarts(bytes);
    for (size_t i = 0; i < starts.size(); ++i) {
        for (int b = 0; b < 4; ++b)
            bytes[starts[i] + 14 + static_cast<size_t>(b)] = static_cast<char>(serial >> (8 * b));
        if (damagedSetup && i == 1)
            for (size_t k = starts[1] + 1000; k < starts[1] + 1016; ++k)
                bytes[k] = static_cast<char>(bytes[k] ^ 0xA5);
        setPageChecksum(bytes, starts[i]);
    }
    return bytes;
}

// Everything the source yields, interleaved stereo.
inline std::vector<int16_t> readWhole(OggMusicSource& source) {
    std::vector<int16_t> all;
    std::vector<int16_t> block(2 * 4096);
    while (const size_t got = source.read(block.data(), 4096))
        all.insert(all.end(), block.begin(), block.begin() + 2 * static_cast<long>(got));
    return all;
}

}  // namespace sound_test
