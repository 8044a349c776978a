// Stands in for a scene that is not built yet: clears the frame to a dim colour of
// its own, so that the timeline stays visible, and sets its text mode.
#pragma once

#include <cstdint>

#include "demo/scene.h"

class PlaceholderScene : public Scene {
  public:
    PlaceholderScene(uint32_t firstStart, uint32_t secondStart, uint8_t textMode,
                     const uint8_t clearColour[4]);

    int init() override { return 0; }
    uint32_t startTime(uint8_t which) override { return which == 2 ? secondStart_ : firstStart_; }
    uint8_t render(uint32_t localTime) override;
    void reserved() override {}

  private:
    uint32_t firstStart_;
    uint32_t secondStart_;
    uint8_t textMode_;
    uint8_t clearColour_[4];
};
