#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "render/alpha_test_op.h"
#include "render/avx2.h"
#include "render/blend_op.h"
#include "render/depth_op.h"
#include "render/fragment_tables.h"
#include "render/stencil_op.h"
#include "render/texenv_ops.h"
#include "render_fixture.h"
#include "tests/xorshift_random.h"

namespace {

// Bytes from the renderer tests' reproducible random source.
struct RandomBytes : XorshiftRandom {
    using XorshiftRandom::XorshiftRandom;
    uint8_t operator()() { return uint8_t(next() >> 24); }
};

struct Pixel {
    uint8_t c[4];
};

// Blends one pixel through op and returns the result.
Pixel blendOne(const BlendFragmentOp& op, uint8_t srcCode, uint8_t dstCode, Pixel s, Pixel d) {
    const uint8_t mask = 0;
    Pixel out = d;
    op.blend(s.c, d.c, out.c, &mask, srcCode, dstCode, 1);
    return out;
}

#define EXPECT_PIXEL(p, r, g, b, a) \
    do {                            \
        const Pixel q = (p);        \
        EXPECT_EQ(q.c[0], r);       \
        EXPECT_EQ(q.c[1], g);       \
        EXPECT_EQ(q.c[2], b);       \
        EXPECT_EQ(q.c[3], a);       \
    } while (0)

// Serves depth functions 0..8; 8 lies outside the depth table.
class DepthKeysPastTheTable final : public DepthFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override {
        if (index > 8) return 0;
        key.part[0] = static_cast<uint8_t>(index);
        return 1;
    }
    uint8_t test(const float*, const float*, uint8_t*, uint8_t, uint16_t) const override {
        return 1;
    }
    void writeDepth(const float*, float*, const uint8_t*, uint16_t) const override {}
};

class BlendSourceCodeTooLarge final : public BlendFragmentOp {
  public:
    int enumerateKeys(FragmentKey& key, unsigned index) const override {
        if (index > 1) return 0;
        key.part[0] = index == 0 ? 0x7F : 0x80;
        key.part[1] = 0;
        return 1;
    }
    void blend(const uint8_t*, const uint8_t*, uint8_t*, const uint8_t*, uint8_t, uint8_t,
               uint16_t) const override {}
};

}  // namespace

TEST(DepthOp, FunctionsCompareOneOverWAndSetTheWholeMask) {
    const DepthOp op;
    const float stored[3] = {0.0f, 0.5f, 0.5f};
    const float z[3] = {0.5f, 0.5f, 0.25f};
    uint8_t mask[3] = {255, 255, 255};
    EXPECT_EQ(op.test(z, stored, mask, 2, 3), 1);  // z >= stored
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(mask[1], 0);
    EXPECT_EQ(mask[2], 255);
    EXPECT_EQ(op.test(z, stored, mask, 3, 3), 1);  // z > stored rejects equality
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(mask[1], 255);

    std::memset(mask, 255, 3);
    EXPECT_EQ(op.test(z, nullptr, mask, 1, 3), 1);  // always: never reads stored
    EXPECT_EQ(mask[0] | mask[1] | mask[2], 0);

    std::memset(mask, 7, 3);
    EXPECT_EQ(op.test(z, stored, mask, 0, 3), 0);  // never: mask untouched
    EXPECT_EQ(mask[0], 7);

    const float nan[1] = {std::numeric_limits<float>::quiet_NaN()};
    for (uint8_t func = 2; func <= 7; ++func) {
        EXPECT_EQ(op.test(nan, stored, mask, func, 1), func == 7 ? 1 : 0) << int(func);
    }

    float out[3] = {9.0f, 9.0f, 9.0f};
    const uint8_t writeMask[3] = {0, 255, 0};
    op.writeDepth(z, out, writeMask, 3);
    EXPECT_EQ(out[0], 0.5f);
    EXPECT_EQ(out[1], 9.0f);
    EXPECT_EQ(out[2], 0.25f);
}

TEST(StencilTestOp, RejectedPixelsGetTheirOperationAndDoNotCount) {
    const StencilTestOp op;
    uint8_t stencil[3] = {0, 0, 1};
    uint8_t mask[3] = {255, 0, 0};
    // func 6 ref 0: passes exactly where the stored byte is 0; ops (invert, invert, increment)
    EXPECT_EQ(op.test(stencil, mask, 3, 3, 3, 4, 255, 6, 0, 255), 1);
    EXPECT_EQ(stencil[0], 0xFF);  // rejected earlier: opRejected, not compared
    EXPECT_EQ(stencil[1], 1);     // passed: increment
    EXPECT_EQ(stencil[2], 0xFE);  // failed: invert
    EXPECT_EQ(mask[0], 255);
    EXPECT_EQ(mask[1], 0);
    EXPECT_EQ(mask[2], 255);

    uint8_t onlyRejected[2] = {5, 5};
    uint8_t rejectedMask[2] = {255, 255};
    EXPECT_EQ(op.test(onlyRejected, rejectedMask, 2, 0, 1, 1, 255, 1, 0, 255), 0);
    EXPECT_EQ(onlyRejected[0], 0);
}

