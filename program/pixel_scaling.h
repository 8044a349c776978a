// Enlarging a picture by whole factors for video players that would otherwise
// blur its cells when they scale it up.
#pragma once

#include <cstddef>
#include <cstdint>

// Enlarges `width` x `height` RGBA pixels `scale` times by repeating each one
// (nearest neighbour) into `target`, which holds width * scale x height * scale.
void scalePicture(const uint8_t* source, size_t sourcePitch, int width, int height, int scale,
                  uint8_t* target, size_t targetPitch);
