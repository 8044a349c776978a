// Works out the console cell of every 15-bit colour in both text modes with the
// table fills of textmode/ and writes them as runs of equal cells into a C++
// source (see data/text_cells.h).
#include <cstdint>
#include <cstdio>
#include <vector>

#include "data/console_font.h"
#include "textmode/text_converter.h"
#include "textmode/text_tables.h"
#include "tools/asset_output.h"

namespace {

// The runs of a table of 4-byte cells (character, untouched, attribute, 0).
std::vector<uint8_t> cellRuns(const std::vector<uint8_t>& table) {
    std::vector<uint8_t> runs;
    for (int c = 0; c < TEXT_TABLE_SIZE;) {
        const uint8_t character = table[size_t(c) * 4];
        const uint8_t attribute = table[size_t(c) * 4 + 2];
        int length = 1;
        while (c + length < TEXT_TABLE_SIZE && length < 255 &&
               table[size_t(c + length) * 4] == character &&
               table[size_t(c + length) * 4 + 2] == attribute) {
            ++length;
        }
        runs.insert(runs.end(), {uint8_t(length), character, attribute});
        c += length;
    }
    runs.insert(runs.end(), {0, 0, 0});
    return runs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s text_cells.cpp\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> glyphTable(TEXT_TABLE_SIZE * 4);
    std::vector<GlyphCandidate> glyphs(GLYPH_CANDIDATES_MAX);
    const size_t glyphCount = buildGlyphCandidates(chooseGlyphLevels(CONSOLE_FONT), glyphs.data());
    fillGlyphTable(glyphs.data(), glyphCount, glyphTable.data());

    std::vector<uint8_t> shadeTable(TEXT_TABLE_SIZE * 4);
    std::vector<ShadeCandidate> shades(SHADE_CANDIDATES_MAX);
    fillShadeTable(shades.data(), buildShadeCandidates(shades.data()), shadeTable.data());

    ArraySourceWriter source({"data/text_cells.h"});
    source.add("GLYPH_CELL_RUNS", cellRuns(glyphTable));
    source.add("SHADE_CELL_RUNS", cellRuns(shadeTable));
    if (!source.write(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
