// Geometry pipeline: transform, near-plane clipping with interpolated colours
// and texture coordinates, far-limit rejection, projection and hand-off of the
// ScreenVertex records to the rasterizer.
#include "render/geometry_pipeline.h"

#include <cstring>

#include "render/fixed_point.h"
#include "render/lanes.h"
#include "render/rasterizer.h"
#include "render/sgl.h"

TriangleSink triangleSink = rasterizeTriangle;

namespace {

// A vertex as the pipeline hands it on: eye-space position, colour and the
// texture coordinate before scaling.
struct PipelineVertex {
    Vec4 eye;
    uint8_t color[4];
    Vec3 texCoord;
};

PipelineVertex inputVertex(int i) {
    const RenderContext& rc = renderContext;
    const VertexRef& ref = rc.vertexRefs[i];
    PipelineVertex v;
    v.eye = rc.eyeVertices[i];
    std::memcpy(v.color, ref.color, 4);
    v.texCoord = *ref.texCoord;
    return v;
}

// The point where the edge from the front vertex f towards the behind vertex b
// meets z = 1, with colour and texture coordinate interpolated by the same t.
PipelineVertex clipTowards(const PipelineVertex& f, const PipelineVertex& b) {
    const float t = (f.eye.z - PIPELINE_NEAR_Z) / (f.eye.z - b.eye.z);
    PipelineVertex p;
    p.eye = Vec4(f.eye.x - (f.eye.x - b.eye.x) * t, f.eye.y - (f.eye.y - b.eye.y) * t,
                 PIPELINE_NEAR_Z, 1.0f);
    for (int c = 0; c < 4; ++c) {
        const float channel = float(f.color[c]) - float(f.color[c] - b.color[c]) * t;
        p.color[c] = truncToByte(channel);
    }
    p.texCoord = Vec3(f.texCoord.x - (f.texCoord.x - b.texCoord.x) * t,
                      f.texCoord.y - (f.texCoord.y - b.texCoord.y) * t, 0.0f);
    return p;
}

// The bound FrameBuffer's size, as projectToScreen maps onto it.
struct Viewport {
    float width;
    float height;
};

Viewport viewport() {
    const FrameBuffer* fb = boundFrameBuffer();
    return {fb != nullptr ? float(fb->width()) : 0.0f, fb != nullptr ? float(fb->height()) : 0.0f};
}

Vec3 project(const Vec4& eye, const Viewport& view) {
    const Vec3 projected =
        renderContext.matrices[SGL_PROJECTION].project(Vec3(eye.x, eye.y, eye.z));
    return Vec3(view.width * 0.5f * (projected.x + 1.0f), view.height * 0.5f * (projected.y + 1.0f),
                eye.z);
}

// The projection's w of an eye-space point, as Mat4::project computes it.
float projectedW(const Mat4& m, const Vec4& eye) {
    return m.m[12] * eye.x + m.m[13] * eye.y + m.m[14] * eye.z + m.m[15];
}

// projectToScreen with the reciprocal of the projected w given.
void fillScreenVertex(ScreenVertex& out, const PipelineVertex& v, bool texturing,
                      const TexCoordScale& scale, const Viewport& view, const Mat4& m, float r) {
    const Vec4& p = v.eye;
    const float x = (m.m[0] * p.x + m.m[1] * p.y + m.m[2] * p.z + m.m[3]) * r;
    const float y = (m.m[4] * p.x + m.m[5] * p.y + m.m[6] * p.z + m.m[7]) * r;
    out.x = view.width * 0.5f * (x + 1.0f);
    out.y = view.height * 0.5f * (y + 1.0f);
    out.w = p.z;
    if (texturing) scaleTexCoord(v.texCoord, scale, out);
    std::memcpy(out.color, v.color, 4);
}

// Fills V1 and V2 (and V0 unless keepV0) and rasterizes.
void rasterize(const PipelineVertex* v0, const PipelineVertex& v1, const PipelineVertex& v2,
               bool texturing) {
    ScreenVertex* records = renderContext.screenVertices;
    const Viewport view = viewport();
    const Mat4& m = renderContext.matrices[SGL_PROJECTION];
    // The three reciprocals 1/w in one division where there is a vector one.
    const float w0 = v0 != nullptr ? projectedW(m, v0->eye) : 1.0f;
    const float w1 = projectedW(m, v1.eye);
    const float w2 = projectedW(m, v2.eye);
    const Quotients r = divide4(1.0f, 1.0f, 1.0f, 1.0f, w0, w1, w2, 1.0f);
    const TexCoordScale scale = texturing ? texCoordScale() : TexCoordScale{};
    if (v0 != nullptr) fillScreenVertex(records[0], *v0, texturing, scale, view, m, r.v[0]);
    fillScreenVertex(records[1], v1, texturing, scale, view, m, r.v[1]);
    fillScreenVertex(records[2], v2, texturing, scale, view, m, r.v[2]);
    triangleSink();
}

// Up to four vertices in lanes, one vector per component.
struct VertexLanes {
    Floats4 x, y, z, w;
};

// The rows of m that a point's components come from, each applied lane by lane
// in Mat4::transform's order; the point's w is 1 in pointRow.
Floats4 matrixRow(const Mat4& m, int row, const VertexLanes& v) {
    const float* e = m.m + row * 4;
    return splatFloat(e[0]) * v.x + splatFloat(e[1]) * v.y + splatFloat(e[2]) * v.z +
           splatFloat(e[3]) * v.w;
}
Floats4 pointRow(const Mat4& m, int row, const VertexLanes& v) {
    const float* e = m.m + row * 4;
    return splatFloat(e[0]) * v.x + splatFloat(e[1]) * v.y + splatFloat(e[2]) * v.z +
           splatFloat(e[3]);
}

// The positions of VertexRef entries 0 to count - 1 (count 3 or 4) in eye
// space: eye holds them in lanes, rows[i] the vertex of entry i.
[[gnu::always_inline]] inline void eyeLanes(int count, VertexLanes& eye, Floats4 rows[4]) {
    const VertexRef* refs = renderContext.vertexRefs;
    VertexLanes position;
    position.x = loadFloats4(&refs[0].position->x);
    position.y = loadFloats4(&refs[1].position->x);
    position.z = loadFloats4(&refs[2].position->x);
    position.w = loadFloats4(&refs[count == 4 ? 3 : 0].position->x);
    transposeFloats4(position.x, position.y, position.z, position.w);
    const Mat4& modelview = renderContext.matrices[SGL_MODELVIEW];
    eye.x = matrixRow(modelview, 0, position);
    eye.y = matrixRow(modelview, 1, position);
    eye.z = matrixRow(modelview, 2, position);
    eye.w = matrixRow(modelview, 3, position);
    rows[0] = eye.x;
    rows[1] = eye.y;
    rows[2] = eye.z;
    rows[3] = eye.w;
    transposeFloats4(rows[0], rows[1], rows[2], rows[3]);
}

// The eye-space vertex i of the triangle, where the clipping and tests find it.
inline void keepEyeVertex(int i, Floats4 eye) {
    alignas(16) float lanes[4];
    storeFloats4(lanes, eye);
    renderContext.eyeVertices[i] = Vec4(lanes[0], lanes[1], lanes[2], lanes[3]);
}

// Bit i set where vertex i lies behind the near plane (beyond the far limit).
// Both strict: a vertex exactly on the plane or the limit is drawn, and a NaN z
// is neither behind nor beyond.
unsigned behindLanes(const VertexLanes& eye) {
    return lanesBelow(eye.z, splatFloat(PIPELINE_NEAR_Z));
}
unsigned beyondLanes(const VertexLanes& eye) {
    return lanesAbove(eye.z, splatFloat(PIPELINE_FAR_Z));
}

// The screen x and y of every lane, as fillScreenVertex computes them.
struct ScreenLanes {
    alignas(16) float x[4];
    alignas(16) float y[4];
    alignas(16) float eyeZ[4];
};
[[gnu::always_inline]] inline ScreenLanes screenLanes(const VertexLanes& eye,
                                                      const FrameBuffer& fb) {
    const Mat4& m = renderContext.matrices[SGL_PROJECTION];
    const Floats4 one = splatFloat(1.0f);
    const Floats4 r = one / pointRow(m, 3, eye);
    const Floats4 x = pointRow(m, 0, eye) * r;
    const Floats4 y = pointRow(m, 1, eye) * r;
    ScreenLanes s;
    storeFloats4(s.x, splatFloat(float(fb.width()) * 0.5f) * (x + one));
    storeFloats4(s.y, splatFloat(float(fb.height()) * 0.5f) * (y + one));
    storeFloats4(s.eyeZ, eye.z);
    return s;
}

// rasterize for a triangle that needs no clipping, from lanes a, b and c of the
// computed vertices and VertexRef entries 0 to 2: the same arithmetic without
// the clipping's intermediate vertex records.
[[gnu::always_inline]] inline void rasterizeLanes(const ScreenLanes& screen,
                                                  const Floats4 eyeRows[4], const int (&lane)[3],
                                                  bool texturing) {
    RenderContext& rc = renderContext;
    // Looked up before the loop: the colour copies below could change the
    // texture for all the compiler knows, which made it look again for every
    // vertex.
    const TexCoordScale scale = texturing ? texCoordScale() : TexCoordScale{};
    // Unrolled, each vertex's lanes are taken straight from the registers.
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        const int k = lane[i];
        keepEyeVertex(i, eyeRows[k]);
        const VertexRef& ref = rc.vertexRefs[i];
        ScreenVertex& out = rc.screenVertices[i];
        out.x = screen.x[k];
        out.y = screen.y[k];
        out.w = screen.eyeZ[k];
        if (texturing) scaleTexCoord(*ref.texCoord, scale, out);
        std::memcpy(out.color, ref.color, 4);
    }
    triangleSink();
}