TEST(StencilTestOp, OperationsUnderTheWriteMask) {
    EXPECT_EQ(applyStencilOp(2, 0x35, 0x0F, 240), 0x05);  // replace
    EXPECT_EQ(applyStencilOp(0, 0x35, 0, 240), 0x05);     // zero
    EXPECT_EQ(applyStencilOp(1, 0x35, 0, 240), 0x35);     // keep
    EXPECT_EQ(applyStencilOp(3, 0x35, 0, 240), 0xC5);     // invert
    EXPECT_EQ(applyStencilOp(4, 255, 0, 255), 0);         // increment wraps
    EXPECT_EQ(applyStencilOp(5, 0, 0, 255), 255);         // decrement wraps
    EXPECT_EQ(applyStencilOp(4, 7, 0, 255), 8);
    // Increment and decrement change only the bits under the write mask.
    EXPECT_EQ(applyStencilOp(4, 0x35, 0, 240), 0x45);
    EXPECT_EQ(applyStencilOp(5, 0x35, 0, 240), 0x25);
    EXPECT_EQ(applyStencilOp(5, 0x05, 0, 240), 0xF5);
    EXPECT_EQ(applyStencilOp(4, 0xF0, 0, 0x0F), 0xF1);
}

TEST(StencilTestOp, ValueMaskAppliesToBothSidesAndFunctionZeroStops) {
    const StencilTestOp op;
    uint8_t stencil[2] = {0x1F, 0x2F};
    uint8_t mask[2] = {0, 0};
    // (stored & 0xF0) < (0x25 & 0xF0): 0x10 < 0x20 passes, 0x20 fails
    EXPECT_EQ(op.test(stencil, mask, 2, 1, 1, 1, 0xF0, 2, 0x25, 255), 1);
    EXPECT_EQ(mask[0], 0);
    EXPECT_EQ(mask[1], 255);

    uint8_t values[3] = {1, 1, 1};
    uint8_t leading[3] = {255, 0, 255};
    EXPECT_EQ(op.test(values, leading, 3, 0, 0, 0, 255, 0, 0, 255), 0);
    EXPECT_EQ(values[0], 0);  // rejected before the first alive pixel: operation applied
    EXPECT_EQ(values[2], 1);  // after it: the test had ended
    EXPECT_EQ(leading[1], 0);
}

// Every function and operation over random spans longer than the sixteen-pixel
// rounds, against the test written out pixel by pixel.
TEST(StencilTestOp, RandomSpansFollowThePixelByPixelTest) {
    const StencilTestOp op;
    RandomBytes next{99u};
    constexpr uint16_t n = 37;
    for (uint8_t func = 1; func <= 7; ++func) {
        for (int round = 0; round < 60; ++round) {
            const uint8_t ops[3] = {uint8_t(next() % 6), uint8_t(next() % 6), uint8_t(next() % 6)};
            const uint8_t valueMask = round % 3 == 0 ? 255 : next();
            const uint8_t writeMask = round % 4 == 0 ? 255 : next();
            // Small values make equal and neighbouring comparisons frequent.
            const uint8_t ref = round % 2 == 0 ? uint8_t(next() % 4) : next();
            uint8_t stencil[n], mask[n], expectedStencil[n], expectedMask[n];
            uint8_t expectedAny = 0;
            for (int i = 0; i < n; ++i) {
                stencil[i] = round % 2 == 0 ? uint8_t(next() % 4) : next();
                mask[i] = next() % 3 == 0 ? (next() % 2 == 0 ? 255 : 1) : 0;
            }
            for (int i = 0; i < n; ++i) {
                const unsigned s = stencil[i] & valueMask;
                const unsigned r = ref & valueMask;
                const bool passes = func == 1   ? true
                                    : func == 2 ? s < r
                                    : func == 3 ? s <= r
                                    : func == 4 ? s > r
                                    : func == 5 ? s >= r
                                    : func == 6 ? s == r
                                                : s != r;
                const uint8_t which = mask[i] != 0 ? ops[0] : passes ? ops[2] : ops[1];
                expectedStencil[i] = applyStencilOp(which, stencil[i], ref, writeMask);
                expectedMask[i] = mask[i] != 0 ? mask[i] : passes ? 0 : 255;
                if (mask[i] == 0 && passes) expectedAny = 1;
            }
            ASSERT_EQ(
                op.test(stencil, mask, n, ops[0], ops[1], ops[2], valueMask, func, ref, writeMask),
                expectedAny)
                << int(func) << " round " << round;
            for (int i = 0; i < n; ++i) {
                ASSERT_EQ(stencil[i], expectedStencil[i])
                    << int(func) << " round " << round << " " << i;
                ASSERT_EQ(mask[i], expectedMask[i]) << int(func) << " round " << round << " " << i;
            }
        }
    }
}

