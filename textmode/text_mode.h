// The text mode selector: the scene of each frame tells the frame loop how its
// picture becomes console cells (0 font-derived glyphs, 1 shade blocks, any
// other value: keep the previous cells).
#pragma once

#include <cstdint>

void setTextMode(uint8_t mode);
uint8_t textMode();
