// Throughput of the fragment stages over 160-pixel spans (one row of the
// show's FrameBuffer), in Mpixels/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "render/alpha_test_op.h"
#include "render/blend_op.h"
#include "render/depth_op.h"
#include "render/sgl.h"
#include "render/stencil_op.h"

namespace {

constexpr uint16_t SPAN = 160;

void countPixels(benchmark::State& state) {
    state.counters["Mpixels/s"] =
        benchmark::Counter(double(state.iterations()) * SPAN / 1e6, benchmark::Counter::kIsRate);
}

// Pseudo-random bytes so that every comparison and factor sees varied data.
std::vector<uint8_t> bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return v;
}

void BM_DepthTest(benchmark::State& state) {
    const DepthOp op;
    std::vector<float> z(SPAN), stored(SPAN);
    const auto noise = bytes(2 * SPAN, 1);
    for (int i = 0; i < SPAN; ++i) {
        z[i] = noise[i] / 255.0f;
        stored[i] = noise[SPAN + i] / 255.0f;
    }
    std::vector<uint8_t> mask(SPAN);
    for (auto _ : state) {
        benchmark::DoNotOptimize(op.test(z.data(), stored.data(), mask.data(), 2, SPAN));
        benchmark::ClobberMemory();
    }
    countPixels(state);
}
BENCHMARK(BM_DepthTest);

// The scenes' outline pass: function 6 against 0, replace on pass.
void BM_StencilTest(benchmark::State& state) {
    const StencilTestOp op;
    auto stencil = bytes(SPAN, 2);
    for (auto& s : stencil) s &= 1;
    auto maskSource = bytes(SPAN, 3);
    std::vector<uint8_t> mask(SPAN);
    for (auto _ : state) {
        for (int i = 0; i < SPAN; ++i) mask[i] = maskSource[i] < 32 ? 255 : 0;
        benchmark::DoNotOptimize(
            op.test(stencil.data(), mask.data(), SPAN, 1, 1, 2, 255, 6, 0, 240));
        benchmark::ClobberMemory();
    }
    countPixels(state);
}
BENCHMARK(BM_StencilTest);

void BM_AlphaTest(benchmark::State& state) {
    const AlphaTestOp op;
    const auto frag = bytes(SPAN * 4, 4);
    std::vector<uint8_t> mask(SPAN);
    for (auto _ : state) {
        for (auto& m : mask) m = 0;
        benchmark::DoNotOptimize(op.test(frag.data(), mask.data(), 7, 0, SPAN));
        benchmark::ClobberMemory();
    }
    countPixels(state);
}
BENCHMARK(BM_AlphaTest);

template <typename Op>
void BM_Blend(benchmark::State& state) {
    sglInit();
    const Op op;
    const uint8_t srcCode = uint8_t(state.range(0));
    const uint8_t dstCode = uint8_t(state.range(1));
    const auto src = bytes(SPAN * 4, 5);
    const auto initial = bytes(SPAN * 4, 6);
    std::vector<uint8_t> dst = initial;
    std::vector<uint8_t> mask(SPAN, 0);
    for (int i = 0; i < SPAN; i += 7) mask[i] = 255;
    for (auto _ : state) {
        op.blend(src.data(), dst.data(), dst.data(), mask.data(), srcCode, dstCode, SPAN);
        benchmark::ClobberMemory();
    }
    countPixels(state);
}

// The general object on the pairs the scenes reach it with, and with blending off.
BENCHMARK_TEMPLATE(BM_Blend, BlendOp)
    ->ArgNames({"src", "dst"})
    ->Args({BLEND_ONE, BLEND_ZERO})
    ->Args({BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA})
    ->Args({BLEND_DST_ALPHA, BLEND_ONE_MINUS_DST_ALPHA})
    ->Args({BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_CONSTANT_ALPHA})
    ->Args({BLEND_CONSTANT_ALPHA, BLEND_ZERO});

BENCHMARK_TEMPLATE(BM_Blend, BlendConstantOneOp)
    ->ArgNames({"src", "dst"})
    ->ArgsProduct({{BLEND_CONSTANT_COLOR, BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_CONSTANT_COLOR,
                    BLEND_ONE_MINUS_CONSTANT_ALPHA},
                   {BLEND_ONE}});

BENCHMARK_TEMPLATE(BM_Blend, BlendDestinationOneOp)
    ->ArgNames({"src", "dst"})
    ->ArgsProduct({{BLEND_DST_COLOR, BLEND_DST_ALPHA, BLEND_ONE_MINUS_DST_COLOR,
                    BLEND_ONE_MINUS_DST_ALPHA},
                   {BLEND_ONE}});

BENCHMARK_TEMPLATE(BM_Blend, BlendSourcePairOp)
    ->ArgNames({"src", "dst"})
    ->ArgsProduct(
        {{BLEND_SRC_COLOR, BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_COLOR, BLEND_ONE_MINUS_SRC_ALPHA},
         {BLEND_SRC_COLOR, BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_COLOR, BLEND_ONE_MINUS_SRC_ALPHA}});

}  // namespace
