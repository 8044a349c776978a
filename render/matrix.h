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

// Inline: every vertex goes through both.
inline Vec4 Mat4::transform(const Vec4& v) const {
    float out[4];
    for (int r = 0; r < 4; ++r) {
        out[r] = m[r * 4 + 0] * v.x + m[r * 4 + 1] * v.y + m[r * 4 + 2] * v.z + m[r * 4 + 3] * v.w;
    }
    return Vec4(out[0], out[1], out[2], out[3]);
}

inline Vec3 Mat4::project(const Vec3& p) const {
    const float w = m[12] * p.x + m[13] * p.y + m[14] * p.z + m[15];
    const float r = 1.0f / w;
    return Vec3((m[0] * p.x + m[1] * p.y + m[2] * p.z + m[3]) * r,
                (m[4] * p.x + m[5] * p.y + m[6] * p.z + m[7]) * r,
                (m[8] * p.x + m[9] * p.y + m[10] * p.z + m[11]) * r);
}
