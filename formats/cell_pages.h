// One frame of console cells as pages to share: ANSI art (code page 437 with
// colour sequences and a SAUCE record, for the usual ANSI-art viewers), plain
// text in UTF-8, and a standalone HTML page with the cells in colour. Pure: the
// bytes are made in memory, writeFileBytes() puts them in a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A screen of CHAR_INFO cells: `columns` x `rows` records of 4 bytes, rows
// `pitch` bytes apart (see platform/console.h).
struct CellScreen {
    const uint8_t* cells = nullptr;
    int32_t pitch = 0;
    int columns = 0;
    int rows = 0;
};

// What the SAUCE record says about the picture beside its size; longer texts are cut.
struct SauceText {
    std::string_view title;   // up to 35 characters
    std::string_view author;  // up to 20
    std::string_view group;   // up to 20
    std::string_view date;    // CCYYMMDD, or empty
};

// The font name the SAUCE record gives: the VGA font of the 50-line text mode
// (8x8), which viewers pick for 80x50 pictures.
inline constexpr std::string_view ANSI_ART_FONT = "IBM VGA50";

// The cells as ANSI art: each cell's code page 437 byte after the SGR sequence
// that sets its colours when they change (foreground 30-37 with bold for the
// bright half, background 40-47 with blink for the bright half, read as bright
// background by viewers in iCE colour mode), full rows without line breaks, then
// an end-of-file byte and a SAUCE record: character data, ANSi file type,
// columns x rows, iCE colours and 8-pixel letter spacing. The five bytes that
// ANSI viewers take as control codes (tab, line feed, carriage return, end of
// file, escape) cannot be shown as glyphs and are written as the closest glyph
// they can show (ansiArtCharacter()).
std::string encodeAnsiArt(const CellScreen& screen, const SauceText& sauce);
// The code page 437 byte written for `character` (itself except the five above).
uint8_t ansiArtCharacter(uint8_t character);

// The characters as UTF-8 (code page 437 as the console shows it), one line per row.
std::string encodeCellText(const CellScreen& screen);

// A standalone HTML page: the cells in a <pre> block in a monospace font on
// black, one <span> per run of cells with the same colours, text HTML-escaped.
std::string encodeCellHtml(const CellScreen& screen, std::string_view title);

// Writes `bytes` as the whole content of `path`; false with `error` set when the
// file cannot be created or any byte cannot be written.
bool writeFileBytes(const std::string& path, std::string_view bytes, std::string& error);
