// The device-less sound backend.
#include "platform/silent_sound.h"

#include <algorithm>

#include "platform/sound_backends.h"

int SilentSoundSystem::init(int, int, unsigned) {
    problem_.clear();
    return 1;
}

SoundStream* SilentSoundSystem::openStream(const char* fileName) {
    auto stream = std::make_unique<SoundStream>();
    if (!stream->open(fileName, problem_, false)) return nullptr;
    problem_ = stream->notice();
    streams_.push_back(std::move(stream));
    return streams_.back().get();
}

int SilentSoundSystem::play(SoundStream* stream) {
    return stream ? 1 : 0;
}

void SilentSoundSystem::stop(SoundStream*) {}

void SilentSoundSystem::close(SoundStream* stream) {
    std::erase_if(streams_, [stream](const auto& s) { return s.get() == stream; });
}

void SilentSoundSystem::shutdown() {
    streams_.clear();
}

SoundSystem& silentSoundSystem() {
    static SilentSoundSystem* system = new SilentSoundSystem;
    return *system;
}
