// Turns a screen of console cells (CHAR_INFO records) into the bytes a UTF-8
// terminal needs to show it: code page 437 characters as Unicode, console colours
// through the classic palette in 24-bit, 256 or 16 colours, and only the cells
// that changed since the previous frame. Pure: no system calls.
//
// Few bytes for the same picture: cells are compared by how they look (a blank
// cell's foreground, a full block's background do not show), a solid cell is
// drawn as a blank or a full block, whichever the colours already set allow,
// colours are sent only when they change, and the cursor takes the shortest of
// absolute and relative moves or runs over a few unchanged cells; cells are
// drawn in screen order or grouped by colours, whichever is shorter. Only
// sequences that xterm, VTE, kitty, alacritty, tmux and screen all read alike:
// CUP, CHA, CUF, CUB, CUU, CUD, CR, LF, BS, RI, SGR 0 and the colour forms of
// the chosen depth, ED 2, DECSTBM, LNM off and the synchronised-update mode
// (ignored where unknown).
//
// The bytes must reach the terminal unchanged: a line feed moves the cursor
// down in its column, so the terminal driver must not add a carriage return
// (ONLCR off while frames are sent).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

enum class TerminalColors : uint8_t { Auto, TrueColor, Palette256, Ansi16 };

// The colour depth to use: an explicit request wins; otherwise 24-bit when
// COLORTERM says truecolor or 24bit, 16 colours for terminal types known to
// have no more, and the 256-colour table for everything else. Either string may be null.
// Reads a colour depth as the --colors option gives it: "truecolor", "256" or "16";
// "" is Auto. False for anything else.
bool parseTerminalColors(std::string_view text, TerminalColors& colors);
// How a chosen depth is named in reports: "24-bit colour", "256 colours", "16 colours".
const char* terminalColorsName(TerminalColors colors);
TerminalColors chooseTerminalColors(TerminalColors requested, const char* colorterm,
                                    const char* term);

// Code point of a code page 437 character as shown on screen (0 shows as a blank).
char32_t cp437ToUnicode(uint8_t character);
// Index (16-255) of the 256-colour table entry nearest to console colour 0-15.
uint8_t nearest256Color(uint8_t consoleColor);
// ANSI colour number 0-7 (bit 0 red, bit 2 blue) plus 8 when bright, for console colour 0-15.
uint8_t ansiColor(uint8_t consoleColor);

class TerminalEncoder {
  public:
    // A screen buffer of `columns` x `rows` cells; `colors` must not be Auto.
    TerminalEncoder(TerminalColors colors, int16_t columns, int16_t rows);

    // The terminal's actual size; the cells beyond it are not drawn. Forces a full repaint.
    void setTerminalSize(int16_t columns, int16_t rows);
    // The next frame repaints every cell (after a resize, a resume, or when the
    // screen content is unknown).
    void invalidate() { repaintAll_ = true; }
    // The next frame starts from an unknown cursor position and colours; the
    // cells stay as shown (for bytes that continue other output on the terminal).
    void forgetCursor() { cursorRow_ = cursorColumn_ = foreground_ = background_ = -1; }

    // Encodes the cells (columns x rows CHAR_INFO records, rows `pitch` bytes apart)
    // against what the terminal shows now and remembers them as shown. The answer
    // stays valid until the next call; it is empty when nothing changed.
    std::string_view encodeFrame(const uint8_t* cells, int32_t pitch);

  private:
    void appendText(std::string_view text);
    void appendNumber(unsigned value);
    void moveCursor(int row, int column);
    // Ways to move the cursor along its row.
    enum class HorizontalMove { None, RunOver, Forward, Backspaces, Backward, Return, Column };
    int horizontalMoveCost(int row, int from, int to, HorizontalMove& way) const;
    enum class MoveWay { None, Absolute, Vertical, LineFeeds };
    int moveCost(int row, int column, MoveWay& way) const;
    void appendRelativeMove(int count, char final);
    void appendHorizontalMove(int from, int to);
    int runOverCost(int row, int from, int to) const;
    void appendColors(int foreground, int background);
    void appendColorParams(int color, bool background);
    void appendCharacter(uint8_t character);
    void appendLook(uint32_t look);

    void drawCell(size_t index);
    void drawByColors(const uint32_t* begin, const uint32_t* end);
    void drawInScreenOrder(const uint32_t* begin, const uint32_t* end);

    TerminalColors colors_;
    int16_t columns_;
    int16_t rows_;
    int16_t terminalColumns_;
    int16_t terminalRows_;
    bool repaintAll_ = true;
    std::vector<uint32_t> shown_;    // look of each cell on the terminal
    std::vector<uint32_t> wanted_;   // look of each cell in the frame being encoded
    std::vector<uint8_t> drawn_;     // the changed cells drawn so far
    std::vector<uint32_t> changed_;  // indices of the cells to draw, in screen order
    std::vector<char> out_;          // the shortest encoding of the frame so far
    std::vector<char> scratch_;      // the encoding being tried
    char* buffer_ = nullptr;         // where appended bytes go
    size_t length_ = 0;
    int cursorRow_ = -1;     // -1: unknown
    int cursorColumn_ = -1;  // -1: unknown (also after the last column, where terminals differ)
    int foreground_ = -1;    // console colour set on the terminal, -1: unknown
    int background_ = -1;
};
