#include "program/music_reader.h"

#include <algorithm>

#include "program/music_file.h"

bool MusicReader::open(const char* fileName, std::string& problem) {
    MusicSearchingSound search(*this, musicSearchDirectories());
    if (search.openStream(fileName) == nullptr) {
        problem = search.problem();
        return false;
    }
    return true;
}

void MusicReader::skip(uint64_t frames) {
    while (frames > 0) {
        const size_t step = size_t(std::min<uint64_t>(frames, SKIP_FRAMES));
        read(skipped_, step);
        frames -= step;
    }
}

void MusicReader::read(int16_t* out, size_t frames) {
    size_t done = 0;
    while (done < frames && !ended_) {
        const size_t got = source_.read(out + done * 2, frames - done);
        ended_ = got == 0;
        done += got;
    }
    std::fill(out + done * 2, out + frames * 2, int16_t(0));
}

SoundStream* MusicReader::openStream(const char* path) {
    problem_.clear();
    if (!source_.open(path, problem_)) return nullptr;
    if (!source_.notice().empty()) {
        problem_ = source_.notice();
        return nullptr;
    }
    return &opened_;
}
