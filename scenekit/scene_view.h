// What every scene's frame starts from, and how captions are placed.
#pragma once

#include <cstdint>

// The view all scenes share: the perspective frustum x -1..1, y 0.8..-0.8 (the
// picture's top is +y), near 1, far 100, then the model-view matrix set to
// identity, ready for the scene's own transforms.
void beginSceneView();

// A caption coordinate given in half pixels, in pixels: doubled in 16 bits,
// wrapping as 16 bits do.
int16_t doubled(int16_t halfPixels);
