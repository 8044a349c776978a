// Triangle throughput into the show's 160x100 FrameBuffer through the whole
// pipeline (submission, transform, clipping, setup, spans, fragment stages):
// 1000 small perspective triangles per frame (triangles/s) and 10 full-screen
// quads per frame (Mpixels/s), textured, flat, smooth and blended.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/render_target.h"
#include "render/render_context.h"
#include "render/sgl.h"

namespace {

using Target = BenchRenderTarget;

enum class Shading { Textured, Flat, Smooth, Blended };

constexpr int FULL_SCREEN_QUADS = 10;

void setShading(Shading shading) {
    for (uint8_t cap = 1; cap <= 7; ++cap) sglDisable(cap);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    sglDepthMask(1);
    if (shading == Shading::Textured || shading == Shading::Blended) sglEnable(SGL_TEXTURE);
    if (shading == Shading::Smooth) sglEnable(SGL_SMOOTH);
    if (shading == Shading::Blended) {
        sglEnable(SGL_BLEND);
        sglBlendFunc(BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    }
}

using Vertex = BenchVertex;

void submit(const Vertex& v) {
    sglColor4ubv(v.rgba);
    sglTexCoord2f(v.s, v.t);
    sglVertex3f(v.x, v.y, v.z);
}

void BM_SmallTriangles(benchmark::State& state, Shading shading) {
    Target target;
    setShading(shading);
    const std::vector<Vertex> triangles = smallTriangles();
    for (auto _ : state) {
        sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER);
        sglBegin(SGL_TRIANGLES);
        for (const Vertex& v : triangles) submit(v);
        sglEnd();
        benchmark::ClobberMemory();
    }
    state.counters["triangles/s"] = benchmark::Counter(double(state.iterations()) * SMALL_TRIANGLES,
                                                       benchmark::Counter::kIsRate);
}

// Quads covering the whole screen, tilted in depth, nearest last so that
// every pixel passes the depth test.
void BM_FullScreenQuads(benchmark::State& state, Shading shading) {
    Target target;
    setShading(shading);
    for (auto _ : state) {
        sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER);
        sglBegin(SGL_QUADS);
        for (int i = 0; i < FULL_SCREEN_QUADS; ++i) {
            const float z = 12.0f - float(i);
            const uint8_t a[4] = {255, 255, 255, 160};
            const uint8_t b[4] = {40, 80, 255, 160};
            const Vertex corners[4] = {
                {-1.2f * z, -1.0f * z, z - 1.0f, 0.0f, 0.0f, {a[0], a[1], a[2], a[3]}},
                {1.2f * z, -1.0f * z, z - 1.0f, 1.0f, 0.0f, {b[0], b[1], b[2], b[3]}},
                {1.2f * z, 1.0f * z, z + 1.0f, 1.0f, 1.0f, {a[0], a[1], a[2], a[3]}},
                {-1.2f * z, 1.0f * z, z + 1.0f, 0.0f, 1.0f, {b[0], b[1], b[2], b[3]}},
            };
            for (const Vertex& v : corners) submit(v);
        }
        sglEnd();
        benchmark::ClobberMemory();
    }
    state.counters["Mpixels/s"] =
        benchmark::Counter(double(state.iterations()) * FULL_SCREEN_QUADS * 160 * 100 / 1e6,
                           benchmark::Counter::kIsRate);
}

// The clear every scene starts its frame with: colour and depth, and the
// stencil as the cube scene adds it.
void BM_Clear(benchmark::State& state) {
    Target target;
    const uint8_t mask = state.range(0) != 0
                             ? SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER | SGL_STENCIL_BUFFER
                             : SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER;
    for (auto _ : state) {
        sglClear(mask);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(BM_Clear)->ArgName("stencil")->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_SmallTriangles, textured, Shading::Textured);
BENCHMARK_CAPTURE(BM_SmallTriangles, flat, Shading::Flat);
BENCHMARK_CAPTURE(BM_SmallTriangles, smooth, Shading::Smooth);
BENCHMARK_CAPTURE(BM_SmallTriangles, blended, Shading::Blended);
BENCHMARK_CAPTURE(BM_FullScreenQuads, textured, Shading::Textured);
BENCHMARK_CAPTURE(BM_FullScreenQuads, flat, Shading::Flat);
BENCHMARK_CAPTURE(BM_FullScreenQuads, smooth, Shading::Smooth);
BENCHMARK_CAPTURE(BM_FullScreenQuads, blended, Shading::Blended);