TEST(AlphaTestOp, FunctionsOnAlivePixelsOnly) {
    const AlphaTestOp op;
    const uint8_t frag[12] = {9, 9, 9, 0, 9, 9, 9, 128, 9, 9, 9, 0};
    uint8_t mask[3] = {0, 0, 0};
    EXPECT_EQ(op.test(frag, mask, 7, 0, 3), 1);  // alpha != 0
    EXPECT_EQ(mask[0], 255);
    EXPECT_EQ(mask[1], 0);
    EXPECT_EQ(mask[2], 255);

    uint8_t skip[3] = {255, 0, 255};
    EXPECT_EQ(op.test(frag, skip, 6, 0, 3), 0);  // the only alive pixel has alpha 128
    EXPECT_EQ(skip[1], 255);

    uint8_t always[3] = {255, 0, 0};
    EXPECT_EQ(op.test(nullptr, always, 1, 0, 3), 1);
    EXPECT_EQ(always[1] | always[2], 0);
    uint8_t none[2] = {255, 255};
    EXPECT_EQ(op.test(frag, none, 1, 0, 2), 0);  // no alive pixel
    EXPECT_EQ(op.test(nullptr, always, 2, 0, 3), 0);
    EXPECT_EQ(op.test(frag, always, 0, 0, 3), 0);
}

TEST(BlendOp, GeneralFactorsTruncateEachTermAndSaturate) {
    const BlendOp op;
    EXPECT_PIXEL(blendOne(op, BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA, {{255, 0, 0, 128}},
                          {{0, 0, 255, 255}}),
                 128, 0, 127, 191);
    EXPECT_PIXEL(blendOne(op, BLEND_ONE, BLEND_ONE, {{200, 10, 0, 255}}, {{100, 10, 0, 1}}), 255,
                 20, 0, 255);
    EXPECT_PIXEL(blendOne(op, BLEND_ONE, BLEND_ZERO, {{1, 2, 3, 4}}, {{9, 9, 9, 9}}), 1, 2, 3, 4);

    // (ZERO, ONE) copies the destination when the output is elsewhere.
    const uint8_t mask[2] = {0, 255};
    const uint8_t src[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const uint8_t dst[8] = {5, 6, 7, 8, 5, 6, 7, 8};
    uint8_t out[8] = {};
    op.blend(src, dst, out, mask, BLEND_ZERO, BLEND_ONE, 2);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[4], 0);  // rejected pixel untouched
}

TEST(BlendOp, ConstantFactorsReadTheBlendColor) {
    sglInit();
    const uint8_t k[4] = {127, 0, 0, 63};
    sglBlendColor4ubv(k);
    const BlendOp op;
    // R: ((127 + 1) x 200) >> 8 = 100; ONE_MINUS_CONSTANT_ALPHA on D: (193 x 100) >> 8 = 75
    EXPECT_PIXEL(blendOne(op, BLEND_CONSTANT_COLOR, BLEND_ONE_MINUS_CONSTANT_ALPHA,
                          {{200, 200, 0, 0}}, {{100, 0, 0, 0}}),
                 175, 0, 0, 0);
    const uint8_t white[4] = {255, 255, 255, 255};
    sglBlendColor4ubv(white);
}

TEST(BlendFastOps, SourcePairSumsBeforeTheShift) {
    const BlendSourcePairOp pair;
    EXPECT_PIXEL(blendOne(pair, BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA, {{255, 0, 0, 128}},
                          {{0, 0, 255, 255}}),
                 128, 0, 127, 192);
    // SRC_COLOR as destination factor swaps its operands after a colour source factor:
    // (2 x 1 + 256 x 1) >> 8 = 1, where (S + 1) x D would give (2 + 510) >> 8 = 2.
    EXPECT_PIXEL(blendOne(pair, BLEND_SRC_COLOR, BLEND_SRC_COLOR, {{1, 0, 0, 0}}, {{255, 0, 0, 0}}),
                 1, 0, 0, 0);
    EXPECT_PIXEL(blendOne(pair, BLEND_SRC_ALPHA, BLEND_SRC_COLOR, {{1, 0, 0, 0}}, {{255, 0, 0, 0}}),
                 1, 0, 0, 0);  // (1 x 1 + 2 x 255) >> 8 = 1
    // The sum is limited to 65535.
    EXPECT_PIXEL(blendOne(pair, BLEND_SRC_COLOR, BLEND_SRC_COLOR, {{255, 255, 255, 255}},
                          {{255, 255, 255, 255}}),
                 255, 255, 255, 255);
}

