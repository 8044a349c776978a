#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "data/caption_sheets.h"
#include "data/images.h"

namespace {

struct Pixel {
    int r, g, b, a;
    bool operator==(const Pixel&) const = default;
};

struct View {
    const uint8_t* data;
    int width;
    int height;
    Pixel at(int x, int y) const {
        const uint8_t* p = data + (size_t(y) * size_t(width) + size_t(x)) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
};

const View PLASMA{plasmaImage, PLASMA_IMAGE_WIDTH, PLASMA_IMAGE_HEIGHT};
const View HEX{hexImage, HEX_IMAGE_WIDTH, HEX_IMAGE_HEIGHT};
const View CHECKER{checkerImage, CHECKER_IMAGE_WIDTH, CHECKER_IMAGE_HEIGHT};
const View CLOUD{cloudImage, CLOUD_IMAGE_WIDTH, CLOUD_IMAGE_HEIGHT};
const View CRACKLE{crackleImage, CRACKLE_IMAGE_WIDTH, CRACKLE_IMAGE_HEIGHT};
const View GLOW{glowImageData, GLOW_IMAGE_WIDTH, GLOW_IMAGE_HEIGHT};
const View NOISE_TEXT{noiseTextImageData, NOISE_TEXT_IMAGE_WIDTH, NOISE_TEXT_IMAGE_HEIGHT};

template <typename F>
void forEachPixel(const View& view, F f) {
    for (int y = 0; y < view.height; ++y)
        for (int x = 0; x < view.width; ++x) f(x, y, view.at(x, y));
}

double fraction(const View& view, bool (*test)(const Pixel&)) {
    int count = 0;
    forEachPixel(view, [&](int, int, const Pixel& p) { count += test(p) ? 1 : 0; });
    return double(count) / double(view.width * view.height);
}

int channelDifference(const Pixel& p, const Pixel& q) {
    return std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) + std::abs(p.a - q.a);
}

// Mean difference across the tile's wrap-around seams and between all other
// neighbours: a seamless tile shows no jump at its edges.
std::pair<double, double> seamAndInteriorDifference(const View& view) {
    double seam = 0.0, interior = 0.0;
    int seamCount = 0, interiorCount = 0;
    forEachPixel(view, [&](int x, int y, const Pixel& p) {
        const int right = channelDifference(p, view.at((x + 1) % view.width, y));
        const int below = channelDifference(p, view.at(x, (y + 1) % view.height));
        if (x == view.width - 1)
            seam += right, ++seamCount;
        else
            interior += right, ++interiorCount;
        if (y == view.height - 1)
            seam += below, ++seamCount;
        else
            interior += below, ++interiorCount;
    });
    return {seam / seamCount, interior / interiorCount};
}

TEST(SceneImages, PlasmaIsYellowBandsWithThinBlackContours) {
    int maxRed = 0, maxGreen = 0;
    forEachPixel(PLASMA, [&](int x, int y, const Pixel& p) {
        ASSERT_EQ(p.b, 0) << x << "," << y;
        ASSERT_EQ(p.a, 0) << x << "," << y;
        ASSERT_LE(p.r, 223);
        ASSERT_LE(p.g, 218);
        ASSERT_LE(p.g, p.r);  // yellow, never green
        maxRed = std::max(maxRed, p.r), maxGreen = std::max(maxGreen, p.g);
    });
    EXPECT_GE(maxRed, 215);
    EXPECT_GE(maxGreen, 210);
    const double black = fraction(PLASMA, [](const Pixel& p) { return p.r < 90; });
    const double bright = fraction(PLASMA, [](const Pixel& p) { return p.r > 150; });
    EXPECT_GT(black, 0.02);  // contours exist ...
    EXPECT_LT(black, 0.2);   // ... and are thin
    EXPECT_GT(bright, 0.5);
    const auto [seam, interior] = seamAndInteriorDifference(PLASMA);
    EXPECT_LT(seam, 2.0 * interior + 1.0);
}

TEST(SceneImages, HexIsASeamlessTileOfBevelledBlueHexagons) {
    int maxBlue = 0;
    forEachPixel(HEX, [&](int, int, const Pixel& p) {
        ASSERT_EQ(p.g, 0);
        ASSERT_EQ(p.a, 0);
        ASSERT_LE(p.r, p.b);
        maxBlue = std::max(maxBlue, p.b);
    });
    EXPECT_EQ(maxBlue, 231);
    // Hexagon centres, 64 pixels apart, odd columns shifted down by 32, are face.
    for (const auto& [x, y] : {std::pair{0, 0}, {64, 32}, {64, 96}, {0, 64}, {10, 70}})
        EXPECT_EQ(HEX.at(x, y), (Pixel{24, 0, 137, 0})) << x << "," << y;
    // The joint between vertical neighbours at (64, 64) is black; the flat rim
    // above it faces down (dark), the one below it faces up (bright).
    EXPECT_EQ(HEX.at(64, 64), (Pixel{0, 0, 0, 0}));
    EXPECT_LT(HEX.at(64, 60).b, 100);
    EXPECT_GT(HEX.at(64, 68).b, 150);
    const double face = fraction(HEX, [](const Pixel& p) { return p.b == 137 && p.r == 24; });
    const double joint = fraction(HEX, [](const Pixel& p) { return p.b == 0; });
    EXPECT_GT(face, 0.45);
    EXPECT_GT(joint, 0.03);
    EXPECT_LT(joint, 0.15);
    // Seamless: the wrap-around neighbours match the way the inner ones do, and
    // the tile is periodic with its two rows and two columns of hexagons.
    const auto [seam, interior] = seamAndInteriorDifference(HEX);
    EXPECT_LE(seam, 1.5 * interior);
    for (int y = 0; y < 128; ++y) EXPECT_EQ(HEX.at(0, y), HEX.at(0, (y + 64) % 128)) << y;
}

TEST(SceneImages, CheckerHasBevelledBlueSquaresOnBlack) {
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx)
            for (int ly = 0; ly < 32; ++ly)
                for (int lx = 0; lx < 32; ++lx) {
                    const Pixel p = CHECKER.at(sx * 32 + lx, sy * 32 + ly);
                    ASSERT_EQ(p.r, 0);
                    ASSERT_EQ(p.g, 0);
                    ASSERT_EQ(p.a, 0);
                    if ((sx + sy) % 2 != 0) {
                        ASSERT_EQ(p.b, 0) << sx << "," << sy;
                    } else if (lx == 0 || ly == 0) {
                        ASSERT_EQ(p.b, 231) << lx << "," << ly;
                    } else if (lx >= 30 || ly >= 30) {
                        ASSERT_GE(p.b, 80) << lx << "," << ly;
                        ASSERT_LE(p.b, 98) << lx << "," << ly;
                    } else {
                        ASSERT_GE(p.b, 126) << lx << "," << ly;
                        ASSERT_LE(p.b, 131) << lx << "," << ly;
                    }
                }
}

