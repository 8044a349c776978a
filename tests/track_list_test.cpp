#include "scenekit/track_list.h"

#include <gtest/gtest.h>

#include <memory>

namespace {
// TrackList holds its 1024 records in place; keep test lists off the stack.
std::unique_ptr<TrackList> makeList() {
    return std::make_unique<TrackList>();
}
}  // namespace

TEST(TrackList, LinearFloatActsInsideItsWindowAndNeverWritesItsEndValue) {
    auto list = makeList();
    float x = -1.0f;
    list->addFloatRange(1000, 1500, EASE_LINEAR, 0.0f, 10.0f, &x);
    list->evaluate(999);
    EXPECT_EQ(x, -1.0f);
    list->evaluate(1000);
    EXPECT_EQ(x, 0.0f);
    list->evaluate(1250);
    EXPECT_EQ(x, 5.0f);
    list->evaluate(1499);
    EXPECT_EQ(x, float(0.0 + 10.0 * 499.0 / 500.0));
    EXPECT_NEAR(x, 9.98f, 1e-6f);
    x = -2.0f;
    list->evaluate(1500);
    EXPECT_EQ(x, -2.0f);
}

TEST(TrackList, QuadraticFloatStartsSlowly) {
    auto list = makeList();
    float x = 0.0f;
    list->addFloatRange(1000, 1500, EASE_QUADRATIC, 0.0f, 10.0f, &x);
    list->evaluate(1250);
    EXPECT_EQ(x, 2.5f);
    list->evaluate(1100);
    EXPECT_EQ(x, float(10000.0 / 250000.0 * 10.0));
}

TEST(TrackList, FloatDifferenceIsTakenInSinglePrecision) {
    // to - from is rounded to a float before the double-precision scaling: 9.9f,
    // not 9.9000000134, which would give the float just above 3.4.
    auto list = makeList();
    float x = 0.0f;
    list->addFloat(0, 3, EASE_LINEAR, 0.1f, 10.0f, &x);
    list->evaluate(1);
    EXPECT_EQ(x, 3.39999986f);
    EXPECT_LT(x, 3.4f);
}

TEST(TrackList, ShortTracksTruncateTowardZero) {
    auto list = makeList();
    int16_t down = 0, flat = 5, up = 0;
    list->addShort(0, 8000, EASE_LINEAR, 70, 10, &down);
    list->addShort(0, 1000, EASE_LINEAR, 0, 1, &flat);
    list->addShort(0, 1000, EASE_QUADRATIC, 0, 1000, &up);
    list->evaluate(0);
    EXPECT_EQ(down, 70);
    EXPECT_EQ(flat, 0);
    list->evaluate(4000);
    EXPECT_EQ(down, 40);
    list->evaluate(7999);
    EXPECT_EQ(down, 10);  // 10.0075 truncated
    list->evaluate(999);
    EXPECT_EQ(flat, 0);  // never reaches 1
    EXPECT_EQ(up, 998);  // 0.998001 x 1000 truncated
}

TEST(TrackList, ShortTracksWriteTheLow16BitsOfUnsignedEndpoints) {
    auto list = makeList();
    int16_t v = 0;
    list->addShort(0, 10, EASE_LINEAR, 65535, 65535, &v);
    list->evaluate(3);
    EXPECT_EQ(v, -1);
}

TEST(TrackList, LaterTracksWinAndFlagsStaySetAfterTheirWindow) {
    auto list = makeList();
    uint8_t flag = 7;
    list->addByte(100, 200, 1, &flag);
    list->addByteRange(200, 250, 0, &flag);
    list->evaluate(150);
    EXPECT_EQ(flag, 1);
    list->evaluate(220);
    EXPECT_EQ(flag, 0);
    list->evaluate(260);
    EXPECT_EQ(flag, 1);
    list->evaluate(1000);
    EXPECT_EQ(flag, 1);
}

