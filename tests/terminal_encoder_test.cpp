#include "platform/terminal_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A screen buffer of 80x50 CHAR_INFO records.
struct Cells {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(80 * 50 * 4, 0);
    void set(int row, int column, uint8_t character, uint8_t attribute) {
        uint8_t* cell = &bytes[static_cast<size_t>(row * 80 + column) * 4];
        cell[0] = character;
        cell[2] = attribute;
    }
    const uint8_t* data() const { return bytes.data(); }
};

std::string encode(TerminalEncoder& encoder, const Cells& cells) {
    return std::string(encoder.encodeFrame(cells.data(), 80 * 4));
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(TerminalEncoder, SmallDiffsSendOnlyChangedCellsWithShortestMoves) {
    TerminalEncoder encoder(TerminalColors::TrueColor, 80, 50);
    Cells cells;
    encode(encoder, cells);  // first frame: full repaint

    cells.set(2, 5, 'A', 0x1F);
    cells.set(2, 6, 'B', 0x1F);
    EXPECT_EQ(encode(encoder, cells),
              "\x1b[?2026h\x1b[3;6H\x1b[38;2;255;255;255;48;2;0;0;128mAB\x1b[?2026l");

    // Same colours: no colour escape. Two columns back: two backspaces; two
    // rows down (line feeds keep the column) to the first column.
    cells.set(2, 5, 'C', 0x1F);
    cells.set(4, 0, 'D', 0x1F);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\b\bC\n\n\rD\x1b[?2026l");

    // Only the background changes; the cursor is one column on.
    cells.set(4, 0, 'D', 0x2F);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\r\x1b[48;2;0;128;0mD\x1b[?2026l");

    // A gap of one unchanged cell in the same colours is drawn again (1 byte)
    // rather than skipped (3 bytes); a wide gap is skipped.
    cells.set(4, 1, 'E', 0x2F);
    cells.set(4, 2, 'F', 0x2F);
    cells.set(4, 12, 'G', 0x2F);
    encode(encoder, cells);
    cells.set(4, 0, 'd', 0x2F);
    cells.set(4, 2, 'f', 0x2F);
    cells.set(4, 12, 'g', 0x2F);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\rdEf\x1b[9Cg\x1b[?2026l");
    // The next row, near the cursor: a line feed and a backspace; back up
    // there: reverse index.
    cells.set(5, 12, 'h', 0x2F);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\n\bh\x1b[?2026l");
    cells.set(4, 13, 'i', 0x2F);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\x1bMi\x1b[?2026l");
    // Far away: an absolute position.
    cells.set(40, 50, 'j', 0x2F);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\x1b[41;51Hj\x1b[?2026l");

    // Nothing changed, or only bytes that are not shown: nothing is sent.
    EXPECT_EQ(encode(encoder, cells), "");
    cells.bytes[(4 * 80 + 0) * 4 + 1] = 0x55;  // high byte of the character field
    cells.bytes[(4 * 80 + 0) * 4 + 3] = 0x80;  // high byte of the attribute word
    EXPECT_EQ(encode(encoder, cells), "");
}

TEST(TerminalEncoder, CellsThatLookAlikeSendNothingAndSolidCellsUseTheColoursSet) {
    TerminalEncoder encoder(TerminalColors::Ansi16, 80, 50);
    Cells cells;
    cells.set(0, 0, ' ', 0x41);  // blank on red
    cells.set(0, 1, 219, 0x03);  // full block in cyan
    cells.set(0, 2, 'x', 0x22);  // a character in its own background colour: green
    cells.set(0, 3, 'y', 0x34);  // a character in two colours
    encode(encoder, cells);

    // What does not show changes: a blank's foreground, a full block's
    // background, the character in a one-colour cell, 0 / space / 255 blanks,
    // and a full block against a blank of the same colour.
    cells.set(0, 0, 0, 0x4E);
    cells.set(0, 1, ' ', 0x35);
    cells.set(0, 2, 219, 0x72);
    EXPECT_EQ(encode(encoder, cells), "");
    cells.set(0, 0, 255, 0x47);
    cells.set(0, 2, 'z', 0x22);
    EXPECT_EQ(encode(encoder, cells), "");

    // A solid cell in the foreground set now is a full block (no colour
    // change); in neither colour, a blank on a new background.
    cells.set(0, 4, ' ', 0x40);  // 'y' was the last cell drawn: foreground red is set
    cells.set(0, 5, ' ', 0x50);  // magenta: neither colour set
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\x1b[1;5H\xE2\x96\x88\x1b[45m \x1b[?2026l");
}

TEST(TerminalEncoder, CellsAreGroupedByColoursWhenThatIsShorter) {
    // Every other cell of a row in one of two colour pairs: in screen order
    // each cell would need a colour change; grouped, each pair is set once.
    TerminalEncoder encoder(TerminalColors::TrueColor, 80, 50);
    Cells cells;
    encode(encoder, cells);
    for (int column = 0; column < 40; column += 2) {
        cells.set(10, column, 'a', 0x1E);
        cells.set(10, column + 1, 'b', 0x4A);
    }
    const std::string frame = encode(encoder, cells);
    EXPECT_EQ(count(frame, "m"), 2u) << frame;
    EXPECT_EQ(count(frame, "a"), 20u);
    EXPECT_EQ(count(frame, "b"), 20u);
    EXPECT_LT(frame.size(), 20u * 2u * 6u);
}

TEST(TerminalEncoder, FullRepaintClearsAndDrawsEveryCell) {
    TerminalEncoder encoder(TerminalColors::TrueColor, 80, 50);
    Cells cells;
    const std::string first = encode(encoder, cells);
    // New-line mode and scrolling region reset, default colours, clear; then
    // one black area row by row (after the last column the cursor's column is
    // not relied on: a carriage return).
    std::string expected = "\x1b[?2026h\x1b[20l\x1b[r\x1b[0m\x1b[2J\x1b[1H\x1b[48;2;0;0;0m";
    for (int row = 0; row < 50; ++row) {
        if (row > 0) expected += "\n\r";
        expected += std::string(80, ' ');
    }
    expected += "\x1b[?2026l";
    EXPECT_EQ(first, expected);

    encoder.invalidate();
    EXPECT_EQ(encode(encoder, cells), first);
}

TEST(TerminalEncoder, SmallerTerminalGetsOnlyTheTopLeftPart) {
    TerminalEncoder encoder(TerminalColors::TrueColor, 80, 50);
    encoder.setTerminalSize(40, 20);
    Cells cells;
    const std::string frame = encode(encoder, cells);
    EXPECT_EQ(count(frame, " "), 40u * 20u);

    cells.set(30, 10, 'x', 7);  // below the visible part
    cells.set(5, 60, 'x', 7);   // right of it
    EXPECT_EQ(encode(encoder, cells), "");
    // The last visible cell; the cursor's column after the last column is not
    // relied on (terminals differ there): an absolute column.
    cells.set(19, 39, 'y', 7);
    EXPECT_EQ(encode(encoder, cells), "\x1b[?2026h\x1b[40G\x1b[38;2;192;192;192my\x1b[?2026l");

    // Growing the terminal repaints everything that now fits.
    encoder.setTerminalSize(100, 60);
    const std::string grown = encode(encoder, cells);
    EXPECT_NE(grown.find("\x1b[2J"), std::string::npos);
    EXPECT_EQ(count(grown, "x"), 2u);
}

TEST(TerminalEncoder, Cp437ShadesAndBlocksBecomeUtf8) {
    TerminalEncoder encoder(TerminalColors::TrueColor, 80, 50);
    Cells cells;
    encode(encoder, cells);
    cells.set(0, 0, 176, 7);
    cells.set(0, 1, 177, 7);
    cells.set(0, 2, 178, 7);
    cells.set(0, 3, 219, 7);
    cells.set(0, 4, 1, 7);
    cells.set(0, 5, 127, 7);
    cells.set(0, 6, 130, 7);
    EXPECT_EQ(encode(encoder, cells),
              "\x1b[?2026h\x1b[1H\x1b[38;2;192;192;192m\xE2\x96\x91\xE2\x96\x92\xE2\x96\x93"
              "\xE2\x96\x88\xE2\x98\xBA\xE2\x8C\x82\xC3\xA9\x1b[?2026l");

    EXPECT_EQ(cp437ToUnicode(0), U' ');
    EXPECT_EQ(cp437ToUnicode('A'), U'A');
    EXPECT_EQ(cp437ToUnicode(31), U'\u25BC');
    EXPECT_EQ(cp437ToUnicode(220), U'\u2584');
    EXPECT_EQ(cp437ToUnicode(223), U'\u2580');
    EXPECT_EQ(cp437ToUnicode(255), U'\u00A0');
}

TEST(TerminalEncoder, PaletteFallbacks) {
    // Nearest entries 16-255 of the 256-colour table, by console colour.
    const uint8_t expected256[16] = {16,  18, 28, 30, 88,  90,  100, 250,
                                     244, 21, 46, 51, 196, 201, 226, 231};
    for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(nearest256Color(i), expected256[i]) << int(i);

    // Console blue is bit 0, ANSI blue bit 2.
    EXPECT_EQ(ansiColor(1), 4);
    EXPECT_EQ(ansiColor(4), 1);
    EXPECT_EQ(ansiColor(3), 6);
    EXPECT_EQ(ansiColor(6), 3);
    EXPECT_EQ(ansiColor(9), 12);
    EXPECT_EQ(ansiColor(14), 11);

    Cells cells;
    cells.set(0, 0, 'a', 0x1F);
    cells.set(0, 1, 'b', 0x47);
    cells.set(0, 2, 'c', 0x08);
    TerminalEncoder palette(TerminalColors::Palette256, 80, 50);
    std::string frame = encode(palette, cells);
    EXPECT_NE(frame.find("\x1b[38;5;231;48;5;18ma\x1b[38;5;250;48;5;88mb\x1b[38;5;244;48;5;16mc"),
              std::string::npos);
    TerminalEncoder ansi(TerminalColors::Ansi16, 80, 50);
    frame = encode(ansi, cells);
    EXPECT_NE(frame.find("\x1b[97;44ma\x1b[37;41mb\x1b[90;40mc"), std::string::npos);
}

TEST(TerminalEncoder, ColourDepthChoice) {
    using TC = TerminalColors;
    EXPECT_EQ(chooseTerminalColors(TC::Auto, "truecolor", "xterm"), TC::TrueColor);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, "24bit", nullptr), TC::TrueColor);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, nullptr, "xterm-256color"), TC::Palette256);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, "", "xterm"), TC::Palette256);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, nullptr, "linux"), TC::Ansi16);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, "yes", "screen"), TC::Ansi16);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, nullptr, "screen-256color"), TC::Palette256);
    EXPECT_EQ(chooseTerminalColors(TC::Auto, nullptr, nullptr), TC::Ansi16);
    EXPECT_EQ(chooseTerminalColors(TC::Palette256, "truecolor", "xterm"), TC::Palette256);
    EXPECT_EQ(chooseTerminalColors(TC::TrueColor, nullptr, "linux"), TC::TrueColor);
}