// Entries 1..3 rotate so that entries 0, 1, 2 name A, C, D for the quad's second triangle.
void rotateQuadEntries(VertexRef* refs) {
    const VertexRef b = refs[1];
    refs[1] = refs[2];
    refs[2] = refs[3];
    refs[3] = b;
}

// Vertex n lies behind the near plane: the visible quadrilateral, walked in
// input order with n replaced by the clip points, is fanned from its first vertex.
void drawOneBehind(int n, bool texturing) {
    const int p = (n + 2) % 3;
    const int q = (n + 1) % 3;
    const PipelineVertex v[3] = {inputVertex(0), inputVertex(1), inputVertex(2)};
    const PipelineVertex clipP = clipTowards(v[p], v[n]);
    const PipelineVertex clipQ = clipTowards(v[q], v[n]);
    // The second triangle keeps the V0 record of the first.
    switch (n) {
        case 0:
            rasterize(&clipQ, v[1], v[2], texturing);
            rasterize(nullptr, v[2], clipP, texturing);
            break;
        case 1:
            rasterize(&v[0], clipP, clipQ, texturing);
            rasterize(nullptr, clipQ, v[2], texturing);
            break;
        default:
            rasterize(&v[0], v[1], clipP, texturing);
            rasterize(nullptr, clipP, clipQ, texturing);
            break;
    }
}

