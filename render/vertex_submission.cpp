// Vertex intake and primitive assembly: each vertex lands in the current
// position slot with the current colour and texture coordinate, and the vertex
// that completes a primitive hands it to its drawing stage.
#include "render/geometry_pipeline.h"
#include "render/points_lines.h"
#include "render/render_context.h"
#include "render/sgl.h"

namespace {

bool isPrimitiveKind(uint8_t kind) {
    return kind == SGL_LINES || kind == 2 || kind == 3 || kind == SGL_TRIANGLES ||
           kind == SGL_POINTS || kind == SGL_QUADS;
}

void restartPrimitive(RenderContext& rc) {
    rc.vertexCount = 0;
    rc.currentPositionSlot = 0;
}

// Continues the primitive with the next slot.
void expectNextVertex(RenderContext& rc, uint8_t n) {
    rc.vertexCount = static_cast<uint8_t>(n + 1);
    rc.currentPositionSlot = static_cast<uint8_t>(n + 1);
}

[[gnu::always_inline]] inline void assembleVertex() {
    RenderContext& rc = renderContext;
    if (rc.primitiveKind == 0) return;
    const uint8_t n = rc.vertexCount;
    rc.vertexRefs[n] = {&rc.positionSlots[n], rc.colorSlots[n], &rc.texCoordSlots[n]};
    for (int c = 0; c < 4; ++c) rc.colorSlots[n][c] = rc.currentColor[c];
    rc.texCoordSlots[n] = rc.currentTexCoord;

    // Triangles first: most vertices are theirs, and the switch would jump
    // through a table for every one.
    if (rc.primitiveKind == SGL_TRIANGLES) [[likely]] {
        if (n < 2) return expectNextVertex(rc, n);
        processTriangle();
        return restartPrimitive(rc);
    }
    switch (rc.primitiveKind) {  // every kind but triangles
        case SGL_LINES:
            if (n == 0) return expectNextVertex(rc, n);
            drawLine();
            return restartPrimitive(rc);
        case SGL_POINTS:
            drawPoint();
            return;
        case SGL_QUADS:
            if (n < 3) return expectNextVertex(rc, n);
            processQuad();
            return restartPrimitive(rc);
        default:
            // Kinds 2 and 3 keep their vertices and draw nothing; the count
            // stays 0, so each vertex reuses slot 0.
            return;
    }
}

void submitVertex(float x, float y, float z, float w) {
    RenderContext& rc = renderContext;
    rc.positionSlots[rc.currentPositionSlot] = Vec4(x, y, z, w);
    assembleVertex();
}

}  // namespace

int sglBegin(uint8_t kind) {
    if (kind != 0) sglEnd();
    if (!isPrimitiveKind(kind)) return SGL_ERR_INVALID;
    RenderContext& rc = renderContext;
    rc.primitiveKind = kind;
    restartPrimitive(rc);
    return 0;
}

void sglEnd() {
    RenderContext& rc = renderContext;
    if (rc.primitiveKind == 0) return;
    restartPrimitive(rc);
    rc.primitiveKind = 0;
}

void sglVertex2f(float x, float y) {
    submitVertex(x, y, renderContext.defaultZ, renderContext.defaultW);
}

void sglVertex3f(float x, float y, float z) {
    submitVertex(x, y, z, renderContext.defaultW);
}

void sglVertex3fv(const float v[3]) {
    if (v != nullptr) submitVertex(v[0], v[1], v[2], renderContext.defaultW);
}
