// The interface every effect scene implements. The Demo creates each scene once,
// asks it when its showings begin and has it draw the frame of the moment.
#pragma once

#include <cstdint>

class Scene {
  public:
    // Builds the scene's data (images, meshes, tracks); anything but 0 aborts start-up.
    virtual int init() = 0;
    // Demo time (ms) at which showing `which` (1 or 2) begins; may switch showings.
    virtual uint32_t startTime(uint8_t which) = 0;
    // Draws one frame for the time since the start of the showing and sets the
    // text mode. Times of 1000000 and more ask for a caption-free replay.
    virtual uint8_t render(uint32_t localTime) = 0;
    virtual void reserved() = 0;
    // Declared after the four operations so that they keep their slots.
    virtual ~Scene() = default;
};

// Added to a scene's local time when the replay scene redraws it.
constexpr uint32_t SCENE_REPLAY_OFFSET = 1000000;
