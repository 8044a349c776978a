// The show's 160x100 FrameBuffer (colour, depth, stencil) with a 64x64 test
// texture bound and the scenes' view set, for the renderer's benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "render/sgl.h"

struct BenchRenderTarget {
    Surface color, depth, stencil, texture;
    FrameBuffer frameBuffer;

    BenchRenderTarget() {
        color.create({160, 100}, 4);
        depth.create({160, 100}, 4);
        stencil.create({160, 100}, 1);
        texture.create({64, 64}, 4);
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                uint8_t* p = texture.pixels() + y * texture.pitch() + x * 4;
                p[0] = uint8_t(x * 4);
                p[1] = uint8_t(y * 4);
                p[2] = uint8_t((x ^ y) * 4);
                p[3] = uint8_t(128 + x);
            }
        }
        frameBuffer.init();
        frameBuffer.attach(&color, SGL_COLOR_BUFFER);
        frameBuffer.attach(&depth, SGL_DEPTH_BUFFER);
        frameBuffer.attach(&stencil, SGL_STENCIL_BUFFER);
        sglInit();
        sglBindFrameBuffer(&frameBuffer);
        sglMatrixMode(SGL_PROJECTION);
        sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
        sglBindTexture(&texture);
    }

    ~BenchRenderTarget() {
        renderContext.frameBuffer = nullptr;
        sglBindTexture(nullptr);
        frameBuffer.release();
        color.release();
        depth.release();
        stencil.release();
        texture.release();
    }
};

// A vertex as the benchmarks submit it.
struct BenchVertex {
    float x, y, z, s, t;
    uint8_t rgba[4];
};

constexpr int SMALL_TRIANGLES = 1000;

// Triangles of about 6 pixels on a side, scattered over the screen at
// depths 2 to 20, each tilted in depth so that perspective matters.
inline std::vector<BenchVertex> smallTriangles() {
    std::vector<BenchVertex> v;
    uint32_t seed = 7;
    auto next = [&seed](float lo, float hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * float(seed >> 8) / float(1 << 24);
    };
    for (int i = 0; i < SMALL_TRIANGLES; ++i) {
        const float z = next(2.0f, 20.0f);
        const float cx = next(-0.9f, 0.9f) * z;
        const float cy = next(-0.7f, 0.7f) * z;
        const float size = 0.04f * z;
        const float s = next(0.0f, 0.8f);
        const float t = next(0.0f, 0.8f);
        const BenchVertex corners[3] = {
            {cx - size, cy - size, z, s, t, {255, 0, 0, 200}},
            {cx + size, cy - size, z + 0.3f, s + 0.2f, t, {0, 255, 0, 200}},
            {cx, cy + size, z - 0.3f, s + 0.1f, t + 0.2f, {0, 0, 255, 200}},
        };
        v.insert(v.end(), corners, corners + 3);
    }
    return v;
}
