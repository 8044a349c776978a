#include "scenekit/captions.h"

#include <cstring>

#include "data/caption_sheets.h"
#include "render/sub_image.h"

Surface* textSheet1 = nullptr;
Surface* textSheet2 = nullptr;
Surface* textSheet3 = nullptr;
SubImage* sheet1Lines[12] = {};
SubImage* sheet2Lines[11] = {};
SubImage* sheet3Lines[12] = {};

namespace {

Surface* makeSheet(int16_t width, int16_t height, const uint8_t* image) {
    Surface* sheet = new Surface;
    if (sheet->create({width, height}, 4) == 0)
        std::memcpy(sheet->pixels(), image, size_t(width) * size_t(height) * 4);
    return sheet;
}

void makeLines(const TextLineRect* rects, int count, Surface* sheet, SubImage** lines) {
    for (int i = 0; i < count; ++i) {
        const int16_t rect[4] = {0, rects[i].y, rects[i].width, TEXT_LINE_HEIGHT};
        lines[i] = new SubImage;
        lines[i]->init(rect, sheet);
    }
}

}  // namespace

void buildCaptionSheets() {
    if (textSheet1 != nullptr) return;
    textSheet1 = makeSheet(TEXT_SHEET1_WIDTH, TEXT_SHEET1_HEIGHT, textSheet1Image);
    textSheet2 = makeSheet(TEXT_SHEET2_WIDTH, TEXT_SHEET2_HEIGHT, textSheet2Image);
    textSheet3 = makeSheet(TEXT_SHEET3_WIDTH, TEXT_SHEET3_HEIGHT, textSheet3Image);
    makeLines(SHEET1_LINE_RECTS, SHEET1_LINE_COUNT, textSheet1, sheet1Lines);
    makeLines(SHEET2_LINE_RECTS, SHEET2_LINE_COUNT, textSheet2, sheet2Lines);
    makeLines(SHEET3_LINE_RECTS, SHEET3_LINE_COUNT, textSheet3, sheet3Lines);
}
