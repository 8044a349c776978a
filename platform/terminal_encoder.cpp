#include "platform/terminal_encoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "image/console_palette.h"
#include "platform/terminal_sequences.h"

namespace {

// Code page 437 as the console shows it: the graphic forms for the control
// codes 1-31 and 127, and 0 as a blank.
constexpr std::array<char16_t, 256> CP437_UNICODE = {{
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // 0
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // 8
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // 16
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // 24
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 32
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 40
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 48
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 56
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 64
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 72
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 80
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 88
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 96
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 104
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 112
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302,  // 120
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 128
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 136
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 144
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 152
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // 160
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // 168
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // 176
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // 184
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // 192
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // 200
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // 208
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // 216
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // 224
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // 232
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // 240
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // 248
}};

constexpr int cubeLevel(int step) {
    return step == 0 ? 0 : 55 + 40 * step;
}

constexpr int squaredDistance(const ConsoleRgb& c, int r, int g, int b) {
    return (c.r - r) * (c.r - r) + (c.g - g) * (c.g - g) + (c.b - b) * (c.b - b);
}

// Entries 16-231 are the 6x6x6 colour cube, 232-255 the grey ramp 8, 18, ..., 238.
constexpr uint8_t computeNearest256(const ConsoleRgb& c) {
    int best = 16;
    int bestDistance = 1 << 30;
    for (int index = 16; index < 256; ++index) {
        int r, g, b;
        if (index < 232) {
            const int cube = index - 16;
            r = cubeLevel(cube / 36);
            g = cubeLevel(cube / 6 % 6);
            b = cubeLevel(cube % 6);
        } else {
            r = g = b = 8 + 10 * (index - 232);
        }
        const int distance = squaredDistance(c, r, g, b);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = index;
        }
    }
    return static_cast<uint8_t>(best);
}

constexpr std::array<uint8_t, 16> NEAREST_256 = [] {
    std::array<uint8_t, 16> table{};
    for (size_t i = 0; i < 16; ++i) table[i] = computeNearest256(CONSOLE_PALETTE[i]);
    return table;
}();

// Worst case per cell: a cursor move, both colours in 24 bits and a 3-byte
// character; a frame also runs over at most a few cells per changed cell.
constexpr size_t MAX_BYTES_PER_CELL = 80;
constexpr size_t FRAME_OVERHEAD_BYTES = 64;

constexpr uint8_t FULL_BLOCK = 219;
constexpr char FULL_BLOCK_UTF8[] = "\xE2\x96\x88";

// How a cell looks: SOLID plus the colour for a cell of one colour (a blank
// character shows its background only, a full block its foreground only, and
// any character in the same foreground and background is a plain area),
// otherwise the character and the attribute byte.
constexpr uint32_t SOLID = 1u << 16;

uint32_t cellLook(uint8_t character, uint8_t attribute) {
    const uint8_t foreground = attribute & 15;
    const uint8_t background = attribute >> 4;
    if (character == 0 || character == ' ' || character == 255) return SOLID | background;
    if (character == FULL_BLOCK || foreground == background) return SOLID | foreground;
    return (uint32_t{character} << 8) | attribute;
}

int utf8Length(uint8_t character) {
    const char32_t code = CP437_UNICODE[character];
    return code < 0x80 ? 1 : code < 0x800 ? 2 : 3;
}

int decimalDigits(int value) {
    int digits = 1;
    for (; value >= 10; value /= 10) ++digits;
    return digits;
}

// CSI and the final byte.
constexpr int CSI_COST = static_cast<int>(vt::CSI.size()) + 1;

// CSI n <final>, with n left out where it is 1.
int relativeMoveCost(int count) {
    return count == 1 ? CSI_COST : CSI_COST + decimalDigits(count);
}

// CSI row H, or CSI row ; column H.
int absoluteMoveCost(int row, int column) {
    return column == 0 ? CSI_COST + decimalDigits(row + 1)
                       : CSI_COST + 1 + decimalDigits(row + 1) + decimalDigits(column + 1);
}

bool startsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

bool parseTerminalColors(std::string_view text, TerminalColors& colors) {
    if (text.empty()) {
        colors = TerminalColors::Auto;
    } else if (text == "truecolor") {
        colors = TerminalColors::TrueColor;
    } else if (text == "256") {
        colors = TerminalColors::Palette256;
    } else if (text == "16") {
        colors = TerminalColors::Ansi16;
    } else {
        return false;
    }
    return true;
}