TEST(BlendFastOps, DestinationOneMultipliesSourcePlusOne) {
    const BlendDestinationOneOp fast;
    const BlendOp general;
    // DST_ALPHA: fast ((128 + 1) x 127) >> 8 = 63; general ((127 + 1) x 128) >> 8 = 64.
    const Pixel s = {{128, 0, 0, 0}};
    const Pixel d = {{0, 0, 0, 127}};
    EXPECT_EQ(blendOne(fast, BLEND_DST_ALPHA, BLEND_ONE, s, d).c[0], 63);
    EXPECT_EQ(blendOne(general, BLEND_DST_ALPHA, BLEND_ONE, s, d).c[0], 64);
    EXPECT_PIXEL(blendOne(fast, BLEND_ONE_MINUS_DST_ALPHA, BLEND_ONE, {{255, 255, 255, 255}},
                          {{10, 20, 30, 0}}),
                 255, 255, 255, 255);
}

TEST(BlendFastOps, ConstantOneAddsSaturating) {
    sglInit();
    const BlendConstantOneOp fast;
    // CONSTANT_ALPHA with alpha 255 adds the source.
    EXPECT_PIXEL(
        blendOne(fast, BLEND_CONSTANT_ALPHA, BLEND_ONE, {{200, 1, 0, 100}}, {{100, 2, 0, 100}}),
        255, 3, 0, 200);
    const uint8_t k[4] = {0, 255, 0, 0};
    sglBlendColor4ubv(k);
    EXPECT_PIXEL(
        blendOne(fast, BLEND_CONSTANT_COLOR, BLEND_ONE, {{200, 200, 200, 200}}, {{1, 1, 1, 1}}), 1,
        201, 1, 1);  // (1 x 200) >> 8 = 0 where K is 0
    const uint8_t white[4] = {255, 255, 255, 255};
    sglBlendColor4ubv(white);
}

TEST(TexEnvOps, ModulateAddSubtractAndReplace) {
    const TexEnvModulateOp modulate;
    const TexEnvAddSubtractOp addSubtract;
    const TexEnvReplaceOp replace;
    const uint8_t mask[2] = {0, 255};
    const uint8_t a[8] = {255, 0, 128, 100, 1, 1, 1, 1};
    const uint8_t b[8] = {200, 200, 255, 200, 2, 2, 2, 2};
    uint8_t out[8] = {};
    modulate.combine(a, b, out, mask, SGL_MODULATE, 2);
    EXPECT_EQ(out[0], 200);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 128);
    EXPECT_EQ(out[4], 0);  // rejected: kept

    addSubtract.combine(a, b, out, mask, SGL_ADD, 2);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[3], 255);  // 100 + 200
    addSubtract.combine(a, b, out, mask, SGL_SUBTRACT, 2);
    EXPECT_EQ(out[0], 55);
    EXPECT_EQ(out[3], 0);  // 100 - 200

    const uint8_t k[4] = {10, 20, 30, 40};
    addSubtract.combineConstant(a, k, out, mask, SGL_ADD, 2);
    EXPECT_EQ(out[2], 158);
    EXPECT_EQ(out[3], 140);

    uint8_t same[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    replace.combine(same, b, same, mask, SGL_REPLACE, 2);
    EXPECT_EQ(same[7], 8);
    replace.combineConstant(a, k, out, mask, SGL_REPLACE, 2);
    EXPECT_EQ(std::memcmp(out, a, 8), 0);  // rejected pixels copied too
}

// Where objects share keys, the one installed last serves them: the fast blend
// objects their pairs of the general one, add/subtract both its modes.
TEST_F(RenderTest, EachKeyIsServedByTheLastObjectInstalledForIt) {
    const FragmentTables& t = renderContext.tables;
    auto expectLastServer = [](const auto& table, auto installed, auto indexOf) {
        std::vector<const FragmentOp*> expected(std::size(table.entries), nullptr);
        for (const FragmentOp* op : installed) {
            FragmentKey key;
            for (unsigned i = 0; op->enumerateKeys(key, i) == 1; ++i) expected[indexOf(key)] = op;
        }
        for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(table.entries[i], expected[i]) << i;
    };
    expectLastServer(t.blend,
                     std::array<const FragmentOp*, 4>{t.blendOp, t.blendConstantOneOp,
                                                      t.blendDestinationOneOp, t.blendSourcePairOp},
                     [](const FragmentKey& k) { return k.part[0] * 256 + k.part[1]; });
    expectLastServer(t.texEnv,
                     std::array<const FragmentOp*, 3>{t.texEnvReplaceOp, t.texEnvModulateOp,
                                                      t.texEnvAddSubtractOp},
                     [](const FragmentKey& k) { return k.part[0]; });
}

