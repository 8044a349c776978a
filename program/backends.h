// The one place where the program chooses how the show is presented: which
// console it is written to, which clock paces it and which sound output plays
// its music, from the options and the environment.
#pragma once

#include <cstdio>
#include <memory>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/sound.h"
#include "program/options.h"

struct Backends {
    std::unique_ptr<Console> console;  // opened; gives the screen back when destroyed
    std::unique_ptr<Clock> clock;
    SoundSystem* sound = nullptr;  // lives for the whole process
};

// Opens the console and clock for a live run and picks the sound output. On
// failure writes one line to `errors` and answers the exit status (1); 0 when
// `backends` is ready.
int openBackends(const Options& options, Backends& backends, std::FILE* errors);