const char* terminalColorsName(TerminalColors colors) {
    switch (colors) {
        case TerminalColors::Palette256:
            return "256 colours";
        case TerminalColors::Ansi16:
            return "16 colours";
        default:
            return "24-bit colour";
    }
}

TerminalColors chooseTerminalColors(TerminalColors requested, const char* colorterm,
                                    const char* term) {
    if (requested != TerminalColors::Auto) return requested;
    if (colorterm != nullptr &&
        (std::strcmp(colorterm, "truecolor") == 0 || std::strcmp(colorterm, "24bit") == 0)) {
        return TerminalColors::TrueColor;
    }
    if (term == nullptr || term[0] == 0) return TerminalColors::Ansi16;
    if (std::strstr(term, "256color") != nullptr || std::strstr(term, "direct") != nullptr) {
        return TerminalColors::Palette256;
    }
    static constexpr const char* SIXTEEN_COLOUR_TERMS[] = {"linux", "vt",     "ansi", "cons25",
                                                           "dumb",  "screen", "sun",  "wsvt25"};
    for (const char* prefix : SIXTEEN_COLOUR_TERMS) {
        if (startsWith(term, prefix)) return TerminalColors::Ansi16;
    }
    if (std::strstr(term, "16color") != nullptr || std::strstr(term, "8color") != nullptr) {
        return TerminalColors::Ansi16;
    }
    return TerminalColors::Palette256;
}

char32_t cp437ToUnicode(uint8_t character) {
    return CP437_UNICODE[character];
}

uint8_t nearest256Color(uint8_t consoleColor) {
    return NEAREST_256[consoleColor & 15];
}

uint8_t ansiColor(uint8_t consoleColor) {
    // Console colours put blue in bit 0 and red in bit 2; ANSI the other way round.
    return static_cast<uint8_t>(((consoleColor & 1) << 2) | (consoleColor & 2) |
                                ((consoleColor & 4) >> 2) | (consoleColor & 8));
}

TerminalEncoder::TerminalEncoder(TerminalColors colors, int16_t columns, int16_t rows)
    : colors_(colors == TerminalColors::Auto ? TerminalColors::TrueColor : colors),
      columns_(std::max<int16_t>(columns, 0)),
      rows_(std::max<int16_t>(rows, 0)),
      terminalColumns_(columns_),
      terminalRows_(rows_),
      shown_(static_cast<size_t>(columns_) * static_cast<size_t>(rows_)),
      wanted_(shown_.size()),
      drawn_(shown_.size()),
      out_(shown_.size() * MAX_BYTES_PER_CELL + FRAME_OVERHEAD_BYTES),
      scratch_(out_.size()) {
    changed_.reserve(shown_.size());
}

void TerminalEncoder::setTerminalSize(int16_t columns, int16_t rows) {
    terminalColumns_ = std::max<int16_t>(columns, 0);
    terminalRows_ = std::max<int16_t>(rows, 0);
    repaintAll_ = true;
}

void TerminalEncoder::appendText(std::string_view text) {
    std::memcpy(buffer_ + length_, text.data(), text.size());
    length_ += text.size();
}

void TerminalEncoder::appendNumber(unsigned value) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) buffer_[length_++] = digits[--count];
}

// Bytes needed to draw the cells [from, to) of the cursor's row as wanted with
// the colours set now, or -1 when one of them needs other colours.
int TerminalEncoder::runOverCost(int row, int from, int to) const {
    int cost = 0;
    const uint32_t* looks = &wanted_[static_cast<size_t>(row) * static_cast<size_t>(columns_)];
    for (int column = from; column < to; ++column) {
        const uint32_t look = looks[column];
        if (look & SOLID) {
            const int color = static_cast<int>(look & 15);
            if (color == background_) {
                cost += 1;
            } else if (color == foreground_) {
                cost += 3;
            } else {
                return -1;
            }
        } else {
            const int attribute = static_cast<int>(look & 0xFF);
            if ((attribute & 15) != foreground_ || (attribute >> 4) != background_) return -1;
            cost += utf8Length(static_cast<uint8_t>(look >> 8));
        }
    }
    return cost;
}

