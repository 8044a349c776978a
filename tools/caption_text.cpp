// Build-time generator of the caption sheets and the finale's text image. Reads
// the pixel font (data/caption_font.txt) and the texts (data/captions.txt), sets every
// line in its rectangle and writes the pixels as C++ arrays plus PNG previews.
// Fails (exit 1) on a malformed source or a text that does not fit its rectangle.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "data/caption_sheets.h"
#include "data/images.h"
#include "tools/asset_output.h"

namespace {

constexpr int FONT_ROWS = 5;
constexpr int BLOCK = 2;  // every font pixel is a 2x2 block, on even coordinates

struct Glyph {
    int width = 0;
    std::vector<std::string> rows;
};

using Font = std::map<char, Glyph>;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "caption_text: %s\n", message.c_str());
    std::exit(1);
}

std::string trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    if (!in) fail("cannot read " + path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Font readFont(const std::string& path) {
    const std::vector<std::string> lines = readLines(path);
    Font font;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = trim(lines[i]);
        if (line.empty() || line[0] == '#') continue;
        if (line.size() < 3 || line[0] != ':')
            fail(path + ":" + std::to_string(i + 1) + ": expected ': C'");
        const std::string key = trim(line.substr(1));
        const char c = key == "space" ? ' ' : key.size() == 1 ? key[0] : '\0';
        if (c == '\0' || font.count(c))
            fail(path + ":" + std::to_string(i + 1) + ": bad or repeated glyph name");
        Glyph glyph;
        for (int r = 0; r < FONT_ROWS; ++r) {
            if (++i >= lines.size()) fail(path + ": glyph '" + key + "' is cut short");
            const std::string row = trim(lines[i]);
            if (row.empty() || row.find_first_not_of("#.") != std::string::npos ||
                (r > 0 && int(row.size()) != glyph.width))
                fail(path + ":" + std::to_string(i + 1) + ": bad row of glyph '" + key + "'");
            glyph.width = int(row.size());
            glyph.rows.push_back(row);
        }
        font[c] = glyph;
    }
    return font;
}

// Width of a text in font pixels, glyphs one blank column apart.
int textWidth(const Font& font, const std::string& text) {
    int width = 0;
    for (char c : text) {
        const auto it = font.find(c);
        if (it == font.end()) fail(std::string("no glyph for '") + c + "' in \"" + text + "\"");
        width += it->second.width + 1;
    }
    return text.empty() ? 0 : width - 1;
}

// The captions' pixels are drawn in BLOCK x BLOCK squares.
struct Image : AssetImage {
    using AssetImage::AssetImage;
    void setBlock(int bx, int by, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        for (int dy = 0; dy < BLOCK; ++dy)
            for (int dx = 0; dx < BLOCK; ++dx) set(bx * BLOCK + dx, by * BLOCK + dy, r, g, b, a);
    }
};

// Ink of a text as a grid of blocks, one per font pixel.
std::vector<std::vector<bool>> setText(const Font& font, const std::string& text) {
    std::vector<std::vector<bool>> ink(FONT_ROWS,
                                       std::vector<bool>(size_t(textWidth(font, text)), false));
    int x = 0;
    for (char c : text) {
        const Glyph& glyph = font.at(c);
        for (int r = 0; r < FONT_ROWS; ++r)
            for (int k = 0; k < glyph.width; ++k)
                ink[size_t(r)][size_t(x + k)] = glyph.rows[size_t(r)][size_t(k)] == '#';
        x += glyph.width + 1;
    }
    return ink;
}

