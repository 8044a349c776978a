#include "image/console_look.h"

#include "data/console_font.h"
#include "image/console_palette.h"

void drawConsoleLookInto(const Surface& cells, uint8_t* rgba, size_t pitch) {
    if (cells.pixels() == nullptr || cells.bytesPerPixel() != 4) return;
    const int columns = cells.width(), rows = cells.height();
    for (int cy = 0; cy < rows; ++cy) {
        const uint8_t* cell = cells.pixels() + cy * cells.pitch();
        for (int cx = 0; cx < columns; ++cx, cell += 4) {
            const uint8_t* glyph = CONSOLE_FONT + cell[0] * CONSOLE_FONT_HEIGHT;
            const ConsoleRgb& fore = CONSOLE_PALETTE[cell[2] & 0x0F];
            const ConsoleRgb& back = CONSOLE_PALETTE[cell[2] >> 4];
            for (int y = 0; y < CONSOLE_FONT_HEIGHT; ++y) {
                uint8_t* out = rgba + size_t(cy * CONSOLE_FONT_HEIGHT + y) * pitch +
                               size_t(cx * CONSOLE_FONT_WIDTH) * 4;
                for (int x = 0; x < CONSOLE_FONT_WIDTH; ++x, out += 4) {
                    const ConsoleRgb& c = (glyph[y] & (0x80 >> x)) != 0 ? fore : back;
                    out[0] = c.r;
                    out[1] = c.g;
                    out[2] = c.b;
                    out[3] = 255;
                }
            }
        }
    }
}

bool drawConsoleLook(const Surface& cells, RgbaImage& image) {
    image = RgbaImage{};
    if (cells.pixels() == nullptr || cells.bytesPerPixel() != 4) return false;
    image.width = cells.width() * CONSOLE_FONT_WIDTH;
    image.height = cells.height() * CONSOLE_FONT_HEIGHT;
    image.pixels.resize(size_t(image.width) * size_t(image.height) * 4);
    drawConsoleLookInto(cells, image.pixels.data(), size_t(image.width) * 4);
    return true;
}