TEST_F(RenderTest, InstallStopsAtTheFirstKeyOutsideTheTable) {
    static DepthKeysPastTheTable depthOp;
    EXPECT_EQ(installDepthOp(&depthOp), SGL_ERR_RANGE);
    for (const auto* entry : renderContext.tables.depth.entries) EXPECT_EQ(entry, &depthOp);
    EXPECT_EQ(installDepthOp(nullptr), SGL_ERR_INVALID);

    static BlendSourceCodeTooLarge blendOp;
    EXPECT_EQ(installBlendOp(&blendOp), SGL_ERR_RANGE);
    EXPECT_EQ(renderContext.tables.blend.entries[0x7F * 256], &blendOp);

    removeDepthOp(&depthOp);
    for (const auto* entry : renderContext.tables.depth.entries) EXPECT_EQ(entry, nullptr);
    ASSERT_EQ(sglInit(), 0);
}

TEST_F(RenderTest, RemovingTheGeneralBlendObjectEmptiesAllItsPairs) {
    removeBlendOp(renderContext.tables.blendOp);
    for (const auto* entry : renderContext.tables.blend.entries) ASSERT_EQ(entry, nullptr);
    ASSERT_EQ(sglInit(), 0);
}

TEST_F(RenderTest, EmptyOrUnbuiltEntriesLetNothingThroughAndWriteNothing) {
    float depths[2] = {1.0f, 1.0f};
    uint8_t mask[2] = {7, 7};
    uint8_t src[8] = {1, 2, 3, 4, 1, 2, 3, 4};
    uint8_t dst[8] = {};

    // An unserved blend pair, and one whose source code lies past the table.
    sglEnable(SGL_BLEND);
    uint8_t alive[2] = {0, 0};
    sglBlendFunc(0x06, 0x00);
    blendSpan(src, dst, dst, alive, 2);
    sglBlendFunc(0xC3, 0x05);
    blendSpan(src, dst, dst, alive, 2);
    EXPECT_EQ(dst[0], 0);

    // After sglShutdown the removed objects' entries are empty.
    sglShutdown();
    sglEnable(SGL_DEPTH_TEST);
    EXPECT_EQ(depthTestSpan(depths, depthRow(0), mask, 2), 0);
    EXPECT_EQ(mask[0], 7);
    sglDisable(SGL_BLEND);
    blendSpan(src, dst, dst, alive, 2);
    EXPECT_EQ(dst[0], 0);
    ASSERT_EQ(sglInit(), 0);
    ASSERT_EQ(sglBindFrameBuffer(&frameBuffer), 0);

    renderContext.tables.alpha.built = 0;
    renderContext.tables.stencil.built = 0;
    EXPECT_EQ(alphaTestSpan(src, alive, 2), 0);
    EXPECT_EQ(stencilTestSpan(stencilRow(0), alive, 2), 0);
    renderContext.tables.alpha.built = 1;
    renderContext.tables.stencil.built = 1;
}