// One caption line: ink blocks rows 1..5 of the seven block rows of the 14-pixel
// line, and a one-block black border around every ink block, so that ink and border
// stay on the 2x2 grid on which the frame is reduced for the console.
void drawCaption(Image& sheet, const Font& font, const TextLineRect& rect, const std::string& text,
                 const std::string& where) {
    const int width = textWidth(font, text) + 2;  // in blocks, border included
    if (width * BLOCK > rect.width)
        fail(where + ": \"" + text + "\" is " + std::to_string(width * BLOCK) +
             " pixels wide, its line " + std::to_string(rect.width));
    const std::vector<std::vector<bool>> ink = setText(font, text);
    const int left = (rect.width / BLOCK - width) / 2;  // centred, in blocks
    const int top = rect.y / BLOCK;
    auto inked = [&](int bx, int by) {
        const int x = bx - 1, y = by - 1;
        return x >= 0 && y >= 0 && y < FONT_ROWS && x < width - 2 && ink[size_t(y)][size_t(x)];
    };
    for (int by = 0; by < TEXT_LINE_HEIGHT / BLOCK; ++by)
        for (int bx = 0; bx < width; ++bx) {
            bool border = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) border = border || inked(bx + dx, by + dy);
            if (inked(bx, by))
                sheet.setBlock(left + bx, top + by, 255, 255, 255, 255);
            else if (border)
                sheet.setBlock(left + bx, top + by, 0, 0, 0, 255);
        }
}

// Sections of data/captions.txt: "[name]" followed by one text per line.
std::map<std::string, std::vector<std::string>> readCaptions(const std::string& path) {
    std::map<std::string, std::vector<std::string>> sections;
    std::string current;
    const std::vector<std::string> lines = readLines(path);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = trim(lines[i]);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            if (sections.count(current)) fail(path + ": section [" + current + "] appears twice");
            sections[current];
        } else if (current.empty()) {
            fail(path + ":" + std::to_string(i + 1) + ": text before the first section");
        } else {
            sections[current].push_back(line);
        }
    }
    return sections;
}

const std::vector<std::string>& section(const std::map<std::string, std::vector<std::string>>& all,
                                        const std::string& name, size_t count) {
    const auto it = all.find(name);
    if (it == all.end()) fail("captions: no section [" + name + "]");
    if (it->second.size() != count)
        fail("captions: [" + name + "] has " + std::to_string(it->second.size()) +
             " lines, needs " + std::to_string(count));
    return it->second;
}

Image makeSheet(const Font& font, const std::vector<std::string>& texts, const TextLineRect* rects,
                int width, int height, const std::string& name) {
    Image sheet(width, height);
    for (size_t i = 0; i < texts.size(); ++i)
        drawCaption(sheet, font, rects[i], texts[i], name + " line " + std::to_string(i));
    return sheet;
}

// The finale's line panels: a one-pixel white frame round a black panel with red
// studs in its corners (all alpha 1, kept as drawn), and the letters in white
// alpha 255, where the static shows through. Text rows are separated by '|'.
Image makeNoiseText(const Font& font, const std::vector<std::string>& texts) {
    Image image(NOISE_TEXT_IMAGE_WIDTH, NOISE_TEXT_IMAGE_HEIGHT);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) image.set(x, y, 255, 255, 255, 0);
    for (size_t line = 0; line < texts.size(); ++line) {
        const int16_t* rect = NOISE_TEXT_LINE_RECTS[line];
        const int x0 = rect[0], y0 = rect[1], w = rect[2], h = rect[3];
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool frame = x == 0 || y == 0 || x == w - 1 || y == h - 1;
                const uint8_t v = frame ? 255 : 0;
                image.set(x0 + x, y0 + y, v, v, v, 1);
            }
        for (int cy : {2, h - 4})
            for (int cx : {2, w - 4})
                image.setBlock((x0 + cx) / BLOCK, (y0 + cy) / BLOCK, 255, 0, 0, 1);

        std::vector<std::string> rows;
        std::string text = texts[line];
        for (size_t bar; (bar = text.find('|')) != std::string::npos; text = text.substr(bar + 1))
            rows.push_back(trim(text.substr(0, bar)));
        rows.push_back(trim(text));
        // Each text row takes 10 pixels and the rows are 4 pixels apart, centred in the panel.
        const int rowPitch = FONT_ROWS * BLOCK + 4;
        const int blockHeight = int(rows.size()) * rowPitch - 4;
        if (blockHeight + 8 > h) fail("finale line " + std::to_string(line) + ": too many rows");
        const int top = ((h - blockHeight) / 2) & ~1;
        for (size_t r = 0; r < rows.size(); ++r) {
            const int width = textWidth(font, rows[r]) * BLOCK;
            if (width + 6 > w)
                fail("finale line " + std::to_string(line) + ": \"" + rows[r] + "\" is " +
                     std::to_string(width) + " pixels wide, its panel " + std::to_string(w));
            const std::vector<std::vector<bool>> ink = setText(font, rows[r]);
            const int left = ((w - width) / 2) & ~1;
            for (int y = 0; y < FONT_ROWS; ++y)
                for (int x = 0; x < int(ink[0].size()); ++x)
                    if (ink[size_t(y)][size_t(x)])
                        image.setBlock((x0 + left) / BLOCK + x,
                                       (y0 + top) / BLOCK + int(r) * rowPitch / BLOCK + y, 255, 255,
                                       255, 255);
        }
    }
    return image;
}

