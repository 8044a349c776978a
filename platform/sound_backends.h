// Choice of the sound backend for this platform.
#pragma once

#include "platform/sound.h"

// The backend that plays on this machine's sound system (SDL2 on POSIX, waveOut
// on Windows). Lives for the whole process and is never destroyed, so that the
// Demo's own shutdown at exit still finds it.
SoundSystem& platformSoundSystem();

// A backend with no device: checks the music file like the real one, plays nothing.
SoundSystem& silentSoundSystem();