TEST_F(RenderTest, DispatchersFollowTheEnables) {
    float* stored = depthRow(0);
    stored[0] = 0.75f;
    stored[1] = 0.25f;
    const float z[2] = {0.5f, 0.5f};
    uint8_t mask[2] = {255, 255};
    sglDepthFunc(2);

    // Depth test off: the object is called with function 1, and nothing is written.
    EXPECT_EQ(depthTestSpan(z, stored, mask, 2), 1);
    EXPECT_EQ(mask[0] | mask[1], 0);
    depthWriteSpan(z, stored, mask, 2);
    EXPECT_EQ(stored[0], 0.75f);

    sglEnable(SGL_DEPTH_TEST);
    EXPECT_EQ(depthTestSpan(z, stored, mask, 2), 1);
    EXPECT_EQ(mask[0], 255);
    EXPECT_EQ(mask[1], 0);
    depthWriteSpan(z, stored, mask, 2);
    EXPECT_EQ(stored[0], 0.75f);
    EXPECT_EQ(stored[1], 0.5f);
    sglDepthMask(0);
    stored[1] = 0.25f;
    depthWriteSpan(z, stored, mask, 2);
    EXPECT_EQ(stored[1], 0.25f);
    EXPECT_EQ(depthTestSpan(z, nullptr, mask, 2), 0);  // no depth buffer to compare with

    // Stencil test off: 1, buffer and mask unchanged.
    uint8_t* s = stencilRow(0);
    s[0] = 3;
    sglStencilOp(0, 0, 0);
    uint8_t stencilMask[2] = {255, 0};
    EXPECT_EQ(stencilTestSpan(s, stencilMask, 2), 1);
    EXPECT_EQ(s[0], 3);
    EXPECT_EQ(stencilMask[0], 255);
    sglEnable(SGL_STENCIL_TEST);
    EXPECT_EQ(stencilTestSpan(s, stencilMask, 2), 1);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(stencilTestSpan(nullptr, stencilMask, 2), 0);

    // Blending off: (ONE, ZERO) whatever the pair.
    sglBlendFunc(BLEND_ZERO, BLEND_ONE);
    const uint8_t src[4] = {10, 20, 30, 40};
    uint8_t dst[4] = {1, 1, 1, 1};
    const uint8_t alive[1] = {0};
    blendSpan(src, dst, dst, alive, 1);
    EXPECT_EQ(std::memcmp(dst, src, 4), 0);
    sglEnable(SGL_BLEND);
    sglBlendFunc(BLEND_ONE, BLEND_ONE);
    blendSpan(src, dst, dst, alive, 1);
    EXPECT_EQ(dst[3], 80);

    // Alpha test off passes everything; on, it reads the current function.
    uint8_t alphaMask[1] = {0};
    sglAlphaFunc(0, 0);
    EXPECT_EQ(alphaTestSpan(src, alphaMask, 1), 1);
    sglEnable(SGL_ALPHA_TEST);
    EXPECT_EQ(alphaTestSpan(src, alphaMask, 1), 0);

    // The texture environment follows the mode.
    uint8_t texels[4] = {100, 100, 100, 100};
    const uint8_t color[4] = {200, 0, 255, 100};
    sglTexEnvMode(SGL_SUBTRACT);
    texEnvCombineConstantSpan(texels, color, texels, alive, 1);
    EXPECT_EQ(texels[0], 0);
    EXPECT_EQ(texels[1], 100);
    sglTexEnvMode(SGL_MODULATE);
    texEnvCombineSpan(texels, color, texels, alive, 1);
    EXPECT_EQ(texels[1], 0);
    EXPECT_EQ(texels[3], 0);  // (0 + 1) x 100 >> 8
}

namespace {

// The factor table, written out per code: the term for value x of channel j.
unsigned referenceTerm(uint8_t code, unsigned x, const uint8_t* s, const uint8_t* d,
                       const uint8_t* k, unsigned j) {
    switch (code) {
        case BLEND_ZERO:
            return 0;
        case BLEND_ONE:
            return x;
        case BLEND_SRC_COLOR:
            return ((s[j] + 1u) * x) >> 8;
        case BLEND_SRC_ALPHA:
            return ((s[3] + 1u) * x) >> 8;
        case BLEND_ONE_MINUS_SRC_COLOR:
            return ((256u - s[j]) * x) >> 8;
        case BLEND_ONE_MINUS_SRC_ALPHA:
            return ((256u - s[3]) * x) >> 8;
        case BLEND_DST_COLOR:
            return ((d[j] + 1u) * x) >> 8;
        case BLEND_DST_ALPHA:
            return ((d[3] + 1u) * x) >> 8;
        case BLEND_ONE_MINUS_DST_COLOR:
            return ((256u - d[j]) * x) >> 8;
        case BLEND_ONE_MINUS_DST_ALPHA:
            return ((256u - d[3]) * x) >> 8;
        case BLEND_CONSTANT_COLOR:
            return ((k[j] + 1u) * x) >> 8;
        case BLEND_CONSTANT_ALPHA:
            return ((k[3] + 1u) * x) >> 8;
        case BLEND_ONE_MINUS_CONSTANT_COLOR:
            return ((256u - k[j]) * x) >> 8;
        default:
            return ((256u - k[3]) * x) >> 8;
    }
}

unsigned referenceBlend(const FragmentOp& op, uint8_t src, uint8_t dst, const uint8_t* s,
                        const uint8_t* d, const uint8_t* k, unsigned j) {
    auto sat = [](unsigned v) { return v > 255 ? 255u : v; };
    if (dynamic_cast<const BlendConstantOneOp*>(&op) != nullptr) {
        return sat(referenceTerm(src, s[j], s, d, k, j) + d[j]);
    }
    if (dynamic_cast<const BlendDestinationOneOp*>(&op) != nullptr) {
        unsigned t = 0;
        switch (src) {
            case BLEND_DST_COLOR:
                t = ((s[j] + 1u) * d[j]) >> 8;
                break;
            case BLEND_DST_ALPHA:
                t = ((s[j] + 1u) * d[3]) >> 8;
                break;
            default:
                t = referenceTerm(src, s[j], s, d, k, j);
                break;
        }
        return sat(t + d[j]);
    }
    if (dynamic_cast<const BlendSourcePairOp*>(&op) != nullptr) {
        const unsigned alphaS = s[3];
        unsigned p = 0;
        switch (src) {
            case 2:
                p = (s[j] + 1u) * s[j];
                break;
            case 3:
                p = (alphaS + 1u) * s[j];
                break;
            case 4:
                p = (256u - s[j]) * s[j];
                break;
            default:
                p = (256u - alphaS) * s[j];
                break;
        }
        unsigned q = 0;
        switch (dst) {
            case 2:
                q = (src == 2 || src == 4) ? (d[j] + 1u) * s[j] : (s[j] + 1u) * d[j];
                break;
            case 3:
                q = (alphaS + 1u) * d[j];
                break;
            case 4:
                q = (256u - s[j]) * d[j];
                break;
            default:
                q = (256u - alphaS) * d[j];
                break;
        }
        return std::min(p + q, 65535u) >> 8;
    }
    return sat(referenceTerm(src, s[j], s, d, k, j) + referenceTerm(dst, d[j], s, d, k, j));
}

}  // namespace

