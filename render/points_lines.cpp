// Points through the depth, stencil, alpha and blend stages; lines that only project.
#include "render/points_lines.h"

#include <cstring>

#include "render/fixed_point.h"
#include "render/fragment_tables.h"
#include "render/geometry_pipeline.h"
#include "render/render_context.h"
#include "render/sgl.h"

namespace {

uint8_t* pixelOf(const FrameBuffer& fb, uint8_t which, const Size16& at) {
    const Surface* s = fb.surface(which);
    return s != nullptr ? s->pixelAt(at) : nullptr;
}

}  // namespace

void drawPoint() {
    const FrameBuffer* fb = sglGetFrameBuffer();
    if (fb == nullptr) return;
    RenderContext& rc = renderContext;
    const Vec4 eye = eyeTransform(*rc.vertexRefs[0].position);
    if (eye.z < PIPELINE_NEAR_Z || eye.z > PIPELINE_FAR_Z) return;
    const Vec3 screen = projectToScreen(eye);
    // Checked before narrowing to 16 bits, so a point far off screen cannot wrap onto it.
    const int32_t px = truncToInt(screen.x);
    const int32_t py = truncToInt(screen.y);
    if (px < 0 || py < 0 || px >= fb->width() || py >= fb->height()) return;
    const Size16 at{static_cast<int16_t>(px), static_cast<int16_t>(py)};
    uint8_t* color = pixelOf(*fb, SGL_COLOR_BUFFER, at);
    float* depth = reinterpret_cast<float*>(pixelOf(*fb, SGL_DEPTH_BUFFER, at));
    uint8_t* stencil = pixelOf(*fb, SGL_STENCIL_BUFFER, at);

    SpanBuffers& sb = rc.spans;
    uint8_t mask[1] = {0};
    sb.depth[0] = 1.0f / screen.z;
    if (depthTestSpan(sb.depth, depth, mask, 1) != 1) return;
    if (stencilTestSpan(stencil, mask, 1) != 1) return;
    // Points are never textured: the fragment is the recorded vertex colour.
    std::memcpy(sb.texels, rc.vertexRefs[0].color, 4);
    if (alphaTestSpan(sb.texels, mask, 1) != 1) return;
    if (color != nullptr) blendSpan(sb.texels, color, color, mask, 1);
    depthWriteSpan(sb.depth, depth, mask, 1);
}

void drawLine() {
    const RenderContext& rc = renderContext;
    projectToScreen(eyeTransform(*rc.vertexRefs[0].position));
    projectToScreen(eyeTransform(*rc.vertexRefs[1].position));
}
