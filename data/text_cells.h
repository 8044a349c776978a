// The console cell of every 15-bit colour in both text modes, worked out at
// build time (tools/text_cells_gen.cpp) by the table fills of textmode/, so
// that the show starts without searching. Stored as runs of equal cells over
// the colours in index order.
#pragma once

#include <cstdint>

// Three bytes a run: the number of colours (1 to 255), then the character and
// the attribute of their cell; a run of 0 colours ends the list.
extern const uint8_t GLYPH_CELL_RUNS[];
extern const uint8_t SHADE_CELL_RUNS[];