// Every installed object on every pair it serves, against the factor tables
// written out per pixel: odd spans, rejected pixels, random colours.
TEST_F(RenderTest, EveryBlendEntryMatchesItsTableOverRandomSpans) {
    RandomBytes next{12345u};
    constexpr uint16_t n = 37;
    uint8_t src[n * 4], dst[n * 4], out[n * 4], mask[n], k[4];
    int checked = 0;
    for (int round = 0; round < 20; ++round) {
        for (uint8_t& b : k) b = next();
        if (round == 0) k[3] = 255;
        sglBlendColor4ubv(k);
        for (unsigned index = 0; index < BLEND_TABLE_SIZE; ++index) {
            const BlendFragmentOp* op = renderContext.tables.blend.entries[index];
            if (op == nullptr) continue;
            const uint8_t srcCode = uint8_t(index / 256);
            const uint8_t dstCode = uint8_t(index % 256);
            for (uint8_t& b : src) b = next();
            for (uint8_t& b : dst) b = next();
            for (uint8_t& b : mask) b = next() < 64 ? 255 : 0;
            if (round == 1) {  // the extremes
                for (unsigned i = 0; i < n * 4; ++i) src[i] = (i & 4) ? 255 : 0;
                for (unsigned i = 0; i < n * 4; ++i) dst[i] = (i & 8) ? 255 : 0;
            }
            std::memcpy(out, dst, sizeof out);
            op->blend(src, dst, out, mask, srcCode, dstCode, n);
            for (unsigned i = 0; i < n; ++i) {
                for (unsigned j = 0; j < 4; ++j) {
                    const unsigned expected =
                        mask[i] != 0
                            ? dst[i * 4 + j]
                            : referenceBlend(*op, srcCode, dstCode, src + i * 4, dst + i * 4, k, j);
                    ASSERT_EQ(out[i * 4 + j], expected)
                        << "pair " << int(srcCode) << "," << int(dstCode) << " pixel " << i
                        << " channel " << j;
                }
            }
            ++checked;
        }
    }
    EXPECT_EQ(checked, 20 * 196);
    const uint8_t white[4] = {255, 255, 255, 255};
    sglBlendColor4ubv(white);
}

