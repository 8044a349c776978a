// The fused span loops beside the stage-by-stage path on the same work, and
// the show's most frequent state: small textured, smooth triangles added
// through the texture environment (SGL_ADD) with the depth test. Pixels per
// second over 1000 small triangles or 10 full-screen quads per frame into the
// show's 160x100 FrameBuffer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/render_target.h"
#include "render/rasterizer_internal.h"
#include "render/render_context.h"
#include "render/sgl.h"

namespace {

// Fused spans back on for whatever runs next.
struct Target : BenchRenderTarget {
    ~Target() { fusedSpansAllowed = 1; }
};

enum class Work { SmallTriangles, Quads };
enum class State { Flat, Textured, TexturedSmoothAdd, AlphaBlended };

void setState(State state) {
    for (uint8_t cap = 1; cap <= 7; ++cap) sglDisable(cap);
    sglEnable(SGL_DEPTH_TEST);
    sglDepthFunc(2);
    sglDepthMask(1);
    if (state != State::Flat) sglEnable(SGL_TEXTURE);
    if (state == State::TexturedSmoothAdd) {
        sglEnable(SGL_SMOOTH);
        sglEnable(SGL_TEXTURE_ENV);
        sglTexEnvMode(SGL_ADD);
    }
    if (state == State::AlphaBlended) {
        sglEnable(SGL_BLEND);
        sglBlendFunc(BLEND_SRC_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
    }
}

using Vertex = BenchVertex;

// Ten full-screen quads tilted in depth, nearest last.
std::vector<Vertex> quads() {
    std::vector<Vertex> v;
    for (int i = 0; i < 10; ++i) {
        const float z = 12.0f - float(i);
        v.push_back({-1.2f * z, -1.0f * z, z - 1.0f, 0.0f, 0.0f, {255, 255, 255, 160}});
        v.push_back({1.2f * z, -1.0f * z, z - 1.0f, 1.0f, 0.0f, {40, 80, 255, 160}});
        v.push_back({1.2f * z, 1.0f * z, z + 1.0f, 1.0f, 1.0f, {255, 255, 255, 160}});
        v.push_back({-1.2f * z, 1.0f * z, z + 1.0f, 0.0f, 1.0f, {40, 80, 255, 160}});
    }
    return v;
}

void BM_SpanPath(benchmark::State& state, Work work, State shading, bool fused) {
    Target target;
    setState(shading);
    fusedSpansAllowed = fused ? 1 : 0;
    const std::vector<Vertex> vertices = work == Work::Quads ? quads() : smallTriangles();
    int64_t pixels = 0;
    for (auto _ : state) {
        sglClear(SGL_COLOR_BUFFER | SGL_DEPTH_BUFFER);
        sglBegin(work == Work::Quads ? SGL_QUADS : SGL_TRIANGLES);
        for (const Vertex& v : vertices) {
            sglColor4ubv(v.rgba);
            sglTexCoord2f(v.s, v.t);
            sglVertex3f(v.x, v.y, v.z);
        }
        sglEnd();
        benchmark::ClobberMemory();
        pixels += work == Work::Quads ? 10 * 160 * 100 : 9000;
    }
    state.counters["Mpixels/s"] =
        benchmark::Counter(double(pixels) / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(BM_SpanPath, smallFlatFused, Work::SmallTriangles, State::Flat, true);
BENCHMARK_CAPTURE(BM_SpanPath, smallFlatStaged, Work::SmallTriangles, State::Flat, false);
BENCHMARK_CAPTURE(BM_SpanPath, smallTexturedAddFused, Work::SmallTriangles,
                  State::TexturedSmoothAdd, true);
BENCHMARK_CAPTURE(BM_SpanPath, smallTexturedAddStaged, Work::SmallTriangles,
                  State::TexturedSmoothAdd, false);
BENCHMARK_CAPTURE(BM_SpanPath, quadsFlatFused, Work::Quads, State::Flat, true);
BENCHMARK_CAPTURE(BM_SpanPath, quadsFlatStaged, Work::Quads, State::Flat, false);
BENCHMARK_CAPTURE(BM_SpanPath, quadsTexturedFused, Work::Quads, State::Textured, true);
BENCHMARK_CAPTURE(BM_SpanPath, quadsTexturedStaged, Work::Quads, State::Textured, false);
BENCHMARK_CAPTURE(BM_SpanPath, quadsAlphaBlendedFused, Work::Quads, State::AlphaBlended, true);
BENCHMARK_CAPTURE(BM_SpanPath, quadsAlphaBlendedStaged, Work::Quads, State::AlphaBlended, false);
