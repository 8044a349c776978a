// Enlarging a picture by whole factors for video players that would otherwise
// blur its cells when they scale it up.
#pragma once

#include <cstddef>
#include <cstdint>

// Enlarges `width` x `height` RGBA pixels `scale` times by repeating each one
// (nearest neighbour) into `target`, which holds width * scale x height * scale.
void scalePicture(const uint8_t* source, size_t sourcePitch, int width, int height, int scale,
                  uint8_t* target, size_t targetPitch);

// The planes of a YUV 4:2:0 picture: Y, then U and V at half the width and height
// (rounded up).
struct Yuv420Planes {
    uint8_t* planes[3];
    int pitches[3];
};

// Converts `width` x `height` RGBA pixels, enlarged `scale` times as scalePicture
// does, to BT.709 limited-range YUV 4:2:0 in one pass: each colour sample is the
// mean of the 2x2 enlarged pixels it covers, so at even scales it is exactly the
// colour of one picture pixel. Alpha is ignored.
void scalePictureToYuv420(const uint8_t* source, size_t sourcePitch, int width, int height,
                          int scale, const Yuv420Planes& target);
