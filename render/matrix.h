// The renderer's linear algebra: 32-bit float vectors and a row-major 4x4
// matrix applied to column vectors (v' = M v).
#pragma once

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vec3() = default;
    Vec3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    void zero() { x = y = z = 0.0f; }
    Vec3& set(float x_, float y_, float z_) {
        x = x_;
        y = y_;
        z = z_;
        return *this;
    }
    void copy(const Vec3& v) { *this = v; }

    Vec3 operator+(const Vec3& v) const { return Vec3(x + v.x, y + v.y, z + v.z); }
    Vec3 operator-(const Vec3& v) const { return Vec3(x - v.x, y - v.y, z - v.z); }
    Vec3 operator*(float k) const { return Vec3(k * x, k * y, k * z); }
    // One reciprocal, three products: the result differs from three divisions in the last bit.
    Vec3 operator/(float k) const {
        const float r = 1.0f / k;
        return Vec3(r * x, r * y, r * z);
    }
};

struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    Vec4() = default;
    Vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    void copy(const Vec4& v) { *this = v; }
};

// Element [row * 4 + col]. Default construction leaves the elements as they
// are: zero for static storage, indeterminate for a local (use Mat4{} or
// identity() there).
struct Mat4 {
    float m[16];

    void identity();
    void copy(const Mat4& b) { *this = b; }
    // this = this x b; b may be this matrix itself.
    void multiply(const Mat4& b);
    Vec4 transform(const Vec4& v) const;
    // Transforms (p, 1) and divides by the resulting w, without testing it.
    Vec3 project(const Vec3& p) const;
};
