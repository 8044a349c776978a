#include "formats/cell_pages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/console_palette.h"
#include "platform/terminal_encoder.h"

namespace {

constexpr uint8_t END_OF_FILE = 0x1A;
constexpr size_t SAUCE_BYTES = 128;
constexpr uint8_t SAUCE_DATA_CHARACTER = 1;
constexpr uint8_t SAUCE_FILE_ANSI = 1;
constexpr uint8_t SAUCE_ICE_COLORS = 0x01;        // bright backgrounds instead of blinking
constexpr uint8_t SAUCE_LETTER_SPACING_8 = 0x02;  // 8 pixels between letters, not 9

uint8_t foregroundOf(const uint8_t* cell) {
    return cell[2] & 0x0F;
}
uint8_t backgroundOf(const uint8_t* cell) {
    return cell[2] >> 4;
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Appends `text` cut or padded with `pad` to exactly `length` bytes.
void appendField(std::string& out, std::string_view text, size_t length, char pad) {
    text = text.substr(0, length);
    out += text;
    out.append(length - text.size(), pad);
}

void appendLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char((value >> (8 * i)) & 0xFF);
}

// The colours the viewer's state holds: ANSI colour 0-7 and the bright bits.
struct AnsiColors {
    int foreground = -1;  // -1: not known yet
    int background = -1;
    bool bold = false;
    bool blink = false;
};

void appendColors(std::string& out, AnsiColors& now, uint8_t foreground, uint8_t background) {
    const uint8_t fore = ansiColor(foreground), back = ansiColor(background);
    AnsiColors want{fore & 7, back & 7, fore >= 8, back >= 8};
    if (want.foreground == now.foreground && want.background == now.background &&
        want.bold == now.bold && want.blink == now.blink) {
        return;
    }
    // Bold and blink are turned off only by a reset, which also resets the colours.
    const bool reset = now.foreground < 0 || (now.bold && !want.bold) || (now.blink && !want.blink);
    if (reset) now = AnsiColors{};
    out += "\x1b[";
    bool first = true;
    auto parameter = [&](int value) {
        if (!first) out += ';';
        out += std::to_string(value);
        first = false;
    };
    if (reset) parameter(0);
    if (want.bold && !now.bold) parameter(1);
    if (want.blink && !now.blink) parameter(5);
    if (want.foreground != now.foreground) parameter(30 + want.foreground);
    if (want.background != now.background) parameter(40 + want.background);
    out += 'm';
    now = want;
}

void appendHtmlEscaped(std::string& out, char32_t code) {
    switch (code) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            appendUtf8(out, code);
    }
}

void appendHex(std::string& out, const ConsoleRgb& c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    out += text;
}

}  // namespace

uint8_t ansiArtCharacter(uint8_t character) {
    switch (character) {
        case 0x09:
            return 'o';  // white circle: a small ring
        case 0x0A:
            return 0x08;  // inverse white circle: inverse bullet
        case 0x0D:
            return 0x0E;  // eighth note: beamed notes
        case 0x1A:
            return 0x10;  // right arrow: right-pointing triangle
        case 0x1B:
            return 0x11;  // left arrow: left-pointing triangle
        default:
            return character;
    }
}

std::string encodeAnsiArt(const CellScreen& screen, const SauceText& sauce) {
    std::string out;
    out.reserve(size_t(screen.columns) * size_t(screen.rows) * 4 + SAUCE_BYTES + 16);
    AnsiColors now;
    for (int y = 0; y < screen.rows; ++y) {
        const uint8_t* cell = screen.cells + y * screen.pitch;
        for (int x = 0; x < screen.columns; ++x, cell += 4) {
            appendColors(out, now, foregroundOf(cell), backgroundOf(cell));
            out += char(ansiArtCharacter(cell[0]));
        }
    }
    out += "\x1b[0m";
    const size_t contentBytes = out.size();
    out += char(END_OF_FILE);
    out += "SAUCE00";
    appendField(out, sauce.title, 35, ' ');
    appendField(out, sauce.author, 20, ' ');
    appendField(out, sauce.group, 20, ' ');
    appendField(out, sauce.date, 8, ' ');
    appendLittleEndian(out, uint32_t(contentBytes), 4);
    out += char(SAUCE_DATA_CHARACTER);
    out += char(SAUCE_FILE_ANSI);
    appendLittleEndian(out, uint32_t(screen.columns), 2);
    appendLittleEndian(out, uint32_t(screen.rows), 2);
    appendLittleEndian(out, 0, 2);  // TInfo3, TInfo4: unused for ANSi
    appendLittleEndian(out, 0, 2);
    out += char(0);  // no comment lines
    out += char(SAUCE_ICE_COLORS | SAUCE_LETTER_SPACING_8);
    appendField(out, ANSI_ART_FONT, 22, '\0');
    return out;
}

std::string encodeCellText(const CellScreen& screen) {
    std::string out;
    out.reserve(size_t(screen.columns + 1) * size_t(screen.rows) * 3);
    for (int y = 0; y < screen.rows; ++y) {
        const uint8_t* cell = screen.cells + y * screen.pitch;
        for (int x = 0; x < screen.columns; ++x, cell += 4)
            appendUtf8(out, cp437ToUnicode(cell[0]));
        out += '\n';
    }
    return out;
}

std::string encodeCellHtml(const CellScreen& screen, std::string_view title) {
    std::string out = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>";
    for (const char c : title) {
        // UTF-8 passes unchanged: only ASCII needs escaping.
        if (c == '&' || c == '<' || c == '>') {
            appendHtmlEscaped(out, char32_t(c));
        } else {
            out += c;
        }
    }
    out +=
        "</title>\n<style>\nbody { background: #000; margin: 0; }\n"
        "pre { font-family: monospace; line-height: 1; margin: 0; }\n";
    for (size_t i = 0; i < CONSOLE_PALETTE.size(); ++i) {
        out += ".f" + std::to_string(i) + " { color: ";
        appendHex(out, CONSOLE_PALETTE[i]);
        out += "; }\n.b" + std::to_string(i) + " { background: ";
        appendHex(out, CONSOLE_PALETTE[i]);
        out += "; }\n";
    }
    out += "</style>\n</head>\n<body>\n<pre>";
    // A run of one colour goes on over row ends: the line break is part of it.
    int attribute = -1;
    for (int y = 0; y < screen.rows; ++y) {
        const uint8_t* cell = screen.cells + y * screen.pitch;
        for (int x = 0; x < screen.columns; ++x, cell += 4) {
            if (cell[2] != attribute) {
                if (attribute >= 0) out += "</span>";
                attribute = cell[2];
                out += "<span class=\"f" + std::to_string(foregroundOf(cell)) + " b" +
                       std::to_string(backgroundOf(cell)) + "\">";
            }
            appendHtmlEscaped(out, cp437ToUnicode(cell[0]));
        }
        if (y + 1 < screen.rows) out += '\n';
    }
    if (attribute >= 0) out += "</span>";
    out += "</pre>\n</body>\n</html>\n";
    return out;
}

bool writeFileBytes(const std::string& path, std::string_view bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot create the file: " + std::strerror(errno);
        return false;
    }
    const bool written =
        std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
    const int writeErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = path + ": cannot write the file: " + std::strerror(written ? errno : writeErrno);
        return false;
    }
    return true;
}
