// The moments of the show that the soundtrack hits, in demo milliseconds: the
// flashes of the opening lights, the sphere's distance pump, the covers, the
// caption changes and the cuts. The synthesiser plays a drum on each, and the
// onset test checks that each can be heard there.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Hit : uint8_t {
    Impact,  // kick, sub boom and crash together: the opening flashes
    Kick,
    Snap,  // short snare
    Tom,
    Rim,    // rim shot with a long reverb: caption changes
    Crash,  // kick and crash: cuts and section changes
};

struct Cue {
    uint32_t ms;
    Hit hit;
};

extern const Cue SOUNDTRACK_CUES[];
extern const size_t SOUNDTRACK_CUE_COUNT;
