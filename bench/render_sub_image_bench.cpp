// SubImage::draw of a 160x100 rectangle into the show's 160x100 FrameBuffer,
// in Mpixels/s: plain copy, and the caption path (alpha test plus blending).
#include <benchmark/benchmark.h>

#include <cstring>

#include "render/render_context.h"
#include "render/sgl.h"
#include "render/sub_image.h"

namespace {

void BM_SubImageDraw(benchmark::State& state) {
    Surface color, depth, stencil, source;
    color.create({160, 100}, 4);
    depth.create({160, 100}, 4);
    stencil.create({160, 100}, 1);
    source.create({160, 100}, 4);
    std::memset(color.pixels(), 0x40, 160 * 100 * 4);
    std::memset(stencil.pixels(), 0, 160 * 100);
    for (int i = 0; i < 160 * 100 * 4; ++i) source.pixels()[i] = uint8_t(i * 29 + 3);
    FrameBuffer fb;
    fb.init();
    fb.attach(&color, SGL_COLOR_BUFFER);
    fb.attach(&depth, SGL_DEPTH_BUFFER);
    fb.attach(&stencil, SGL_STENCIL_BUFFER);
    sglInit();
    sglBindFrameBuffer(&fb);
    const bool caption = state.range(0) != 0;
    if (caption) {
        sglEnable(SGL_ALPHA_TEST);
        sglAlphaFunc(7, 0);
        sglEnable(SGL_BLEND);
        sglBlendFunc(BLEND_CONSTANT_ALPHA, BLEND_ONE_MINUS_SRC_ALPHA);
        sglEnable(SGL_STENCIL_TEST);
        sglStencilFunc(6, 0);
        sglStencilOp(1, 1, 1);
    }
    SubImage image;
    const int16_t rect[4] = {0, 0, 160, 100};
    image.init(rect, &source);
    for (auto _ : state) {
        image.draw(0, 0);
        benchmark::ClobberMemory();
    }
    state.counters["Mpixels/s"] = benchmark::Counter(double(state.iterations()) * 160 * 100 / 1e6,
                                                     benchmark::Counter::kIsRate);
    sglInit();
    renderContext.frameBuffer = nullptr;
    color.release();
    depth.release();
    stencil.release();
    source.release();
}
BENCHMARK(BM_SubImageDraw)->ArgName("caption")->Arg(0)->Arg(1);

}  // namespace
