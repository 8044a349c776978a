#include <gtest/gtest.h>

#include <cmath>

#include "render/matrix.h"
#include "render/render_context.h"
#include "render/sgl.h"

namespace {

Vec4 applyModelview(float x, float y, float z) {
    return renderContext.matrices[SGL_MODELVIEW].transform(Vec4(x, y, z, 1.0f));
}

class MatrixTest : public testing::Test {
  protected:
    void SetUp() override {
        sglInit();
        sglMatrixMode(SGL_PROJECTION);
        sglLoadIdentity();
        sglMatrixMode(SGL_MODELVIEW);
        sglLoadIdentity();
    }
};

}  // namespace

TEST(Vec3, ArithmeticLeavesOperandsAndDividesByOneReciprocal) {
    const Vec3 a(1.0f, 2.0f, 3.0f);
    const Vec3 b(0.5f, -1.0f, 4.0f);
    const Vec3 sum = a + b;
    const Vec3 difference = a - b;
    EXPECT_EQ(sum.x, 1.5f);
    EXPECT_EQ(sum.y, 1.0f);
    EXPECT_EQ(difference.z, -1.0f);
    EXPECT_EQ(a.x, 1.0f);
    EXPECT_EQ((a * 2.0f).z, 6.0f);
    // 10 x (1/3) rounds differently from 10 / 3 in single precision.
    const Vec3 tens(10.0f, 10.0f, 10.0f);
    const float r = 1.0f / 3.0f;
    EXPECT_EQ((tens / 3.0f).x, 10.0f * r);
    Vec3 v;
    EXPECT_EQ(v.set(1, 2, 3).y, 2.0f);
    v.zero();
    EXPECT_EQ(v.x + v.y + v.z, 0.0f);
    EXPECT_EQ(Vec4().w, 1.0f);
}

TEST(Mat4, MultiplyByCopySquaresAndProjectDividesByW) {
    Mat4 m{};
    m.identity();
    m.m[3] = 2.0f;  // translate x by 2
    m.m[0] = 3.0f;  // scale x by 3
    Mat4 copy;
    copy.copy(m);
    m.multiply(m);
    EXPECT_EQ(m.m[0], 9.0f);
    EXPECT_EQ(m.m[3], 8.0f);  // 3 x 2 + 2

    Mat4 p{};
    p.identity();
    p.m[15] = 0.0f;
    p.m[14] = -1.0f;  // w = -z
    const Vec3 projected = p.project(Vec3(2.0f, 4.0f, -2.0f));
    EXPECT_EQ(projected.x, 1.0f);
    EXPECT_EQ(projected.y, 2.0f);
    EXPECT_EQ(projected.z, -1.0f);
}

TEST_F(MatrixTest, TranslateThenRotateAppliesTheRotationFirst) {
    sglTranslatef(0.0f, 0.0f, 5.0f);
    sglRotateYf(90.0f);
    const Vec4 v = applyModelview(1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, 0.0f, 1e-6f);
    EXPECT_NEAR(v.z, 6.0f, 1e-6f);
    EXPECT_EQ(v.w, 1.0f);
}

TEST_F(MatrixTest, RotationsTurnAgainstTheRightHandRule) {
    sglRotateXf(90.0f);
    Vec4 v = applyModelview(0.0f, 1.0f, 0.0f);
    EXPECT_NEAR(v.y, 0.0f, 1e-6f);
    EXPECT_NEAR(v.z, -1.0f, 1e-6f);

    sglLoadIdentity();
    sglRotateZf(90.0f);
    v = applyModelview(1.0f, 0.0f, 0.0f);
    EXPECT_NEAR(v.x, 0.0f, 1e-6f);
    EXPECT_NEAR(v.y, -1.0f, 1e-6f);

    // The degree constant is slightly below pi/180: cos(90 degrees) is not 0.
    sglLoadIdentity();
    sglRotateZf(90.0f);
    const float radians = 90.0f * 0.017453289f;
    EXPECT_EQ(renderContext.matrices[SGL_MODELVIEW].m[0],
              static_cast<float>(std::cos(double{radians})));
    EXPECT_NE(renderContext.matrices[SGL_MODELVIEW].m[0], 0.0f);
}

