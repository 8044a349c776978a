// Triangle rasterization: the geometry pipeline hands each triangle's screen
// vertices to rasterizeTriangle, which walks its rows and draws their spans.
#pragma once

// Draws the triangle of renderContext.screenVertices V0, V1, V2 (both
// windings; the records are only read). Nothing while no FrameBuffer is bound.
void rasterizeTriangle();