// Rows of an image rectangle in one call: every row as blend gives it, the
// bytes between the rows and past them untouched, unknown codes writing nothing.
// With the AVX2 rounds allowed or not.
static void expectConstantOneRowsMatchTheTable(uint8_t avx2) {
    avx2Allowed = avx2;
    const BlendConstantOneOp op;
    RandomBytes next{777u};
    constexpr int srcPitch = 45 * 4;
    constexpr int dstPitch = 41 * 4;
    constexpr int rows = 6;
    uint8_t src[srcPitch * rows], dst[dstPitch * rows + 16], out[dstPitch * rows + 16];
    uint8_t mask[40], k[4];
    const uint8_t codes[] = {BLEND_CONSTANT_COLOR, BLEND_CONSTANT_ALPHA,
                             BLEND_ONE_MINUS_CONSTANT_COLOR, BLEND_ONE_MINUS_CONSTANT_ALPHA,
                             BLEND_ONE};
    for (int round = 0; round < 60; ++round) {
        for (uint8_t& b : k) b = next();
        sglBlendColor4ubv(k);
        for (uint8_t& b : src) b = next();
        for (uint8_t& b : dst) b = next();
        // Every other round all alive, as image rectangles without tests are,
        // half of those given as no mask.
        for (uint8_t& b : mask) b = round % 2 == 0 && next() < 64 ? 255 : 0;
        const uint16_t n = uint16_t(1 + round % 40);
        const uint8_t code = codes[round % 5];
        std::memcpy(out, dst, sizeof out);
        op.blendRows(src, srcPitch, out, dstPitch, round % 4 == 1 ? nullptr : mask, code, n, rows);
        for (int r = 0; r < rows; ++r) {
            for (int b = 0; b < dstPitch; ++b) {
                const int i = b / 4;
                const int j = b % 4;
                const uint8_t* s = src + r * srcPitch + i * 4;
                const uint8_t* d = dst + r * dstPitch + i * 4;
                const unsigned expected = i < n && mask[i] == 0 && code != BLEND_ONE
                                              ? referenceBlend(op, code, BLEND_ONE, s, d, k, j)
                                              : d[j];
                ASSERT_EQ(out[r * dstPitch + b], expected)
                    << "code " << int(code) << " width " << n << " row " << r << " byte " << b;
            }
        }
        ASSERT_EQ(std::memcmp(out + dstPitch * rows, dst + dstPitch * rows, 16), 0);
    }
    avx2Allowed = 1;
}

// The general object's rows in one call give what its blend gives row by row,
// for every pair of codes, with the AVX2 rounds allowed or not, every pixel
// alive or some rejected; the bytes between the rows and past them untouched.
TEST_F(RenderTest, GeneralBlendRowsMatchItsRowByRow) {
    const BlendOp op;
    RandomBytes next{4242u};
    constexpr int srcPitch = 45 * 4;
    constexpr int dstPitch = 41 * 4;
    constexpr int rows = 3;
    uint8_t src[srcPitch * rows], dst[dstPitch * rows + 16], out[sizeof dst], expected[sizeof dst];
    uint8_t mask[40], k[4];
    for (unsigned pair = 0; pair < 196 * 2; ++pair) {
        FragmentKey key{};
        ASSERT_EQ(op.enumerateKeys(key, pair % 196), 1);
        for (uint8_t& b : k) b = next();
        sglBlendColor4ubv(k);
        for (uint8_t& b : src) b = next();
        for (uint8_t& b : dst) b = next();
        for (uint8_t& b : mask) b = pair % 7 == 0 && next() < 64 ? 255 : 0;
        const auto n = uint16_t(1 + next() % 40);
        std::memcpy(expected, dst, sizeof dst);
        for (int r = 0; r < rows; ++r) {
            op.blend(src + r * srcPitch, dst + r * dstPitch, expected + r * dstPitch, mask,
                     key.part[0], key.part[1], n);
        }
        avx2Allowed = uint8_t(pair < 196);
        std::memcpy(out, dst, sizeof dst);
        op.blendRows(src, srcPitch, out, dstPitch, mask, key.part[0], key.part[1], n, rows);
        avx2Allowed = 1;
        ASSERT_EQ(std::memcmp(out, expected, sizeof out), 0)
            << "codes " << int(key.part[0]) << "," << int(key.part[1]) << " width " << n;
    }
    const uint8_t white[4] = {255, 255, 255, 255};
    sglBlendColor4ubv(white);
}

TEST_F(RenderTest, ConstantOneRowsMatchTheTableRowByRow) {
    for (const uint8_t avx2 : {1, 0}) expectConstantOneRowsMatchTheTable(avx2);
    // A rectangle that reads its own pixels a few places along: the same
    // bytes whichever rounds draw it.
    std::vector<uint8_t> rowsOf[2];
    for (const uint8_t avx2 : {1, 0}) {
        avx2Allowed = avx2;
        std::vector<uint8_t>& pixels = rowsOf[avx2];
        for (int i = 0; i < 4 * 40 * 3; ++i) pixels.push_back(uint8_t(i * 37));
        const uint8_t mask[32] = {};
        BlendConstantOneOp().blendRows(pixels.data(), 160, pixels.data() + 12, 160, mask,
                                       BLEND_CONSTANT_ALPHA, 32, 3);
    }
    avx2Allowed = 1;
    EXPECT_EQ(rowsOf[0], rowsOf[1]);
    const uint8_t white[4] = {255, 255, 255, 255};
    sglBlendColor4ubv(white);
}