// A sheet as it looks over a grey backdrop, so that the transparent part shows.
std::vector<uint8_t> sheetView(const Image& sheet) {
    std::vector<uint8_t> view = sheet.rgba;
    for (size_t i = 0; i < view.size(); i += 4)
        if (view[i + 3] == 0) view[i] = view[i + 1] = view[i + 2] = 96, view[i + 3] = 255;
    return view;
}

// The finale image as the scene shows it: dark blue where alpha is 0, static where 255.
std::vector<uint8_t> noiseTextView(const Image& image) {
    std::vector<uint8_t> view = image.rgba;
    uint32_t state = 12345;
    for (size_t i = 0; i < view.size(); i += 4) {
        state = state * 1103515245u + 12345u;
        const uint8_t grey = uint8_t(state >> 24);
        if (view[i + 3] == 0) view[i] = 0, view[i + 1] = 0, view[i + 2] = 32;
        if (view[i + 3] == 255) view[i] = view[i + 1] = view[i + 2] = grey;
        view[i + 3] = 255;
    }
    return view;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) fail("usage: caption_text FONT CAPTIONS OUTPUT.cpp PREVIEW_DIR");
    const Font font = readFont(argv[1]);
    const auto captions = readCaptions(argv[2]);
    const std::string previewDir = argv[4];

    const Image sheet1 =
        makeSheet(font, section(captions, "textSheet1", SHEET1_LINE_COUNT), SHEET1_LINE_RECTS,
                  TEXT_SHEET1_WIDTH, TEXT_SHEET1_HEIGHT, "textSheet1");
    const Image sheet2 =
        makeSheet(font, section(captions, "textSheet2", SHEET2_LINE_COUNT), SHEET2_LINE_RECTS,
                  TEXT_SHEET2_WIDTH, TEXT_SHEET2_HEIGHT, "textSheet2");
    const Image sheet3 =
        makeSheet(font, section(captions, "textSheet3", SHEET3_LINE_COUNT), SHEET3_LINE_RECTS,
                  TEXT_SHEET3_WIDTH, TEXT_SHEET3_HEIGHT, "textSheet3");
    const Image finale = makeNoiseText(font, section(captions, "finale", 4));
    if (captions.size() != 4) fail("captions: unknown section");

    ArraySourceWriter source({"data/caption_sheets.h", "data/images.h"});
    source.add("textSheet1Image", sheet1.rgba);
    source.add("textSheet2Image", sheet2.rgba);
    source.add("textSheet3Image", sheet3.rgba);
    source.add("noiseTextImageData", finale.rgba);
    if (!source.write(argv[3])) fail(std::string("cannot write ") + argv[3]);

    writePreview(previewDir, "textSheet1", sheet1.width, sheet1.height, sheetView(sheet1));
    writePreview(previewDir, "textSheet2", sheet2.width, sheet2.height, sheetView(sheet2));
    writePreview(previewDir, "textSheet3", sheet3.width, sheet3.height, sheetView(sheet3));
    writePreview(previewDir, "noiseText", finale.width, finale.height, noiseTextView(finale));
    return 0;
}
