#include "shell/stand_in_demo.h"

#include "demo/text_mode.h"
#include "platform/console_palette.h"

namespace {

constexpr uint8_t FULL_BLOCK = 219;

uint8_t nearestConsoleColor(int r, int g, int b) {
    uint8_t best = 0;
    int bestDistance = 1 << 30;
    for (uint8_t i = 0; i < CONSOLE_PALETTE.size(); ++i) {
        const ConsoleRgb& c = CONSOLE_PALETTE[i];
        const int distance = (c.r - r) * (c.r - r) + (c.g - g) * (c.g - g) + (c.b - b) * (c.b - b);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
        }
    }
    return best;
}

}  // namespace

int StandInDemo::init(const Size16& renderSize) {
    const int result = color_.create(renderSize, 4);
    started_ = 0;
    return result;
}

uint8_t StandInDemo::update(uint32_t now) {
    if (!started_) {
        started_ = 1;
        startTick_ = now;
    }
    const uint32_t elapsed = now - startTick_;
    setTextMode(1);
    if (color_.pixels() == nullptr) return 0;

    // Diagonal colour bars drifting to the left, crossed by a light band that
    // runs down the picture once a second.
    const int shift = static_cast<int>(elapsed / 20 % 160);
    const int bandRow = static_cast<int>(elapsed % 1000 * color_.height() / 1000);
    for (int16_t y = 0; y < color_.height(); ++y) {
        for (int16_t x = 0; x < color_.width(); ++x) {
            uint8_t* p = color_.pixelAt({x, y});
            const int bar = (x + y / 2 + shift) / 20 % 8;
            const bool band = y >= bandRow && y < bandRow + 6;
            p[0] = (bar & 4) ? 255 : (band ? 192 : 0);
            p[1] = (bar & 2) ? 255 : (band ? 192 : 0);
            p[2] = (bar & 1) ? 255 : (band ? 192 : 0);
            p[3] = 255;
        }
    }
    return elapsed > STAND_IN_RUN_MS ? 0 : 1;
}

void StandInDemo::shutdown() {
    color_.release();
}

void StandInDemo::paintCellsWithoutConverter(Surface* cells) const {
    if (cells == nullptr || cells->bytesPerPixel() != 4 || color_.pixels() == nullptr) return;
    const int16_t width = static_cast<int16_t>(
        color_.width() / 2 < cells->width() ? color_.width() / 2 : cells->width());
    const int16_t height = static_cast<int16_t>(
        color_.height() / 2 < cells->height() ? color_.height() / 2 : cells->height());
    for (int16_t y = 0; y < height; ++y) {
        for (int16_t x = 0; x < width; ++x) {
            int sum[3] = {0, 0, 0};
            for (int16_t dy = 0; dy < 2; ++dy) {
                for (int16_t dx = 0; dx < 2; ++dx) {
                    const uint8_t* p = color_.pixelAt(
                        {static_cast<int16_t>(2 * x + dx), static_cast<int16_t>(2 * y + dy)});
                    for (int c = 0; c < 3; ++c) sum[c] += p[c];
                }
            }
            uint8_t* cell = cells->pixelAt({x, y});
            cell[0] = FULL_BLOCK;
            cell[1] = 0;
            cell[2] = nearestConsoleColor(sum[0] / 4, sum[1] / 4, sum[2] / 4);
            cell[3] = 0;
        }
    }
}
