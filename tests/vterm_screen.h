// A terminal emulator (libvterm) for tests that replay terminal bytes, and what
// a viewer sees in one of its cells compared with a console cell.
#pragma once

#include <vterm.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "image/console_palette.h"
#include "platform/terminal_encoder.h"

// Colours as the emulator keeps them: an RGB value, a palette index, or the default.
constexpr uint32_t RGB_COLOR = 1u << 24;
constexpr uint32_t INDEXED_COLOR = 2u << 24;
constexpr uint32_t DEFAULT_COLOR = 3u << 24;

inline uint32_t emulatorColor(const VTermColor& color) {
    if (VTERM_COLOR_IS_DEFAULT_FG(&color) || VTERM_COLOR_IS_DEFAULT_BG(&color)) {
        return DEFAULT_COLOR;
    }
    if (VTERM_COLOR_IS_INDEXED(&color)) return INDEXED_COLOR | color.indexed.idx;
    return RGB_COLOR | uint32_t(color.rgb.red) << 16 | uint32_t(color.rgb.green) << 8 |
           color.rgb.blue;
}

inline uint32_t intendedColor(TerminalColors colors, int consoleColor) {
    switch (colors) {
        case TerminalColors::Palette256:
            return INDEXED_COLOR | nearest256Color(uint8_t(consoleColor));
        case TerminalColors::Ansi16:
            return INDEXED_COLOR | ansiColor(uint8_t(consoleColor));
        default: {
            const ConsoleRgb& rgb = CONSOLE_PALETTE[size_t(consoleColor)];
            return RGB_COLOR | uint32_t(rgb.r) << 16 | uint32_t(rgb.g) << 8 | rgb.b;
        }
    }
}

// What a viewer sees in a cell: one colour where nothing is drawn on it (a
// blank, a full block, or a character in its own background colour), else a
// character in a foreground and a background colour.
struct Look {
    char32_t character;  // 0 for one colour
    uint32_t foreground;
    uint32_t background;
    bool operator==(const Look&) const = default;
};

inline Look lookOf(char32_t character, uint32_t foreground, uint32_t background) {
    if (character == 0 || character == U' ' || character == U'\u00A0') return {0, background, 0};
    if (character == U'\u2588' || foreground == background) return {0, foreground, 0};
    return {character, foreground, background};
}

inline std::string describe(const Look& look) {
    char text[64];
    std::snprintf(text, sizeof text, "U+%04X fg %07X bg %07X", unsigned(look.character),
                  look.foreground, look.background);
    return text;
}

class Emulator {
  public:
    Emulator(int rows, int columns) : terminal_(vterm_new(rows, columns)) {
        vterm_set_utf8(terminal_, 1);
        screen_ = vterm_obtain_screen(terminal_);
        vterm_screen_enable_altscreen(screen_, 1);
        vterm_screen_reset(screen_, 1);
    }
    ~Emulator() { vterm_free(terminal_); }
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    void feed(std::string_view bytes) { vterm_input_write(terminal_, bytes.data(), bytes.size()); }
    void resize(int rows, int columns) { vterm_set_size(terminal_, rows, columns); }

    char32_t character(int row, int column) const {
        VTermScreenCell cell{};
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
        return cell.chars[0] != 0 ? char32_t(cell.chars[0]) : U' ';
    }

    Look look(int row, int column, bool& singleWidth) const {
        VTermScreenCell cell{};
        vterm_screen_get_cell(screen_, VTermPos{row, column}, &cell);
        singleWidth = cell.width == 1 && cell.chars[1] == 0;
        uint32_t foreground = emulatorColor(cell.fg);
        uint32_t background = emulatorColor(cell.bg);
        if (cell.attrs.reverse) std::swap(foreground, background);
        return lookOf(cell.chars[0], foreground, background);
    }

  private:
    VTerm* terminal_;
    VTermScreen* screen_;
};

// What a console cell (CHAR_INFO record) looks like on a terminal of `colors`.
inline Look cellLook(TerminalColors colors, const uint8_t* cell) {
    if (cell[0] == 0 || cell[0] == 255) return lookOf(0, 0, intendedColor(colors, cell[2] >> 4));
    return lookOf(cp437ToUnicode(cell[0]), intendedColor(colors, cell[2] & 15),
                  intendedColor(colors, cell[2] >> 4));
}
