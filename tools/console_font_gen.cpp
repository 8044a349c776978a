// Compiles the console font source (data/console_font.txt) into a C++ table and
// draws all 256 glyphs as a 16x16 PNG sheet.
//
// Source format: "glyph N" (decimal or 0x hex) opens a block, followed by 12 rows
// of 8 characters, '#' for ink and '.' for paper. Lines starting with ';' and
// blank lines are ignored. Every glyph 0..255 must appear exactly once.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/png_file.h"

namespace {

constexpr int GLYPH_ROWS = 12;
constexpr int SHEET_SCALE = 3;  // screen pixels per font pixel in the preview
constexpr int SHEET_GAP = 2;    // grid lines between glyphs

bool fail(const std::string& path, int line, const std::string& message) {
    std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), line, message.c_str());
    return false;
}

bool parseFont(const std::string& path, std::vector<uint8_t>& font) {
    std::ifstream in(path);
    if (!in) return fail(path, 0, "cannot open");
    font.assign(256 * GLYPH_ROWS, 0);
    std::vector<bool> defined(256, false);
    int glyph = -1;
    int row = GLYPH_ROWS;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty() || text[0] == ';') continue;
        if (text.rfind("glyph ", 0) == 0) {
            if (row != GLYPH_ROWS) return fail(path, line, "previous glyph has too few rows");
            std::istringstream words(text.substr(6));
            std::string number;
            words >> number;
            try {
                glyph = std::stoi(number, nullptr, 0);
            } catch (...) {
                return fail(path, line, "bad glyph number");
            }
            if (glyph < 0 || glyph > 255) return fail(path, line, "glyph number out of range");
            if (defined[size_t(glyph)]) return fail(path, line, "glyph defined twice");
            defined[size_t(glyph)] = true;
            row = 0;
            continue;
        }
        if (glyph < 0 || row >= GLYPH_ROWS) return fail(path, line, "row outside a glyph");
        if (text.size() != 8) return fail(path, line, "a row has 8 pixels");
        uint8_t bits = 0;
        for (int x = 0; x < 8; ++x) {
            if (text[size_t(x)] == '#') {
                bits = uint8_t(bits | 0x80 >> x);
            } else if (text[size_t(x)] != '.') {
                return fail(path, line, "pixels are '#' or '.'");
            }
        }
        font[size_t(glyph * GLYPH_ROWS + row++)] = bits;
    }
    if (row != GLYPH_ROWS) return fail(path, 0, "last glyph has too few rows");
    for (int g = 0; g < 256; ++g) {
        if (!defined[size_t(g)]) return fail(path, 0, "glyph " + std::to_string(g) + " missing");
    }
    return true;
}

bool writeTable(const std::string& path, const std::vector<uint8_t>& font) {
    std::ofstream out(path);
    out << "// Generated from data/console_font.txt by console_font_gen. Do not edit.\n"
        << "#include \"data/console_font.h\"\n\n"
        << "const uint8_t CONSOLE_FONT[256 * CONSOLE_FONT_HEIGHT] = {\n";
    char buffer[16];
    for (int g = 0; g < 256; ++g) {
        out << "   ";
        for (int r = 0; r < GLYPH_ROWS; ++r) {
            std::snprintf(buffer, sizeof buffer, " 0x%02X,", font[size_t(g * GLYPH_ROWS + r)]);
            out << buffer;
        }
        out << "  // " << g << "\n";
    }
    out << "};\n";
    return bool(out);
}

bool writeSheet(const std::string& path, const std::vector<uint8_t>& font) {
    const int cellW = 8 * SHEET_SCALE + SHEET_GAP, cellH = GLYPH_ROWS * SHEET_SCALE + SHEET_GAP;
    const int width = 16 * cellW + SHEET_GAP, height = 16 * cellH + SHEET_GAP;
    std::vector<uint8_t> pixels(size_t(width * height * 4), 0);
    for (size_t i = 0; i < pixels.size(); i += 4) {  // grid colour
        pixels[i] = 70, pixels[i + 1] = 70, pixels[i + 2] = 110, pixels[i + 3] = 255;
    }
    for (int g = 0; g < 256; ++g) {
        const int left = SHEET_GAP + (g % 16) * cellW, top = SHEET_GAP + (g / 16) * cellH;
        for (int y = 0; y < GLYPH_ROWS * SHEET_SCALE; ++y) {
            const uint8_t bits = font[size_t(g * GLYPH_ROWS + y / SHEET_SCALE)];
            for (int x = 0; x < 8 * SHEET_SCALE; ++x) {
                const bool ink = (bits & (0x80 >> (x / SHEET_SCALE))) != 0;
                uint8_t* p = &pixels[size_t(((top + y) * width + left + x) * 4)];
                p[0] = p[1] = p[2] = ink ? 255 : 0;
            }
        }
    }
    return writePngRgba(path, width, height, pixels.data(), width * 4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s font.txt table.cpp sheet.png\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> font;
    if (!parseFont(argv[1], font)) return 1;
    if (!writeTable(argv[2], font)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    if (!writeSheet(argv[3], font)) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