// The cheapest way from column `from` (-1: unknown) to `to` on the cursor's row,
// and its cost in bytes.
int TerminalEncoder::horizontalMoveCost(int row, int from, int to, HorizontalMove& way) const {
    way = HorizontalMove::None;
    if (from == to) return 0;
    if (from >= 0 && from < to) {
        way = HorizontalMove::Forward;
        const int forward = relativeMoveCost(to - from);
        // Drawing a cell takes at least one byte: only short runs can be cheaper.
        if (to - from < forward) {
            const int drawn = runOverCost(row, from, to);
            if (drawn >= 0 && drawn < forward) {
                way = HorizontalMove::RunOver;
                return drawn;
            }
        }
        return forward;
    }
    if (to == 0) {
        way = HorizontalMove::Return;
        return 1;
    }
    way = HorizontalMove::Column;
    int best = 3 + decimalDigits(to + 1);
    if (from > to) {
        if (from - to < best) {
            way = HorizontalMove::Backspaces;
            best = from - to;
        }
        if (relativeMoveCost(from - to) < best) {
            way = HorizontalMove::Backward;
            best = relativeMoveCost(from - to);
        }
    }
    return best;
}

void TerminalEncoder::appendRelativeMove(int count, char final) {
    appendText(vt::CSI);
    if (count != 1) appendNumber(static_cast<unsigned>(count));
    buffer_[length_++] = final;
}

void TerminalEncoder::appendHorizontalMove(int from, int to) {
    HorizontalMove way = HorizontalMove::None;
    horizontalMoveCost(cursorRow_, from, to, way);
    switch (way) {
        case HorizontalMove::None:
            break;
        case HorizontalMove::RunOver: {
            const size_t rowStart = static_cast<size_t>(cursorRow_) * static_cast<size_t>(columns_);
            for (int column = from; column < to; ++column) {
                appendLook(wanted_[rowStart + static_cast<size_t>(column)]);
                drawn_[rowStart + static_cast<size_t>(column)] = 1;
            }
            break;
        }
        case HorizontalMove::Forward:
            appendRelativeMove(to - from, vt::CURSOR_FORWARD);
            break;
        case HorizontalMove::Backspaces:
            for (int i = to; i < from; ++i) appendText(vt::BACKSPACE);
            break;
        case HorizontalMove::Backward:
            appendRelativeMove(from - to, vt::CURSOR_BACKWARD);
            break;
        case HorizontalMove::Return:
            appendText(vt::CARRIAGE_RETURN);
            break;
        case HorizontalMove::Column:
            appendText(vt::CSI);
            appendNumber(static_cast<unsigned>(to + 1));
            buffer_[length_++] = vt::CURSOR_COLUMN;
            break;
    }
}

// The cheapest of: an absolute position; a vertical move (line feeds or
// reverse indexes, or a cursor up/down) then a horizontal one; CR and line feeds
// down then a horizontal move from the first column.
int TerminalEncoder::moveCost(int row, int column, MoveWay& way) const {
    way = MoveWay::None;
    if (row == cursorRow_ && column == cursorColumn_) return 0;
    way = MoveWay::Absolute;
    int best = absoluteMoveCost(row, column);
    if (cursorRow_ >= 0) {
        HorizontalMove horizontal;
        const int rows = row > cursorRow_ ? row - cursorRow_ : cursorRow_ - row;
        // Down: a line feed per row; up: a reverse index per row; or a cursor-up/down.
        const int vertical = std::min(row > cursorRow_ ? rows : 2 * rows, relativeMoveCost(rows));
        int cost =
            (rows == 0 ? 0 : vertical) + horizontalMoveCost(row, cursorColumn_, column, horizontal);
        if (cost < best) {
            best = cost;
            way = MoveWay::Vertical;
        }
        if (row > cursorRow_) {
            cost = 1 + rows + horizontalMoveCost(row, 0, column, horizontal);
            if (cost < best) {
                best = cost;
                way = MoveWay::LineFeeds;
            }
        }
    }
    return best;
}

