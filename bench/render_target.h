// The show's 160x100 FrameBuffer (colour, depth, stencil) with a 64x64 test
// texture bound and the scenes' view set, for the renderer's benchmarks.
#pragma once

#include <cstdint>

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