TEST(SceneImages, CloudIsRedWithItsFullRanges) {
    int minRed = 255, maxRed = 0, minAlpha = 255, maxAlpha = 0;
    forEachPixel(CLOUD, [&](int, int, const Pixel& p) {
        ASSERT_EQ(p.g, 0);
        ASSERT_EQ(p.b, 0);
        minRed = std::min(minRed, p.r), maxRed = std::max(maxRed, p.r);
        minAlpha = std::min(minAlpha, p.a), maxAlpha = std::max(maxAlpha, p.a);
    });
    EXPECT_EQ(minRed, 47);
    EXPECT_EQ(maxRed, 225);
    EXPECT_EQ(minAlpha, 221);
    EXPECT_EQ(maxAlpha, 255);
    // Soft: neighbours differ little on average.
    const auto [seam, interior] = seamAndInteriorDifference(CLOUD);
    EXPECT_LT(interior, 20.0);
    (void)seam;
}

TEST(SceneImages, CrackleIsGreyStoneWithBrightVeins) {
    int minGrey = 255, maxGrey = 0;
    forEachPixel(CRACKLE, [&](int, int, const Pixel& p) {
        ASSERT_EQ(p.r, p.g);
        ASSERT_EQ(p.g, p.b);
        ASSERT_EQ(p.a, 0);
        minGrey = std::min(minGrey, p.r), maxGrey = std::max(maxGrey, p.r);
    });
    EXPECT_EQ(minGrey, 2);
    EXPECT_EQ(maxGrey, 255);
    const double veins = fraction(CRACKLE, [](const Pixel& p) { return p.r > 170; });
    const double stone = fraction(CRACKLE, [](const Pixel& p) { return p.r < 120; });
    EXPECT_GT(veins, 0.02);
    EXPECT_LT(veins, 0.25);
    EXPECT_GT(stone, 0.5);
}

