// RenderContext: the renderer's single global state record. Every sgl
// function works on it directly; the fragment stages and the drawing paths
// read it but own nothing in it.
#pragma once

#include <cstdint>

#include "image/surface.h"
#include "render/fragment_tables.h"
#include "render/frame_buffer.h"
#include "render/matrix.h"
#include "render/sgl.h"

constexpr uint8_t MATRIX_STACK_DEPTH = 16;
constexpr int VERTEX_SLOTS = 4;

// The references through which the geometry pipeline reads vertex n of the
// current primitive; the quad split points an entry at another slot.
struct VertexRef {
    Vec4* position = nullptr;
    uint8_t* color = nullptr;  // 4 bytes R, G, B, A
    Vec3* texCoord = nullptr;
};

// Screen-space vertex handed from the geometry pipeline to triangle rasterization.
struct ScreenVertex {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float s = 0.0f;
    float t = 0.0f;
    float r = 0.0f;
    uint8_t color[4] = {0, 0, 0, 0};
};

// Scratch through which every span passes its pixels to the fragment stages.
// mask: 0 for a live pixel, 255 for a rejected one.
struct SpanBuffers {
    float depth[SPAN_CAPACITY] = {};
    uint8_t mask[SPAN_CAPACITY] = {};
    uint8_t texels[SPAN_CAPACITY * 4] = {};
    uint8_t colors[SPAN_CAPACITY * 4] = {};
};

struct RenderContext {
    uint8_t initialised = 0;
    FrameBuffer* frameBuffer = nullptr;

    // Primitive assembly.
    uint8_t primitiveKind = 0;
    uint8_t vertexCount = 0;
    uint8_t currentPositionSlot = 0;

    // Current vertex attributes and defaults.
    uint8_t currentColor[4] = {255, 255, 255, 255};
    Vec3 currentTexCoord;
    float defaultZ = 1.0f;
    float defaultW = 1.0f;

    // Clear values.
    uint8_t clearColor[4] = {0, 0, 0, 255};
    uint32_t clearDepth = 0;  // the bits of the float 0.0
    uint8_t clearStencil = 0;

    uint8_t blendColor[4] = {255, 255, 255, 255};
    uint8_t enables[8] = {};  // indexed by cap 1..7; entry 0 unused

    // Matrices: 0 projection, 1 modelview, 2 a third one; all zero at program start.
    uint8_t matrixMode = SGL_MODELVIEW;
    Mat4 matrices[3]{};
    Mat4 modelviewStack[MATRIX_STACK_DEPTH]{};
    uint8_t stackDepth = 0;

    Surface* texture = nullptr;

    // Per-fragment state.
    uint8_t blendSrc = BLEND_ONE;
    uint8_t blendDst = BLEND_ZERO;
    uint8_t texEnvMode = SGL_REPLACE;
    uint8_t depthFunc = 1;
    uint8_t depthWrite = 1;
    uint8_t stencilOpRejected = 1;
    uint8_t stencilOpFail = 1;
    uint8_t stencilOpPass = 1;
    uint8_t stencilValueMask = 255;
    uint8_t stencilFunc = 1;
    uint8_t stencilRef = 255;
    uint8_t stencilWriteMask = 255;
    uint8_t alphaFunc = 1;
    uint8_t alphaRef = 255;

    FragmentTables tables;

    // Vertex slots and the pipeline's per-triangle scratch.
    Vec4 positionSlots[VERTEX_SLOTS];
    uint8_t colorSlots[VERTEX_SLOTS][4] = {};
    Vec3 texCoordSlots[VERTEX_SLOTS];
    VertexRef vertexRefs[VERTEX_SLOTS];
    Vec4 eyeVertices[3];
    ScreenVertex screenVertices[3];

    SpanBuffers spans;
};

extern RenderContext renderContext;

// What sglGetFrameBuffer answers, inline for the callers that ask per triangle.
inline FrameBuffer* boundFrameBuffer() {
    return renderContext.initialised ? renderContext.frameBuffer : nullptr;
}