// Vertices a and b lie behind: both move along their edges to the front
// vertex f; the order, and so the winding, stays that of the input.
void drawTwoBehind(int a, int b, int f, bool texturing) {
    PipelineVertex v[3] = {inputVertex(0), inputVertex(1), inputVertex(2)};
    v[a] = clipTowards(v[f], v[a]);
    v[b] = clipTowards(v[f], v[b]);
    renderContext.eyeVertices[a] = v[a].eye;
    renderContext.eyeVertices[b] = v[b].eye;
    rasterize(&v[0], v[1], v[2], texturing);
}

}  // namespace

Vec4 eyeTransform(const Vec4& position) {
    return renderContext.matrices[SGL_MODELVIEW].transform(position);
}

Vec3 projectToScreen(const Vec4& eye) {
    return project(eye, viewport());
}

void processTriangle() {
    RenderContext& rc = renderContext;
    // Nothing to draw into: the projection has no viewport either.
    const FrameBuffer* fb = boundFrameBuffer();
    if (fb == nullptr) return;

    VertexLanes eye;
    Floats4 eyeRows[4];
    eyeLanes(3, eye, eyeRows);
    const unsigned behindBits = behindLanes(eye) & 7u;
    const bool texturing = rc.enables[SGL_TEXTURE] != 0;
    if ((beyondLanes(eye) & 7u) != 0 || behindBits == 7u) return;
    if (behindBits == 0) {
        rasterizeLanes(screenLanes(eye, *fb), eyeRows, {0, 1, 2}, texturing);
        return;
    }
    for (int i = 0; i < 3; ++i) keepEyeVertex(i, eyeRows[i]);
    int behind[3];
    int behindCount = 0;
    for (int i = 0; i < 3; ++i) {
        if ((behindBits >> i) & 1u) behind[behindCount++] = i;
    }
    if (behindCount == 2) {
        const int front = 3 - behind[0] - behind[1];
        drawTwoBehind(behind[0], behind[1], front, texturing);
    } else {
        drawOneBehind(behind[0], texturing);
    }
}

void processQuad() {
    RenderContext& rc = renderContext;
    const FrameBuffer* fb = boundFrameBuffer();
    if (fb != nullptr) {
        // All four vertices in front and none beyond: the two triangles share
        // the transform of their common vertices.
        VertexLanes eye;
        Floats4 eyeRows[4];
        eyeLanes(4, eye, eyeRows);
        if (behindLanes(eye) == 0 && beyondLanes(eye) == 0) {
            const ScreenLanes screen = screenLanes(eye, *fb);
            const bool texturing = rc.enables[SGL_TEXTURE] != 0;
            rasterizeLanes(screen, eyeRows, {0, 1, 2}, texturing);
            rotateQuadEntries(rc.vertexRefs);
            rasterizeLanes(screen, eyeRows, {0, 2, 3}, texturing);
            return;
        }
    }
    processTriangle();
    rotateQuadEntries(rc.vertexRefs);
    processTriangle();
}
