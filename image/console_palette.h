// The classic 16-colour console palette, by console colour index (attribute
// bits: 1 blue, 2 green, 4 red, 8 bright). This is how a console shows a cell;
// the text-mode tables use palettes of their own for matching.
#pragma once

#include <array>
#include <cstdint>

struct ConsoleRgb {
    uint8_t r, g, b;
};

inline constexpr std::array<ConsoleRgb, 16> CONSOLE_PALETTE = {{
    {0, 0, 0},
    {0, 0, 128},
    {0, 128, 0},
    {0, 128, 128},
    {128, 0, 0},
    {128, 0, 128},
    {128, 128, 0},
    {192, 192, 192},
    {128, 128, 128},
    {0, 0, 255},
    {0, 255, 0},
    {0, 255, 255},
    {255, 0, 0},
    {255, 0, 255},
    {255, 255, 0},
    {255, 255, 255},
}};
