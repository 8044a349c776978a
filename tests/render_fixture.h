// A 160x100 FrameBuffer with colour, depth and stencil Surfaces bound to a
// freshly initialised render context, with every per-fragment setting (which
// sglInit keeps) back at its program-start value.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "image/surface.h"
#include "render/render_context.h"
#include "render/sgl.h"

class RenderTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(color.create({160, 100}, 4), 0);
        ASSERT_EQ(depth.create({160, 100}, 4), 0);
        ASSERT_EQ(stencil.create({160, 100}, 1), 0);
        std::memset(color.pixels(), 0, 160 * 100 * 4);
        std::memset(depth.pixels(), 0, 160 * 100 * 4);
        std::memset(stencil.pixels(), 0, 160 * 100);
        ASSERT_EQ(frameBuffer.init(), 0);
        ASSERT_EQ(frameBuffer.attach(&color, SGL_COLOR_BUFFER), 0);
        ASSERT_EQ(frameBuffer.attach(&depth, SGL_DEPTH_BUFFER), 0);
        ASSERT_EQ(frameBuffer.attach(&stencil, SGL_STENCIL_BUFFER), 0);
        ASSERT_EQ(sglInit(), 0);
        ASSERT_EQ(sglBindFrameBuffer(&frameBuffer), 0);
        sglBlendFunc(BLEND_ONE, BLEND_ZERO);
        sglTexEnvMode(SGL_REPLACE);
        sglDepthFunc(1);
        sglDepthMask(1);
        sglStencilOp(1, 1, 1);
        sglStencilValueMask(255);
        sglStencilFunc(1, 255);
        sglStencilWriteMask(255);
        sglAlphaFunc(1, 255);
        renderContext.primitiveKind = 0;
    }

    void TearDown() override {
        renderContext.frameBuffer = nullptr;
        frameBuffer.release();
        color.release();
        depth.release();
        stencil.release();
    }

    uint8_t* colorAt(int x, int y) { return color.pixels() + y * color.pitch() + x * 4; }
    float* depthRow(int y) { return reinterpret_cast<float*>(depth.pixels() + y * depth.pitch()); }
    uint8_t* stencilRow(int y) { return stencil.pixels() + y * stencil.pitch(); }

    Surface color;
    Surface depth;
    Surface stencil;
    FrameBuffer frameBuffer;
};
