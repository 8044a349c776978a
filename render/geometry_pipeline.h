// The per-triangle geometry pipeline: eye-space transform, the near plane at
// z = 1 and far limit at z = 100, projection with the viewport mapping onto
// the bound FrameBuffer, and texture-coordinate scaling into texels.
#pragma once

#include "render/matrix.h"
#include "render/render_context.h"

// Eye-space z of the near plane (nearer vertices are clipped) and the far limit
// (a triangle with a vertex beyond it is dropped whole).
constexpr float PIPELINE_NEAR_Z = 1.0f;
constexpr float PIPELINE_FAR_Z = 100.0f;

// Receives each triangle once its three ScreenVertex records are filled:
// rasterizeTriangle, unless a test puts a recorder in its place.
using TriangleSink = void (*)();
extern TriangleSink triangleSink;

// Carries VertexRef entries 0, 1, 2 to screen space and rasterizes the result:
// no, one or two triangles. Does nothing while no FrameBuffer is bound.
void processTriangle();

// Carries the quad of VertexRef entries 0 to 3 as its triangles (0, 1, 2) and
// (0, 2, 3): between them entries 1 to 3 rotate, so that 0, 1, 2 name the
// second triangle's vertices, as they still do afterwards.
void processQuad();

// position transformed by the modelview matrix, all four components.
Vec4 eyeTransform(const Vec4& position);

// (eye.x, eye.y, eye.z) projected by the projection matrix and mapped onto the
// bound FrameBuffer (x grows to the right, y downward through the rows); the
// third component is eye.z itself. Maps onto a 0 x 0 FrameBuffer while none is bound.
Vec3 projectToScreen(const Vec4& eye);

// The bound texture's size, by which texture coordinates are scaled; looked
// up once for all the vertices of a triangle.
struct TexCoordScale {
    bool bound = false;
    float width = 0.0f;
    float height = 0.0f;
};
inline TexCoordScale texCoordScale() {
    const Surface* texture = renderContext.texture;
    if (texture == nullptr) return {};
    return {true, float(texture->width()), float(texture->height())};
}

// With a texture bound: out.s, out.t = st scaled by the texture's width and
// height, out.r untouched. Without one: s, t and r all become 1.
inline void scaleTexCoord(const Vec3& st, const TexCoordScale& scale, ScreenVertex& out) {
    if (!scale.bound) {
        out.s = out.t = out.r = 1.0f;
        return;
    }
    out.s = st.x * scale.width;
    out.t = st.y * scale.height;
}