TEST(TrackList, UnknownEasingWritesNothing) {
    auto list = makeList();
    float x = 3.0f;
    int16_t s = 3;
    list->addFloat(0, 10, 2, 0.0f, 1.0f, &x);
    list->addShort(0, 10, 7, 0, 100, &s);
    list->evaluate(5);
    EXPECT_EQ(x, 3.0f);
    EXPECT_EQ(s, 3);
}

TEST(TrackList, WindowEndIsA32BitSum) {
    // start + duration wraps past 2^32, so the window test fails everywhere.
    auto list = makeList();
    uint8_t flag = 0;
    list->addByte(0xFFFFFF00u, 0x200, 1, &flag);
    list->evaluate(0xFFFFFF80u);
    EXPECT_EQ(flag, 0);
}

TEST(TrackList, LongQuadraticTrackDoesNotOverflow) {
    // 50000 x 50000 does not fit 32 bits; the factor is still exact.
    auto list = makeList();
    float x = 0.0f;
    list->addFloat(0, 50000, EASE_QUADRATIC, 0.0f, 100.0f, &x);
    list->evaluate(25000);
    EXPECT_EQ(x, 25.0f);
}

TEST(TrackList, AdditionsBeyondCapacityAreRefused) {
    auto list = makeList();
    uint8_t flags[2] = {0, 0};
    for (uint32_t i = 0; i < TRACK_CAPACITY; ++i) list->addByte(0, 10, 1, &flags[0]);
    list->addByte(0, 10, 1, &flags[1]);
    EXPECT_EQ(list->count(), TRACK_CAPACITY);
    list->evaluate(5);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0);
}

// Quadratic easing is defined for every 32-bit duration: the square of the
// duration never overflows, and tracks longer than 3037000499 ms still ease
// from their start value to their end value (d x d itself wraps at 32 bits,
// as it always has).
TEST(TrackList, QuadraticEasingIsDefinedForEveryDuration) {
    auto list = makeList();
    float longest = -1.0f, justOver = -1.0f;
    int16_t shortValue = -1;
    list->addFloat(0, 0xFFFFFFFFu, EASE_QUADRATIC, 0.0f, 100.0f, &longest);
    list->addFloat(0, 3037000500u, EASE_QUADRATIC, 0.0f, 100.0f, &justOver);
    list->addShort(0, 0xFFFFFFFFu, EASE_QUADRATIC, 0, 1000, &shortValue);
    list->evaluate(0);
    EXPECT_EQ(longest, 0.0f);
    EXPECT_EQ(justOver, 0.0f);
    EXPECT_EQ(shortValue, 0);
    // d = 65535: d x d fits in 32 bits.
    list->evaluate(65535);
    const double factor = double(65535u * 65535u) / (double(0xFFFFFFFFu) * double(0xFFFFFFFFu));
    EXPECT_EQ(longest, float(0.0 + factor * 100.0));
    EXPECT_GE(justOver, 0.0f);
    EXPECT_LT(justOver, 1e-6f);
}

// For the durations the show uses the factor is the one it always was: the
// 64-bit square read as signed or unsigned gives the same double.
TEST(TrackList, QuadraticEasingOfShortTracksIsUnchangedBitForBit) {
    for (const uint32_t duration : {1u, 3u, 500u, 1000u, 8000u, 65536u, 3037000499u}) {
        auto list = makeList();
        float x = 0.0f;
        list->addFloat(0, duration, EASE_QUADRATIC, -3.0f, 7.5f, &x);
        for (const uint32_t d : {0u, 1u, duration / 3, duration / 2, duration - 1}) {
            if (d >= duration) continue;  // outside the window
            list->evaluate(d);
            const uint32_t dSquared = d * d;
            const double signedSquare = double(int64_t{duration} * int64_t{duration});
            const float expected =
                float(double(-3.0f) + double(dSquared) / signedSquare * double(7.5f - -3.0f));
            EXPECT_EQ(x, expected) << duration << " at " << d;
        }
    }
}
