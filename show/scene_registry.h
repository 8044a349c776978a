// The constructors of the show's seven scenes, in the Demo's creation order.
#pragma once

#include <array>

#include "show/demo.h"

const std::array<SceneFactory, DEMO_SCENE_COUNT>& showSceneFactories();
