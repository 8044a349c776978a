#include "scenekit/extended80.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

namespace {

void expectBits(Extended80 value, uint16_t signExponent, uint64_t significand) {
    EXPECT_EQ(value.signExponent(), signExponent);
    EXPECT_EQ(value.significand(), significand);
}

// ---- Known values, on every platform ----

TEST(Extended80, ExactConversionsIn) {
    expectBits(extended80_soft::fromInt(0), 0, 0);
    expectBits(extended80_soft::fromInt(1), 0x3FFF, 0x8000000000000000ull);
    expectBits(extended80_soft::fromInt(-3), 0xC000, 0xC000000000000000ull);
    expectBits(extended80_soft::fromInt(INT32_MIN), 0xC01E, 0x8000000000000000ull);
    expectBits(extended80_soft::fromDouble(0.1f), 0x3FFB, 0xCCCCCD0000000000ull);
    expectBits(extended80_soft::fromDouble(0.1), 0x3FFB, 0xCCCCCCCCCCCCD000ull);
    expectBits(extended80_soft::fromDouble(-0.0), 0x8000, 0);
    expectBits(extended80_soft::fromDouble(DBL_TRUE_MIN), 0x3BCD, 0x8000000000000000ull);
    expectBits(extended80_soft::fromDouble(HUGE_VAL), 0x7FFF, 0x8000000000000000ull);
}

TEST(Extended80, ArithmeticRoundsToSixtyFourBitsNearestEven) {
    // 1/3 = 0.AAAA... rounds up in its last bit; 2/3 likewise.
    expectBits(extended80_soft::divide(1, 3), 0x3FFD, 0xAAAAAAAAAAAAAAABull);
    expectBits(extended80_soft::divide(2, 3), 0x3FFE, 0xAAAAAAAAAAAAAAABull);
    // 1 + 2^-64 is a tie between 1 and 1 + 2^-63: it goes to the even 1.
    const Extended80 half = Extended80::fromBits(0x3FFF - 64, 0x8000000000000000ull);
    expectBits(extended80_soft::add(1, half), 0x3FFF, 0x8000000000000000ull);
    // 1 + 2^-64 + 2^-100 is just above the tie: up.
    const Extended80 aboveHalf =
        extended80_soft::add(half, Extended80::fromBits(0x3FFF - 100, 0x8000000000000000ull));
    expectBits(extended80_soft::add(1, aboveHalf), 0x3FFF, 0x8000000000000001ull);
    // Exact cancellation is +0; (-0) + (-0) stays -0.
    expectBits(extended80_soft::subtract(5, 5), 0, 0);
    expectBits(extended80_soft::add(-0.0, -0.0), 0x8000, 0);
    // Overflow gives infinity, division by zero too; the smallest product underflows
    // gradually to a denormal.
    const Extended80 big = Extended80::fromBits(0x7FFE, 0xFFFFFFFFFFFFFFFFull);
    expectBits(extended80_soft::multiply(big, 2), 0x7FFF, 0x8000000000000000ull);
    expectBits(extended80_soft::divide(-1, 0), 0xFFFF, 0x8000000000000000ull);
    const Extended80 tiny = Extended80::fromBits(0x0001, 0x8000000000000000ull);
    expectBits(extended80_soft::multiply(tiny, 0.25), 0, 0x2000000000000000ull);
}

TEST(Extended80, ConversionsOutRoundOnce) {
    // 1 + 2^-24 + 2^-60: one rounding to float goes up; rounding through double
    // first would land on the tie and go down to 1.
    const Extended80 x =
        extended80_soft::add(extended80_soft::add(1, std::ldexp(1.0, -24)), std::ldexp(1.0, -60));
    EXPECT_EQ(extended80_soft::toFloat(x), 1.0f + 0x1p-23f);
    EXPECT_EQ(float(extended80_soft::toDouble(x)), 1.0f);
    EXPECT_EQ(extended80_soft::toFloat(Extended80::fromBits(0x7FFE, 1ull << 63)), HUGE_VALF);
    EXPECT_EQ(extended80_soft::toDouble(Extended80(FLT_TRUE_MIN)), double(FLT_TRUE_MIN));
    EXPECT_EQ(extended80_soft::toFloat(Extended80(double(FLT_TRUE_MIN) * 0.5)), 0.0f);
    EXPECT_EQ(extended80_soft::toFloat(Extended80(double(FLT_TRUE_MIN) * 0.75)), FLT_TRUE_MIN);
    EXPECT_EQ(Extended80(254.9).truncateToInt(), 254);
    EXPECT_EQ(Extended80(-7.99).truncateToInt(), -7);
    EXPECT_EQ(Extended80(0.999).truncateToInt(), 0);
}

TEST(Extended80, OrdersAsNumbers) {
    using extended80_soft::equal;
    using extended80_soft::less;
    EXPECT_TRUE(less(-2, -1));
    EXPECT_TRUE(less(-1, 0));
    EXPECT_TRUE(less(0.5, 1));
    EXPECT_TRUE(less(DBL_TRUE_MIN, DBL_MIN));
    EXPECT_FALSE(less(0.0, -0.0));
    EXPECT_TRUE(equal(0.0, -0.0));
    EXPECT_TRUE(less(1, HUGE_VAL));
    EXPECT_TRUE(less(-HUGE_VAL, -1));
    const Extended80 nan = std::nan("");
    EXPECT_FALSE(less(nan, 1));
    EXPECT_FALSE(less(1, nan));
    EXPECT_FALSE(equal(nan, nan));
    // The operators answer the same.
    EXPECT_TRUE(Extended80(-1) < Extended80(0));
    EXPECT_FALSE(Extended80(1) < Extended80(1));
    EXPECT_TRUE(Extended80(254.5) == Extended80(254.5f));
}

// ---- The software against the x87 unit, bit for bit ----

#if (defined(__x86_64__) || defined(__i386__)) && LDBL_MANT_DIG == 64

long double toHardware(Extended80 x) {
    long double value = 0;
    const uint64_t m = x.significand();
    const uint16_t se = x.signExponent();
    std::memcpy(reinterpret_cast<unsigned char*>(&value), &m, 8);
    std::memcpy(reinterpret_cast<unsigned char*>(&value) + 8, &se, 2);
    return value;
}

Extended80 fromHardware(long double value) {
    uint64_t m;
    uint16_t se;
    std::memcpy(&m, reinterpret_cast<const unsigned char*>(&value), 8);
    std::memcpy(&se, reinterpret_cast<const unsigned char*>(&value) + 8, 2);
    return Extended80::fromBits(se, m);
}

// Operands of every kind the format has, most of them near each other in size so
// that sums cancel and round in every way, some at the ends of the range.
Extended80 randomOperand(std::mt19937_64& random) {
    const uint16_t sign = (random() & 1) ? 0x8000 : 0;
    uint64_t significand = random() | (1ull << 63);
    const unsigned pick = random() % 100;
    if (pick < 3) return Extended80::fromBits(sign, 0);
    if (pick < 5) return Extended80::fromBits(sign | 0x7FFF, 1ull << 63);
    if (pick < 15) return Extended80::fromBits(sign, significand >> (1 + random() % 63));
    if (pick < 25) {  // short significands: exact sums and products, ties
        significand &= ~0ull << (random() % 64);
        significand |= 1ull << 63;
    }
    uint16_t exponent;
    if (pick < 70) {
        exponent = uint16_t(0x3FFF - 70 + random() % 140);
    } else if (pick < 85) {
        exponent = uint16_t(1 + random() % 0x7FFE);
    } else if (pick < 92) {
        exponent = uint16_t(1 + random() % 100);
    } else {
        exponent = uint16_t(0x7FFE - random() % 100);
    }
    return Extended80::fromBits(sign | exponent, significand);
}

void expectSame(Extended80 soft, long double hard, const char* op, Extended80 a, Extended80 b) {
    if (std::isnan(hard)) {
        EXPECT_TRUE(std::isnan(toHardware(soft))) << op;
        return;
    }
    const Extended80 expected = fromHardware(hard);
    ASSERT_TRUE(soft.signExponent() == expected.signExponent() &&
                soft.significand() == expected.significand())
        << op << " of " << std::hex << a.signExponent() << ":" << a.significand() << " and "
        << b.signExponent() << ":" << b.significand() << " gives " << soft.signExponent() << ":"
        << soft.significand() << ", the x87 unit " << expected.signExponent() << ":"
        << expected.significand();
}

TEST(Extended80Hardware, ArithmeticIsBitExact) {
    ASSERT_TRUE(extended80UsesHardware());
    std::mt19937_64 random(20);
    for (int n = 0; n < 200000; ++n) {
        const Extended80 a = randomOperand(random);
        const Extended80 b = randomOperand(random);
        const long double x = toHardware(a);
        const long double y = toHardware(b);
        expectSame(extended80_soft::add(a, b), x + y, "sum", a, b);
        expectSame(extended80_soft::subtract(a, b), x - y, "difference", a, b);
        expectSame(extended80_soft::multiply(a, b), x * y, "product", a, b);
        expectSame(extended80_soft::divide(a, b), x / y, "quotient", a, b);
        EXPECT_EQ(extended80_soft::less(a, b), x < y);
        EXPECT_EQ(extended80_soft::equal(a, b), x == y);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(Extended80Hardware, ConversionsAreBitExact) {
    std::mt19937_64 random(80);
    for (int n = 0; n < 200000; ++n) {
        const Extended80 a = randomOperand(random);
        const long double x = toHardware(a);
        const float f = extended80_soft::toFloat(a);
        const float hf = float(x);
        const double d = extended80_soft::toDouble(a);
        const double hd = double(x);
        if (std::isnan(x)) continue;
        ASSERT_EQ(std::memcmp(&f, &hf, sizeof f), 0)
            << std::hex << a.signExponent() << ":" << a.significand();
        ASSERT_EQ(std::memcmp(&d, &hd, sizeof d), 0)
            << std::hex << a.signExponent() << ":" << a.significand();
        if (std::fabs(x) < 2147483647.0L) {
            ASSERT_EQ(a.truncateToInt(), int32_t(x));
        }

        uint64_t bits = random();
        double fromBits;
        std::memcpy(&fromBits, &bits, sizeof fromBits);
        if (!std::isnan(fromBits)) {
            const Extended80 converted = extended80_soft::fromDouble(fromBits);
            const Extended80 expected = fromHardware((long double)fromBits);
            ASSERT_EQ(converted.signExponent(), expected.signExponent());
            ASSERT_EQ(converted.significand(), expected.significand());
        }
        const auto i = int32_t(uint32_t(bits >> 32));
        const Extended80 fromInt = extended80_soft::fromInt(i);
        ASSERT_EQ(fromInt.significand(), fromHardware((long double)i).significand());
        ASSERT_EQ(fromInt.signExponent(), fromHardware((long double)i).signExponent());
    }
}

// The metaball field's own operations: small integers, float blob positions and
// the products and quotients of its sum.
TEST(Extended80Hardware, FieldOperationsAreBitExact) {
    std::mt19937_64 random(173);
    std::uniform_real_distribution<float> position(-40.0f, 200.0f);
    for (int n = 0; n < 50000; ++n) {
        const Extended80 bx = position(random), by = position(random);
        const Extended80 x = int32_t(random() % 160), y = int32_t(random() % 100);
        const Extended80 dx = extended80_soft::subtract(bx, x);
        const Extended80 dy = extended80_soft::subtract(by, y);
        const Extended80 d2 =
            extended80_soft::add(extended80_soft::add(extended80_soft::multiply(dx, dx),
                                                      extended80_soft::multiply(dy, dy)),
                                 1);
        const Extended80 term = extended80_soft::divide(3, d2);
        const long double hdx = toHardware(bx) - toHardware(x);
        const long double hdy = toHardware(by) - toHardware(y);
        const long double hterm = 3.0L / (hdx * hdx + hdy * hdy + 1.0L);
        expectSame(term, hterm, "field term", bx, by);
        const float height =
            extended80_soft::toFloat(extended80_soft::multiply(term, 0.00392156862745098));
        ASSERT_EQ(height, float(hterm * 0.00392156862745098));
    }
}

#endif

}  // namespace