void TerminalEncoder::moveCursor(int row, int column) {
    MoveWay way;
    moveCost(row, column, way);
    const int rowNow = cursorRow_;
    switch (way) {
        case MoveWay::None:
            return;
        case MoveWay::Absolute:
            appendText(vt::CSI);
            appendNumber(static_cast<unsigned>(row + 1));
            if (column != 0) {
                buffer_[length_++] = vt::PARAMETER_SEPARATOR;
                appendNumber(static_cast<unsigned>(column + 1));
            }
            buffer_[length_++] = vt::CURSOR_POSITION;
            break;
        case MoveWay::Vertical: {
            const int rows = row > rowNow ? row - rowNow : rowNow - row;
            // The cursor never leaves the picture's rows, so these never scroll.
            if (rows > 0 && row > rowNow && rows <= relativeMoveCost(rows)) {
                for (int i = 0; i < rows; ++i) appendText(vt::LINE_FEED);
            } else if (rows > 0 && row < rowNow && 2 * rows <= relativeMoveCost(rows)) {
                for (int i = 0; i < rows; ++i) appendText(vt::REVERSE_INDEX);
            } else if (rows > 0) {
                appendRelativeMove(rows, row > rowNow ? vt::CURSOR_DOWN : vt::CURSOR_UP);
            }
            cursorRow_ = row;
            appendHorizontalMove(cursorColumn_, column);
            break;
        }
        case MoveWay::LineFeeds:
            appendText(vt::CARRIAGE_RETURN);
            for (int i = rowNow; i < row; ++i) appendText(vt::LINE_FEED);
            cursorRow_ = row;
            appendHorizontalMove(0, column);
            break;
    }
    cursorRow_ = row;
    cursorColumn_ = column;
}

void TerminalEncoder::appendColorParams(int color, bool background) {
    const uint8_t index = static_cast<uint8_t>(color);
    switch (colors_) {
        case TerminalColors::Auto:
        case TerminalColors::TrueColor: {
            const ConsoleRgb& rgb = CONSOLE_PALETTE[index];
            appendText(background ? vt::BACKGROUND_RGB : vt::FOREGROUND_RGB);
            appendNumber(rgb.r);
            buffer_[length_++] = vt::PARAMETER_SEPARATOR;
            appendNumber(rgb.g);
            buffer_[length_++] = vt::PARAMETER_SEPARATOR;
            appendNumber(rgb.b);
            break;
        }
        case TerminalColors::Palette256:
            appendText(background ? vt::BACKGROUND_256 : vt::FOREGROUND_256);
            appendNumber(nearest256Color(index));
            break;
        case TerminalColors::Ansi16: {
            const uint8_t ansi = ansiColor(index);
            const unsigned base = (ansi & 8)
                                      ? (background ? vt::BACKGROUND_BRIGHT : vt::FOREGROUND_BRIGHT)
                                      : (background ? vt::BACKGROUND_DARK : vt::FOREGROUND_DARK);
            appendNumber(base + (ansi & 7));
            break;
        }
    }
}

// Sets the colours that differ from those set now; -1 keeps a colour as it is.
void TerminalEncoder::appendColors(int foreground, int background) {
    const bool newForeground = foreground >= 0 && foreground != foreground_;
    const bool newBackground = background >= 0 && background != background_;
    if (!newForeground && !newBackground) return;
    appendText(vt::CSI);
    if (newForeground) appendColorParams(foreground, false);
    if (newForeground && newBackground) buffer_[length_++] = vt::PARAMETER_SEPARATOR;
    if (newBackground) appendColorParams(background, true);
    buffer_[length_++] = vt::SELECT_GRAPHIC_RENDITION;
    if (newForeground) foreground_ = foreground;
    if (newBackground) background_ = background;
}