TEST(SceneImages, GlowFallsOffThroughTheGivenValues) {
    forEachPixel(GLOW, [&](int x, int y, const Pixel& p) {
        ASSERT_EQ(p.g, p.r);
        ASSERT_EQ(p.b, p.r);
        ASSERT_EQ(p.a, p.r);
        // Radial: the mirrored and transposed pixels agree where they exist.
        const int mx = 64 - x, my = 64 - y;
        if (mx < 64) {
            ASSERT_EQ(GLOW.at(mx, y), p);
        }
        if (my < 64) {
            ASSERT_EQ(GLOW.at(x, my), p);
        }
        ASSERT_EQ(GLOW.at(y, x), p);
    });
    const std::pair<int, int> profile[] = {{0, 128}, {1, 126}, {10, 89}, {14, 70},
                                           {20, 44}, {30, 2},  {31, 0}};
    for (const auto& [d, v] : profile) {
        EXPECT_EQ(GLOW.at(32 + d, 32).r, v) << d;
        EXPECT_EQ(GLOW.at(32, 32 - d).r, v) << d;
    }
    // Non-increasing with distance, 0 from 31 on; the used top-left quarter grows
    // from 0 at its corner towards the centre.
    std::vector<std::pair<int, int>> byDistance;
    forEachPixel(GLOW, [&](int x, int y, const Pixel& p) {
        byDistance.push_back({(x - 32) * (x - 32) + (y - 32) * (y - 32), p.r});
    });
    std::sort(byDistance.begin(), byDistance.end());
    for (size_t i = 1; i < byDistance.size(); ++i) {
        if (byDistance[i].first > byDistance[i - 1].first) {
            ASSERT_LE(byDistance[i].second, byDistance[i - 1].second) << byDistance[i].first;
        }
        if (byDistance[i].first >= 31 * 31) {
            ASSERT_EQ(byDistance[i].second, 0);
        }
    }
    EXPECT_EQ(GLOW.at(0, 0).r, 0);
    EXPECT_GT(GLOW.at(31, 31).r, 120);
}

TEST(NoiseTextImage, PixelsFallIntoTheThreeAlphaClasses) {
    auto inLine = [](int x, int y) {
        for (const auto& rect : NOISE_TEXT_LINE_RECTS)
            if (x >= rect[0] && x < rect[0] + rect[2] && y >= rect[1] && y < rect[1] + rect[3])
                return true;
        return false;
    };
    int red = 0;
    forEachPixel(NOISE_TEXT, [&](int x, int y, const Pixel& p) {
        if (p.a == 0) {
            ASSERT_EQ(p, (Pixel{255, 255, 255, 0}));
        } else if (p.a == 255) {
            ASSERT_EQ(p, (Pixel{255, 255, 255, 255}));
        } else {
            ASSERT_EQ(p.a, 1) << x << "," << y;
            const bool allowed =
                p == Pixel{0, 0, 0, 1} || p == Pixel{255, 255, 255, 1} || p == Pixel{255, 0, 0, 1};
            ASSERT_TRUE(allowed) << x << "," << y;
            red += p.r == 255 && p.g == 0 ? 1 : 0;
        }
        if (!inLine(x, y)) {
            ASSERT_EQ(p.a, 0) << x << "," << y;
        }
    });
    EXPECT_GT(red, 0);
    EXPECT_LT(red, 100);  // a few
}

