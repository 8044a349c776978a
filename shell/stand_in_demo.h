// TEMPORARY: a stand-in for the show's Demo until the sequencer lands. It draws
// a moving colour test pattern for about five seconds and then ends. Delete this
// unit (and the one hook in runShow that mentions paintCellsWithoutConverter)
// when the Demo replaces it.
#pragma once

#include <cstdint>

#include "shell/surface.h"

constexpr uint32_t STAND_IN_RUN_MS = 5000;

class StandInDemo {
  public:
    void setSoundEnabled(uint8_t enabled) { soundEnabled_ = enabled; }
    int init(const Size16& renderSize);
    // Draws the pattern for tick `now`; 0 once the run is over.
    uint8_t update(uint32_t now);
    Surface* colorSurface() { return &color_; }
    void shutdown();

    // While the text converters are placeholders: every cell a full block in the
    // console colour nearest to the average of its 2x2 pixels.
    void paintCellsWithoutConverter(Surface* cells) const;

  private:
    Surface color_;
    uint8_t soundEnabled_ = 0;
    uint8_t started_ = 0;
    uint32_t startTick_ = 0;
};
