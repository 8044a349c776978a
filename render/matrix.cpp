// Vector and matrix arithmetic, and the sgl matrix functions over the
// three matrices and the modelview stack of the render context.
#include "render/matrix.h"

#include <cmath>

#include "render/render_context.h"
#include "render/sgl.h"

void Mat4::identity() {
    for (int i = 0; i < 16; ++i) m[i] = 0.0f;
    m[0] = m[5] = m[10] = m[15] = 1.0f;
}

void Mat4::multiply(const Mat4& b) {
    Mat4 product;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            product.m[r * 4 + c] = m[r * 4 + 0] * b.m[0 * 4 + c] + m[r * 4 + 1] * b.m[1 * 4 + c] +
                                   m[r * 4 + 2] * b.m[2 * 4 + c] + m[r * 4 + 3] * b.m[3 * 4 + c];
        }
    }
    *this = product;
}

namespace {

// Slightly below pi/180; keyframed angles were tuned against this exact value.
constexpr float DEGREES_TO_RADIANS = 0.017453289f;

Mat4& currentMatrix() {
    return renderContext.matrices[renderContext.matrixMode];
}

// Right-multiplies the current matrix, so the factor issued last applies to vertices first.
void multiplyCurrent(const Mat4& factor) {
    currentMatrix().multiply(factor);
}

struct Rotation {
    float cosA;
    float sinA;
};

Rotation rotation(float degrees) {
    const float radians = degrees * DEGREES_TO_RADIANS;
    return {static_cast<float>(std::cos(static_cast<double>(radians))),
            static_cast<float>(std::sin(static_cast<double>(radians)))};
}

}  // namespace

void sglLoadIdentity() {
    currentMatrix().identity();
}

void sglMultMatrixf(const float m[16]) {
    if (m == nullptr) return;
    Mat4 factor;
    for (int i = 0; i < 16; ++i) factor.m[i] = m[i];
    multiplyCurrent(factor);
}

void sglTranslatef(float x, float y, float z) {
    Mat4 t;
    t.identity();
    t.m[3] = x;
    t.m[7] = y;
    t.m[11] = z;
    multiplyCurrent(t);
}

void sglScalef(float x, float y, float z) {
    Mat4 s{};
    s.m[0] = x;
    s.m[5] = y;
    s.m[10] = z;
    s.m[15] = 1.0f;
    multiplyCurrent(s);
}

// The rotations turn opposite to the right-hand rule for positive angles;
// scenes and keyframe data depend on these signs.
void sglRotateXf(float degrees) {
    const Rotation a = rotation(degrees);
    Mat4 r;
    r.identity();
    r.m[5] = a.cosA;
    r.m[6] = a.sinA;
    r.m[9] = -a.sinA;
    r.m[10] = a.cosA;
    multiplyCurrent(r);
}

void sglRotateYf(float degrees) {
    const Rotation a = rotation(degrees);
    Mat4 r;
    r.identity();
    r.m[0] = a.cosA;
    r.m[2] = -a.sinA;
    r.m[8] = a.sinA;
    r.m[10] = a.cosA;
    multiplyCurrent(r);
}

void sglRotateZf(float degrees) {
    const Rotation a = rotation(degrees);
    Mat4 r;
    r.identity();
    r.m[0] = a.cosA;
    r.m[1] = a.sinA;
    r.m[4] = -a.sinA;
    r.m[5] = a.cosA;
    multiplyCurrent(r);
}

void sglFrustum(float left, float right, float top, float bottom, float nearZ, float farZ) {
    Mat4& f = currentMatrix();
    f.identity();
    f.m[0] = 2.0f * nearZ / (right - left);
    f.m[2] = (right + left) / (right - left);
    f.m[5] = 2.0f * nearZ / (top - bottom);
    f.m[6] = (top + bottom) / (top - bottom);
    f.m[10] = -(farZ + nearZ) / (farZ - nearZ);
    f.m[11] = -2.0f * farZ * nearZ / (farZ - nearZ);
    f.m[14] = -1.0f;
    f.m[15] = 0.0f;
}

// Push and pop always act on the modelview matrix, whatever the matrix mode.
// At the stack's limits they do nothing rather than reach outside it.
void sglPushMatrix() {
    RenderContext& rc = renderContext;
    if (rc.stackDepth >= MATRIX_STACK_DEPTH) return;
    rc.modelviewStack[rc.stackDepth] = rc.matrices[SGL_MODELVIEW];
    ++rc.stackDepth;
}

void sglPopMatrix() {
    RenderContext& rc = renderContext;
    if (rc.stackDepth == 0) return;
    --rc.stackDepth;
    rc.matrices[SGL_MODELVIEW] = rc.modelviewStack[rc.stackDepth];
}
