// The interface every effect scene implements. The Demo creates each scene once,
// asks it when its showings begin and has it draw the frame of the moment.
#pragma once

#include <cstdint>

#include "scenekit/state_record.h"

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
    // Saves or restores what the scene's frames change and later frames read.
    virtual void keepState(StateRecord& record) { (void)record; }
};

// Added to a scene's local time when the replay scene redraws it.
constexpr uint32_t SCENE_REPLAY_OFFSET = 1000000;

// The seven scenes in creation order.
enum DemoSceneSlot : uint8_t {
    SLOT_CUBES,       // tumbling cubes
    SLOT_SPHERE,      // sphere with light shafts
    SLOT_NOISE_TEXT,  // noise text finale
    SLOT_CROSSES,     // flashing light crosses
    SLOT_METABALLS,   // metaball height field
    SLOT_GLOW,        // glow-trail text
    SLOT_REPLAY,      // scene replay
    DEMO_SCENE_COUNT
};

// The show's scenes by slot, for a scene that draws others (the replay).
class SceneSet {
  public:
    virtual Scene* scene(DemoSceneSlot slot) const = 0;

  protected:
    ~SceneSet() = default;
};

// Creates one scene of the show; `scenes` is the set that will own it.
using SceneFactory = Scene* (*)(const SceneSet& scenes);