TEST(NoiseTextImage, EveryLineHasLettersInsideItsBlackPanel) {
    for (int line = 0; line < 4; ++line) {
        const int16_t* rect = NOISE_TEXT_LINE_RECTS[line];
        std::vector<int> letterRows;
        int black = 0, letters = 0;
        for (int y = rect[1]; y < rect[1] + rect[3]; ++y) {
            bool rowHasLetters = false;
            for (int x = rect[0]; x < rect[0] + rect[2]; ++x) {
                const Pixel p = NOISE_TEXT.at(x, y);
                ASSERT_NE(p.a, 0) << "line " << line;  // the panel fills the rectangle
                if (p.a == 255) {
                    ++letters, rowHasLetters = true;
                    // Letters never touch the frame.
                    ASSERT_GT(x, rect[0]);
                    ASSERT_LT(x, rect[0] + rect[2] - 1);
                }
                black += p == Pixel{0, 0, 0, 1} ? 1 : 0;
            }
            if (rowHasLetters) letterRows.push_back(y);
        }
        EXPECT_GT(letters, 100) << "line " << line;
        EXPECT_GT(black, letters) << "line " << line;
        // One row of text, ten pixels high; the tall last line holds two.
        EXPECT_EQ(letterRows.size(), line == 3 ? 20u : 10u) << "line " << line;
    }
}

struct Sheet {
    const char* name;
    View view;
    const TextLineRect* rects;
    int lineCount;
};

const Sheet SHEETS[] = {
    {"textSheet1",
     {textSheet1Image, TEXT_SHEET1_WIDTH, TEXT_SHEET1_HEIGHT},
     SHEET1_LINE_RECTS,
     SHEET1_LINE_COUNT},
    {"textSheet2",
     {textSheet2Image, TEXT_SHEET2_WIDTH, TEXT_SHEET2_HEIGHT},
     SHEET2_LINE_RECTS,
     SHEET2_LINE_COUNT},
    {"textSheet3",
     {textSheet3Image, TEXT_SHEET3_WIDTH, TEXT_SHEET3_HEIGHT},
     SHEET3_LINE_RECTS,
     SHEET3_LINE_COUNT},
};

constexpr Pixel WHITE{255, 255, 255, 255}, BLACK{0, 0, 0, 255}, CLEAR{0, 0, 0, 0};

TEST(CaptionSheets, LineRectanglesAreFourteenPixelsApartInsideTheirSheet) {
    EXPECT_EQ(SHEET1_LINE_COUNT + SHEET2_LINE_COUNT + SHEET3_LINE_COUNT, 35);
    for (const Sheet& sheet : SHEETS)
        for (int i = 0; i < sheet.lineCount; ++i) {
            const TextLineRect& rect = sheet.rects[i];
            EXPECT_EQ(rect.y % TEXT_LINE_HEIGHT, 0) << sheet.name << " " << i;
            EXPECT_LE(rect.y + TEXT_LINE_HEIGHT, sheet.view.height) << sheet.name << " " << i;
            EXPECT_LE(rect.width, sheet.view.width) << sheet.name << " " << i;
            if (i > 0) {
                EXPECT_GT(rect.y, sheet.rects[i - 1].y) << sheet.name << " " << i;
            }
        }
    EXPECT_EQ(SHEET2_LINE_RECTS[8].y, 112);  // no line at 126
    EXPECT_EQ(SHEET2_LINE_RECTS[9].y, 140);
    EXPECT_EQ(SHEET3_LINE_RECTS[1].y, 14);  // no line at 28
    EXPECT_EQ(SHEET3_LINE_RECTS[2].y, 42);
}

