#include "scenekit/noise.h"

#include <algorithm>
#include <cstddef>

int32_t noiseState = NOISE_INITIAL_STATE;

void fillNoise(const int16_t rect[4], Surface* target) {
    if (rect == nullptr || target == nullptr || target->pixels() == nullptr) return;
    if (target->bytesPerPixel() != 4) return;
    const int width = std::min<int>(rect[2], target->width());
    const int height = std::min<int>(rect[3], target->height());
    if (width <= 0 || height <= 0) return;

    uint32_t state = uint32_t(noiseState);
    for (int y = 0; y < height; ++y) {
        uint8_t* pixel = target->pixels() + ptrdiff_t(y) * target->pitch();
        for (int x = 0; x < width; ++x, pixel += 4) {
            const uint32_t feedback = state ^ (state >> 3);
            state = ((feedback & 1) << 30) | (state >> 1);
            const uint8_t grey = uint8_t((feedback >> 1) & 0xFF);
            pixel[0] = pixel[1] = pixel[2] = pixel[3] = grey;
        }
    }
    noiseState = int32_t(state);
}
