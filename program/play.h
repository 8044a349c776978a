// A live run of the show: the chosen console, clock and sound output, the frame
// loop, and the exit status.
#pragma once

#include "program/options.h"

// Plays the show as the options ask. Returns the process exit status.
int playShow(const Options& options);