void TerminalEncoder::appendCharacter(uint8_t character) {
    const char32_t code = CP437_UNICODE[character];
    if (code < 0x80) {
        buffer_[length_++] = static_cast<char>(code);
    } else if (code < 0x800) {
        buffer_[length_++] = static_cast<char>(0xC0 | (code >> 6));
        buffer_[length_++] = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        buffer_[length_++] = static_cast<char>(0xE0 | (code >> 12));
        buffer_[length_++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        buffer_[length_++] = static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Draws one cell at the cursor. A solid cell is a blank on the background set
// now, a full block in the foreground set now, or else a blank on a new background.
void TerminalEncoder::appendLook(uint32_t look) {
    if (look & SOLID) {
        const int color = static_cast<int>(look & 15);
        if (color == background_) {
            appendText(" ");
        } else if (color == foreground_) {
            appendText(FULL_BLOCK_UTF8);
        } else {
            appendColors(-1, color);
            appendText(" ");
        }
        return;
    }
    appendColors(static_cast<int>(look & 15), static_cast<int>((look >> 4) & 15));
    appendCharacter(static_cast<uint8_t>(look >> 8));
}

void TerminalEncoder::drawCell(size_t index) {
    const int row = static_cast<int>(index / static_cast<size_t>(columns_));
    const int column = static_cast<int>(index % static_cast<size_t>(columns_));
    moveCursor(row, column);
    appendLook(wanted_[index]);
    drawn_[index] = 1;
    // In the last column the cursor stays put or waits to wrap depending on the
    // terminal: its column is unknown, its row is not.
    cursorColumn_ = column + 1 < terminalColumns_ ? column + 1 : -1;
}

// Grouped by colours: one sweep per colour pair that a changed character needs,
// drawing that pair's cells and the solid cells of its background (blanks);
// then one sweep per colour for the solid cells left. Costs cursor moves but
// saves colour changes. Over the changed cells [begin, end), in screen order.
void TerminalEncoder::drawByColors(const uint32_t* begin, const uint32_t* end) {
    bool pairUsed[256] = {};
    for (const uint32_t* at = begin; at != end; ++at) {
        const uint32_t look = wanted_[*at];
        if (!(look & SOLID)) pairUsed[look & 0xFF] = true;
    }
    for (int pair = 0; pair < 256; ++pair) {
        if (!pairUsed[pair]) continue;
        const uint32_t background = static_cast<uint32_t>(pair >> 4);
        for (const uint32_t* at = begin; at != end; ++at) {
            if (drawn_[*at]) continue;
            const uint32_t look = wanted_[*at];
            const bool fits = (look & SOLID) ? ((look & 15) == background)
                                             : (look & 0xFF) == static_cast<uint32_t>(pair);
            if (fits) drawCell(*at);
        }
    }
    for (uint32_t color = 0; color < 16; ++color) {
        for (const uint32_t* at = begin; at != end; ++at) {
            if (!drawn_[*at] && wanted_[*at] == (SOLID | color)) drawCell(*at);
        }
    }
}

void TerminalEncoder::drawInScreenOrder(const uint32_t* begin, const uint32_t* end) {
    for (const uint32_t* at = begin; at != end; ++at) {
        if (!drawn_[*at]) drawCell(*at);
    }
}

std::string_view TerminalEncoder::encodeFrame(const uint8_t* cells, int32_t pitch) {
    const int visibleColumns = std::min(columns_, terminalColumns_);
    const int visibleRows = std::min(rows_, terminalRows_);
    const bool repaint = repaintAll_;
    repaintAll_ = false;

    changed_.clear();
    for (int row = 0; row < visibleRows; ++row) {
        const uint8_t* cell = cells + static_cast<std::ptrdiff_t>(row) * pitch;
        const size_t rowStart = static_cast<size_t>(row) * static_cast<size_t>(columns_);
        for (int column = 0; column < visibleColumns; ++column, cell += 4) {
            const size_t index = rowStart + static_cast<size_t>(column);
            // Only byte 0 of the character field and the low byte of the attribute are shown.
            wanted_[index] = cellLook(cell[0], cell[2]);
            if (repaint || wanted_[index] != shown_[index]) {
                changed_.push_back(static_cast<uint32_t>(index));
            }
        }
    }
    if (changed_.empty() && !repaint) return {};

    if (repaint) {
        foreground_ = background_ = -1;
        cursorRow_ = cursorColumn_ = -1;
    }
    // Both orders (screen order, grouped by colours) from the same start; the shorter is sent.
    const int startRow = cursorRow_, startColumn = cursorColumn_;
    const int startForeground = foreground_, startBackground = background_;
    int endRow = 0, endColumn = 0, endForeground = 0, endBackground = 0;
    size_t bestLength = 0;
    for (const bool byColors : {false, true}) {
        buffer_ = scratch_.data();
        length_ = 0;
        cursorRow_ = startRow;
        cursorColumn_ = startColumn;
        foreground_ = startForeground;
        background_ = startBackground;
        appendText(vt::SYNC_BEGIN);
        // Line feeds then keep the column and never scroll inside the picture;
        // the area outside the cells ends up blank.
        if (repaint) appendText(vt::RESET_AND_CLEAR);
        for (const uint32_t index : changed_) drawn_[index] = 0;
        if (byColors) {
            drawByColors(changed_.data(), changed_.data() + changed_.size());
        } else {
            drawInScreenOrder(changed_.data(), changed_.data() + changed_.size());
        }
        appendText(vt::SYNC_END);
        if (bestLength == 0 || length_ < bestLength) {
            std::swap(out_, scratch_);
            bestLength = length_;
            endRow = cursorRow_;
            endColumn = cursorColumn_;
            endForeground = foreground_;
            endBackground = background_;
        }
    }
    cursorRow_ = endRow;
    cursorColumn_ = endColumn;
    foreground_ = endForeground;
    background_ = endBackground;
    for (const uint32_t index : changed_) shown_[index] = wanted_[index];
    return {out_.data(), bestLength};
}
