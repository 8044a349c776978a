// TEMPORARY: blank caption sheets until the generated ones land. Weak, so the
// generated definitions replace them; delete this file when they do.
#include "data/caption_sheets.h"

__attribute__((
    weak)) extern const uint8_t textSheet1Image[TEXT_SHEET1_WIDTH * TEXT_SHEET1_HEIGHT * 4] = {};
__attribute__((
    weak)) extern const uint8_t textSheet2Image[TEXT_SHEET2_WIDTH * TEXT_SHEET2_HEIGHT * 4] = {};
__attribute__((
    weak)) extern const uint8_t textSheet3Image[TEXT_SHEET3_WIDTH * TEXT_SHEET3_HEIGHT * 4] = {};
