// The three caption sheets: stacks of 14-pixel text lines (white letters in 2x2
// blocks, an opaque black border, transparent elsewhere) that the Demo copies into
// Surfaces and cuts into its 35 text lines. The pixels are generated at build time
// from data/captions.txt and data/caption_font.txt.
#pragma once

#include <cstdint>

constexpr int16_t TEXT_SHEET1_WIDTH = 160;
constexpr int16_t TEXT_SHEET1_HEIGHT = 168;
constexpr int16_t TEXT_SHEET2_WIDTH = 160;
constexpr int16_t TEXT_SHEET2_HEIGHT = 168;
constexpr int16_t TEXT_SHEET3_WIDTH = 160;
constexpr int16_t TEXT_SHEET3_HEIGHT = 182;

constexpr int16_t TEXT_LINE_HEIGHT = 14;
constexpr int SHEET1_LINE_COUNT = 12;
constexpr int SHEET2_LINE_COUNT = 11;
constexpr int SHEET3_LINE_COUNT = 12;

// A text line is the rectangle {0, y, width, TEXT_LINE_HEIGHT} of its sheet.
struct TextLineRect {
    int16_t y;
    int16_t width;
};

constexpr TextLineRect SHEET1_LINE_RECTS[SHEET1_LINE_COUNT] = {
    {0, 134}, {14, 56}, {28, 40},  {42, 34},  {56, 64},  {70, 90},
    {84, 92}, {98, 58}, {112, 74}, {126, 52}, {140, 98}, {154, 48},
};
// Sheet 2 has no line at y = 126.
constexpr TextLineRect SHEET2_LINE_RECTS[SHEET2_LINE_COUNT] = {
    {0, 118}, {14, 160}, {28, 36},   {42, 92},  {56, 62},   {70, 56},
    {84, 62}, {98, 38},  {112, 126}, {140, 84}, {154, 154},
};
// Sheet 3 has no line at y = 28.
constexpr TextLineRect SHEET3_LINE_RECTS[SHEET3_LINE_COUNT] = {
    {0, 138}, {14, 106}, {42, 158}, {56, 70},  {70, 78},  {84, 36},
    {98, 36}, {112, 46}, {126, 58}, {140, 94}, {154, 54}, {168, 134},
};

// Width x height x 4 bytes, rows top to bottom, bytes R, G, B, A.
extern const uint8_t textSheet1Image[TEXT_SHEET1_WIDTH * TEXT_SHEET1_HEIGHT * 4];
extern const uint8_t textSheet2Image[TEXT_SHEET2_WIDTH * TEXT_SHEET2_HEIGHT * 4];
extern const uint8_t textSheet3Image[TEXT_SHEET3_WIDTH * TEXT_SHEET3_HEIGHT * 4];