TEST(CaptionSheets, OnlyLettersBorderAndTransparencyInsideTheLines) {
    for (const Sheet& sheet : SHEETS) {
        // Which line each row belongs to, -1 for none.
        std::vector<int> lineOfRow(size_t(sheet.view.height), -1);
        for (int i = 0; i < sheet.lineCount; ++i)
            for (int y = sheet.rects[i].y; y < sheet.rects[i].y + TEXT_LINE_HEIGHT; ++y)
                lineOfRow[size_t(y)] = i;
        std::vector<int> white(size_t(sheet.lineCount), 0);
        forEachPixel(sheet.view, [&](int x, int y, const Pixel& p) {
            ASSERT_TRUE(p == WHITE || p == BLACK || p == CLEAR)
                << sheet.name << " " << x << "," << y;
            const int line = lineOfRow[size_t(y)];
            if (line < 0 || x >= sheet.rects[line].width) {
                ASSERT_EQ(p, CLEAR) << sheet.name << " outside every line at " << x << "," << y;
                return;
            }
            if (p == WHITE) ++white[size_t(line)];
        });
        for (int i = 0; i < sheet.lineCount; ++i)
            EXPECT_GT(white[size_t(i)], 20) << sheet.name << " line " << i;
    }
}

TEST(CaptionSheets, LettersAreTwoByTwoBlocksFullyBordered) {
    for (const Sheet& sheet : SHEETS) {
        const View& v = sheet.view;
        for (int y = 0; y < v.height; y += 2)
            for (int x = 0; x < v.width; x += 2) {
                const Pixel p = v.at(x, y);
                ASSERT_EQ(v.at(x + 1, y), p) << sheet.name << " " << x << "," << y;
                ASSERT_EQ(v.at(x, y + 1), p) << sheet.name << " " << x << "," << y;
                ASSERT_EQ(v.at(x + 1, y + 1), p) << sheet.name << " " << x << "," << y;
            }
        // No white pixel touches transparency, not even diagonally, and black
        // appears only next to white.
        forEachPixel(v, [&](int x, int y, const Pixel& p) {
            if (p == CLEAR) return;
            bool nearWhite = false;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= v.width || ny >= v.height) continue;
                    const Pixel q = v.at(nx, ny);
                    if (p == WHITE && std::abs(dx) <= 1 && std::abs(dy) <= 1) {
                        ASSERT_NE(q, CLEAR) << sheet.name << " " << x << "," << y;
                    }
                    nearWhite = nearWhite || q == WHITE;
                }
            ASSERT_TRUE(nearWhite) << sheet.name << " stray border at " << x << "," << y;
        });
    }
}

// Runs the caption generator on the project's font and the given caption text.
int runCaptionGenerator(const std::string& captions) {
    const std::string dir = testing::TempDir();
    const std::string captionPath = dir + "captions_test.txt";
    std::ofstream(captionPath) << captions;
    const std::string command = std::string(VORNAK_BINARY_DIR) + "/vornak_caption_text " +
                                VORNAK_SOURCE_DIR + "/data/caption_font.txt " + captionPath + " " +
                                dir + "captions_test.cpp " + dir + " 2>/dev/null";
    const int status = std::system(command.c_str());
    std::remove(captionPath.c_str());
    std::remove((dir + "captions_test.cpp").c_str());
    return status;
}

std::string captionSource(const std::string& firstLine) {
    std::string text = "[textSheet1]\n" + firstLine + "\n";
    for (int i = 1; i < 12; ++i) text += "A\n";
    text += "[textSheet2]\n";
    for (int i = 0; i < 11; ++i) text += "A\n";
    text += "[textSheet3]\n";
    for (int i = 0; i < 12; ++i) text += "A\n";
    return text + "[finale]\nA\nA\nA\nA | B\n";
}

TEST(CaptionGenerator, RefusesATextWiderThanItsLine) {
    // Sheet 1 line 0 is 134 pixels wide: 13 letters of 4 plus gaps need 2 x 64 + 4 = 132.
    EXPECT_EQ(runCaptionGenerator(captionSource("ABCDEFGHABCDE")), 0);
    EXPECT_NE(runCaptionGenerator(captionSource("ABCDEFGHABCDEF")), 0);
    EXPECT_NE(runCaptionGenerator(captionSource("A~")), 0);  // no such glyph
    EXPECT_NE(runCaptionGenerator("[textSheet1]\nA\n"), 0);  // lines missing
}

}  // namespace