TEST_F(MatrixTest, ScaleLeavesTheTranslationColumnZero) {
    sglScalef(2.0f, 2.0f, 1.0f);
    const Mat4& m = renderContext.matrices[SGL_MODELVIEW];
    EXPECT_EQ(m.m[0], 2.0f);
    EXPECT_EQ(m.m[5], 2.0f);
    EXPECT_EQ(m.m[10], 1.0f);
    EXPECT_EQ(m.m[3], 0.0f);
    EXPECT_EQ(m.m[7], 0.0f);
    EXPECT_EQ(m.m[11], 0.0f);
}

TEST_F(MatrixTest, FrustumOfTheScenesReplacesTheMatrix) {
    sglMatrixMode(SGL_PROJECTION);
    sglTranslatef(3.0f, 4.0f, 5.0f);
    sglFrustum(-1.0f, 1.0f, 0.8f, -0.8f, 1.0f, 100.0f);
    const Mat4& m = renderContext.matrices[SGL_PROJECTION];
    const float expected[16] = {
        1.0f, 0, 0, 0, 0, 1.25f, 0, 0, 0, 0, -101.0f / 99.0f, -200.0f / 99.0f, 0, 0, -1.0f, 0};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], expected[i]) << "element " << i;
    // An eye-space point on the axis projects to the centre.
    const Vec3 centre = m.project(Vec3(0.0f, 0.0f, -7.0f));
    EXPECT_EQ(centre.x, 0.0f);
    EXPECT_EQ(centre.y, 0.0f);
}

TEST_F(MatrixTest, PushAndPopAlwaysActOnTheModelview) {
    sglTranslatef(1.0f, 2.0f, 3.0f);
    sglMatrixMode(SGL_PROJECTION);
    sglPushMatrix();
    EXPECT_EQ(renderContext.stackDepth, 1);
    EXPECT_EQ(renderContext.modelviewStack[0].m[3], 1.0f);
    sglScalef(5.0f, 5.0f, 5.0f);  // changes the projection only
    sglMatrixMode(SGL_MODELVIEW);
    sglLoadIdentity();
    sglMatrixMode(SGL_PROJECTION);
    sglPopMatrix();
    EXPECT_EQ(renderContext.matrices[SGL_MODELVIEW].m[3], 1.0f);
    EXPECT_EQ(renderContext.matrices[SGL_MODELVIEW].m[11], 3.0f);
    EXPECT_EQ(renderContext.matrices[SGL_PROJECTION].m[0], 5.0f);
}

TEST_F(MatrixTest, PushOntoAFullStackAndPopOfAnEmptyOneAreIgnored) {
    sglPopMatrix();  // empty: nothing happens
    EXPECT_EQ(renderContext.stackDepth, 0);
    EXPECT_EQ(renderContext.matrices[SGL_MODELVIEW].m[0], 1.0f);

    for (int i = 0; i < 16; ++i) {
        sglTranslatef(1.0f, 0.0f, 0.0f);
        sglPushMatrix();
    }
    EXPECT_EQ(renderContext.stackDepth, 16);
    sglTranslatef(1.0f, 0.0f, 0.0f);
    sglPushMatrix();  // full: ignored, nothing written past the stack
    EXPECT_EQ(renderContext.stackDepth, 16);
    EXPECT_EQ(renderContext.modelviewStack[15].m[3], 16.0f);

    for (int i = 16; i >= 1; --i) {
        sglPopMatrix();
        EXPECT_EQ(renderContext.matrices[SGL_MODELVIEW].m[3], float(i));
    }
    sglPopMatrix();
    EXPECT_EQ(renderContext.stackDepth, 0);
    EXPECT_EQ(renderContext.matrices[SGL_MODELVIEW].m[3], 1.0f);
}

TEST_F(MatrixTest, MultMatrixComposesInCallOrder) {
    const float translate[16] = {1, 0, 0, 10, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    sglScalef(2.0f, 2.0f, 2.0f);
    sglMultMatrixf(translate);
    const Vec4 v = applyModelview(1.0f, 0.0f, 0.0f);
    EXPECT_EQ(v.x, 22.0f);  // translated first, then scaled
    sglMultMatrixf(nullptr);
    EXPECT_EQ(applyModelview(1.0f, 0.0f, 0.0f).x, 22.0f);
}
