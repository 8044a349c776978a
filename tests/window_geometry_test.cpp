// Where the window puts the 640x600 console look: the opening size and the
// picture's place in drawable areas of every kind.
#include <gtest/gtest.h>

#include "platform/window_geometry.h"

namespace {

constexpr int W = 640;
constexpr int H = 600;

}  // namespace

TEST(WindowGeometry, OpensAtTheLargestWholeMultipleThatFitsButAtLeastOnce) {
    EXPECT_EQ(openingScale(1920, 1080, W, H), 1);  // the height decides
    EXPECT_EQ(openingScale(1920, 1200, W, H), 2);  // exactly two pictures high
    EXPECT_EQ(openingScale(1920, 1199, W, H), 1);
    EXPECT_EQ(openingScale(3840, 2160, W, H), 3);
    EXPECT_EQ(openingScale(1280, 4000, W, H), 2);  // the width decides
    EXPECT_EQ(openingScale(800, 480, W, H), 1);    // too small a screen still gets 1x
    EXPECT_EQ(openingScale(0, 0, W, H), 1);
}

TEST(WindowGeometry, WholeFactorsAreCentredWithBlackAround) {
    const PictureRect exact = placePicture(640, 600, W, H);
    EXPECT_EQ(exact.x, 0);
    EXPECT_EQ(exact.y, 0);
    EXPECT_EQ(exact.width, 640);
    EXPECT_EQ(exact.height, 600);

    // Full HD: 1x, since two pictures are 1200 high; centred.
    const PictureRect fullHd = placePicture(1920, 1080, W, H);
    EXPECT_EQ(fullHd.width, 640);
    EXPECT_EQ(fullHd.height, 600);
    EXPECT_EQ(fullHd.x, 640);
    EXPECT_EQ(fullHd.y, 240);

    // A 2x high-DPI drawable of 1920x1200: the picture doubles.
    const PictureRect doubled = placePicture(1920, 1200, W, H);
    EXPECT_EQ(doubled.width, 1280);
    EXPECT_EQ(doubled.height, 1200);
    EXPECT_EQ(doubled.x, 320);
    EXPECT_EQ(doubled.y, 0);

    // Odd margins round towards the top left.
    const PictureRect odd = placePicture(1283, 1201, W, H);
    EXPECT_EQ(odd.width, 1280);
    EXPECT_EQ(odd.x, 1);
    EXPECT_EQ(odd.y, 0);
}

TEST(WindowGeometry, BelowOneTheLargestExactFitKeepsTheProportions) {
    // Width runs out first: full width, height in proportion.
    const PictureRect narrow = placePicture(320, 500, W, H);
    EXPECT_EQ(narrow.width, 320);
    EXPECT_EQ(narrow.height, 300);
    EXPECT_EQ(narrow.x, 0);
    EXPECT_EQ(narrow.y, 100);

    // Height runs out first: full height, width in proportion, rounded down.
    const PictureRect low = placePicture(639, 299, W, H);
    EXPECT_EQ(low.height, 299);
    EXPECT_EQ(low.width, 318);  // 299 * 640 / 600 = 318.93
    EXPECT_EQ(low.x, 160);
    EXPECT_EQ(low.y, 0);

    // One side just short of 1x.
    const PictureRect almost = placePicture(639, 600, W, H);
    EXPECT_EQ(almost.width, 639);
    EXPECT_EQ(almost.height, 599);  // 639 * 600 / 640 = 599.06

    // Never larger than the area, also for tiny ones.
    for (int width = 1; width < 700; width += 7) {
        for (int height = 1; height < 700; height += 11) {
            const PictureRect r = placePicture(width, height, W, H);
            ASSERT_LE(r.x + r.width, width) << width << "x" << height;
            ASSERT_LE(r.y + r.height, height) << width << "x" << height;
            ASSERT_GE(r.x, 0);
            ASSERT_GE(r.y, 0);
        }
    }
}

TEST(WindowGeometry, HugeAndEmptyAreas) {
    const PictureRect huge = placePicture(100000, 3000000, W, H);
    EXPECT_EQ(huge.width, 640 * 156);
    // Products of window and picture sizes past 2^31 stay exact.
    const PictureRect wide = placePicture(4000000, 599, W, H);
    EXPECT_EQ(wide.height, 599);
    EXPECT_EQ(wide.width, 638);  // 599 * 640 / 600 = 638.93

    for (const PictureRect r :
         {placePicture(0, 600, W, H), placePicture(640, -1, W, H), placePicture(640, 600, 0, H)}) {
        EXPECT_EQ(r.width, 0);
        EXPECT_EQ(r.height, 0);
        EXPECT_EQ(r.x, 0);
        EXPECT_EQ(r.y, 0);
    }
}

TEST(WindowGeometry, TheStatusStripSitsUnderThePictureAtItsScale) {
    struct Case {
        int width, height;
        PictureRect picture, strip;
    };
    const Case cases[] = {
        {640, 612, {0, 0, 640, 600}, {0, 600, 640, 12}},
        {1920, 1080, {640, 234, 640, 600}, {640, 834, 640, 12}},
        {1280, 1224, {0, 0, 1280, 1200}, {0, 1200, 1280, 24}},
        {640, 600, {6, 0, 627, 588}, {6, 588, 627, 12}},  // shrunk: 600 * 640 / 612 wide
        {320, 400, {0, 47, 320, 300}, {0, 347, 320, 6}},
        {0, 612, {}, {}},
    };
    for (const Case& c : cases) {
        const PictureAndStrip got = placePictureAndStrip(c.width, c.height, W, H, 12);
        const PictureRect* rects[2][2] = {{&got.picture, &c.picture}, {&got.strip, &c.strip}};
        for (const auto& [was, want] : rects)
            EXPECT_TRUE(was->x == want->x && was->y == want->y && was->width == want->width &&
                        was->height == want->height)
                << c.width << "x" << c.height << ": " << was->x << "," << was->y << " "
                << was->width << "x" << was->height;
    }
}
