#include "scenekit/noise.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct NoiseFixture : testing::Test {
    void SetUp() override {
        noiseState = NOISE_INITIAL_STATE;
        ASSERT_EQ(target.create({160, 100}, 4), 0);
        for (int i = 0; i < 160 * 100 * 4; ++i) target.pixels()[i] = 0xEE;
    }
    void TearDown() override { target.release(); }
    Surface target;
};

}  // namespace

TEST_F(NoiseFixture, FirstValuesAndStateFromTheInitialState) {
    const int16_t rect[4] = {0, 0, 8, 1};
    fillNoise(rect, &target);
    const uint8_t expected[8] = {150, 203, 229, 114, 57, 28, 14, 7};
    for (int i = 0; i < 8; ++i) {
        for (int c = 0; c < 4; ++c) EXPECT_EQ(target.pixels()[i * 4 + c], expected[i]) << i;
    }
    EXPECT_EQ(noiseState, 377487651);
    EXPECT_EQ(target.pixels()[8 * 4], 0xEE);
}

TEST_F(NoiseFixture, FillStartsAtTheFirstPixelWhateverTheRectangleOrigin) {
    const int16_t rect[4] = {20, 30, 4, 2};
    fillNoise(rect, &target);
    const int16_t eight[4] = {0, 0, 8, 1};
    Surface reference;
    ASSERT_EQ(reference.create({8, 1}, 4), 0);
    noiseState = NOISE_INITIAL_STATE;
    const int32_t before = noiseState;
    fillNoise(eight, &reference);
    EXPECT_NE(noiseState, before);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(target.pixels()[i], reference.pixels()[i]);
        EXPECT_EQ(target.pixels()[640 + i], reference.pixels()[16 + i]);
    }
    EXPECT_EQ(target.pixels()[16], 0xEE);
    EXPECT_EQ(*target.pixelAt({20, 30}), 0xEE);
    reference.release();
}

TEST_F(NoiseFixture, EmptyRectangleNeitherWritesNorAdvances) {
    const int16_t noWidth[4] = {0, 0, 0, 3};
    const int16_t noHeight[4] = {0, 0, 3, 0};
    fillNoise(noWidth, &target);
    fillNoise(noHeight, &target);
    EXPECT_EQ(noiseState, NOISE_INITIAL_STATE);
    EXPECT_EQ(target.pixels()[0], 0xEE);
}

TEST_F(NoiseFixture, OversizedRectangleIsLimitedToTheTarget) {
    Surface small;
    ASSERT_EQ(small.create({3, 2}, 4), 0);
    const int16_t rect[4] = {0, 0, 160, 100};
    fillNoise(rect, &small);  // ASan would catch a write past the 24 bytes
    const int16_t six[4] = {0, 0, 6, 1};
    const int32_t after = noiseState;
    noiseState = NOISE_INITIAL_STATE;
    fillNoise(six, &target);
    EXPECT_EQ(noiseState, after);
    small.release();
}

TEST_F(NoiseFixture, OneStepPerPixelRowAfterRow) {
    // A 160x100 frame is the same static as 100 one-row fills of 160 pixels, and
    // leaves the generator where they do: 16000 steps.
    const int16_t frame[4] = {0, 0, 160, 100};
    fillNoise(frame, &target);
    const int32_t afterFrame = noiseState;

    Surface row;
    ASSERT_EQ(row.create({160, 1}, 4), 0);
    noiseState = NOISE_INITIAL_STATE;
    const int16_t oneRow[4] = {0, 0, 160, 1};
    for (int y = 0; y < 100; ++y) {
        fillNoise(oneRow, &row);
        ASSERT_EQ(std::memcmp(row.pixels(), target.pixels() + y * 640, 640), 0) << y;
        ASSERT_GE(noiseState, 0);  // the state stays below 2^31
    }
    EXPECT_EQ(noiseState, afterFrame);
    row.release();
}

// The register stepped once per pixel, as the noise is defined.
TEST_F(NoiseFixture, RowsOfEveryWidthFollowTheRegisterStepByStep) {
    for (const int32_t start : {NOISE_INITIAL_STATE, 1, 0x7FFFFFFF, int32_t(0x80000001u), -2}) {
        for (const int16_t width : {1, 15, 16, 17, 33, 160}) {
            noiseState = start;
            const int16_t rect[4] = {0, 0, width, 3};
            fillNoise(rect, &target);
            uint32_t state = uint32_t(start);
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < width; ++x) {
                    const uint32_t feedback = state ^ (state >> 3);
                    state = ((feedback & 1) << 30) | (state >> 1);
                    const uint8_t* pixel = target.pixels() + y * target.pitch() + x * 4;
                    for (int c = 0; c < 4; ++c) {
                        ASSERT_EQ(pixel[c], uint8_t(feedback >> 1))
                            << start << " " << x << "," << y;
                    }
                }
            }
            EXPECT_EQ(uint32_t(noiseState), state) << start << " width " << width;
        }
    }
}
