// The console cell of every 15-bit colour in both text modes, worked out at
// build time (tools/text_cells_gen.cpp) by the table fills of textmode/, so
// that the show starts without searching. Stored as runs of equal cells over
// the colours in index order.
#pragma once

#include <cstddef>
#include <cstdint>

// Three bytes a run: the number of colours (1 to 255), then the character and
// the attribute of their cell.
struct TextCellRuns {
    const uint8_t* bytes;
    size_t size;
};

// Indexed by the text mode: 0 glyphs, 1 shade blocks.
extern const TextCellRuns TEXT_CELL_RUNS[2];
