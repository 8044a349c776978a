// The sphere mesh, built by the compiler from the stack and segment angles.
#include "scenes/sphere_mesh.h"

namespace {

// Latitude of stack i: -90 + 22.5 i degrees. Written out so that the poles and
// the equator are exact and the mesh does not depend on the maths library.
constexpr double STACK_COS[SPHERE_STACKS + 1] = {
    0.0, 0.38268343236508977173, 0.70710678118654752440, 0.92387953251128675613,
    1.0, 0.92387953251128675613, 0.70710678118654752440, 0.38268343236508977173,
    0.0,
};
constexpr double STACK_SIN[SPHERE_STACKS + 1] = {
    -1.0, -0.92387953251128675613, -0.70710678118654752440, -0.38268343236508977173,
    0.0,  0.38268343236508977173,  0.70710678118654752440,  0.92387953251128675613,
    1.0,
};

// Longitude of segment j: 30 j degrees.
constexpr double SEGMENT_COS[SPHERE_SEGMENTS] = {
    1.0,  0.86602540378443864676,  0.5,  0.0, -0.5, -0.86602540378443864676,
    -1.0, -0.86602540378443864676, -0.5, 0.0, 0.5,  0.86602540378443864676,
};
constexpr double SEGMENT_SIN[SPHERE_SEGMENTS] = {
    0.0, 0.5,  0.86602540378443864676,  1.0,  0.86602540378443864676,  0.5,
    0.0, -0.5, -0.86602540378443864676, -1.0, -0.86602540378443864676, -0.5,
};

struct GridPoint {
    int stack;
    int segment;
};

// The three drawn vertices of every triangle, in drawing order: a fan round the
// south pole, two triangles for each cell of the six middle bands, a fan round
// the north pole.
constexpr void gridTriangle(int t, GridPoint out[3]) {
    if (t < SPHERE_SEGMENTS) {
        const int m = t;
        out[0] = {0, m};
        out[1] = {1, m + 1};
        out[2] = {1, m};
    } else if (t < SPHERE_TRIANGLE_COUNT - SPHERE_SEGMENTS) {
        const int cell = (t - SPHERE_SEGMENTS) / 2;
        const int b = 1 + cell / SPHERE_SEGMENTS;
        const int m = cell % SPHERE_SEGMENTS;
        if ((t - SPHERE_SEGMENTS) % 2 == 0) {
            out[0] = {b, m + 1};
            out[1] = {b + 1, m};
            out[2] = {b, m};
        } else {
            out[0] = {b, m + 1};
            out[1] = {b + 1, m + 1};
            out[2] = {b + 1, m};
        }
    } else {
        const int m = t - (SPHERE_TRIANGLE_COUNT - SPHERE_SEGMENTS);
        out[0] = {7, m + 1};
        out[1] = {8, m};
        out[2] = {7, m};
    }
}

constexpr SphereMesh buildSphereMesh() {
    SphereMesh mesh{};
    // Drawn corner c of a triangle is stored at 3t + STORED_SLOT[c].
    constexpr int STORED_SLOT[3] = {0, 2, 1};
    const double radius = SPHERE_RADIUS;
    for (int t = 0; t < SPHERE_TRIANGLE_COUNT; ++t) {
        GridPoint corners[3] = {};
        gridTriangle(t, corners);
        for (int c = 0; c < 3; ++c) {
            const int i = corners[c].stack;
            const int j = corners[c].segment;
            const int v = 3 * t + STORED_SLOT[c];
            const int wrapped = j % SPHERE_SEGMENTS;
            mesh.positions[v][0] = float(radius * STACK_COS[i] * SEGMENT_COS[wrapped]);
            mesh.positions[v][1] = float(radius * STACK_SIN[i]);
            mesh.positions[v][2] = float(-radius * STACK_COS[i] * SEGMENT_SIN[wrapped]);
            mesh.texCoords[v][0] = float(j) / float(SPHERE_SEGMENTS);
            mesh.texCoords[v][1] = float(i) / float(SPHERE_STACKS);
        }
    }
    for (int k = 0; k < SPHERE_INDEX_COUNT; ++k) mesh.indices[k] = k;
    return mesh;
}

}  // namespace

constexpr SphereMesh sphereMesh = buildSphereMesh();
