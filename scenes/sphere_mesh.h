// The sphere of the light-shaft scene: a UV sphere of 9 stacks and 12 segments,
// stored unshared as 168 triangles of three vertices each. Each triangle keeps
// its drawn vertices A, B, C in the order A, C, B, so drawing takes the indices
// 3t, 3t + 2, 3t + 1.
#pragma once

#include <cstdint>

constexpr int SPHERE_INDEX_COUNT = 504;
constexpr int SPHERE_TRIANGLE_COUNT = SPHERE_INDEX_COUNT / 3;
constexpr int SPHERE_VERTEX_COUNT = 504;
constexpr int SPHERE_STACKS = 8;     // stack i runs 0..8, from the south to the north pole
constexpr int SPHERE_SEGMENTS = 12;  // segment j runs 0..12; 12 is segment 0 again
constexpr float SPHERE_RADIUS = 0.0500312f;

struct SphereMesh {
    float positions[SPHERE_VERTEX_COUNT][3];
    float texCoords[SPHERE_VERTEX_COUNT][2];
    int32_t indices[SPHERE_INDEX_COUNT];
};

extern const SphereMesh sphereMesh;

// Stored index of vertex `corner` (0..2) of triangle t as drawn.
inline int32_t sphereDrawnIndex(int t, int corner) {
    return sphereMesh.indices[3 * t + (3 - corner) % 3];
}
