// Points and lines. A point is one pixel taken through the fragment stages
// like a span of length 1; a line projects its end points and draws nothing.
#pragma once

// Draws VertexRef entry 0 as one pixel in its recorded colour. The vertex is
// transformed like a triangle vertex; one behind the near plane, beyond the
// far limit or outside the FrameBuffer draws nothing, as does any point while
// no FrameBuffer is bound.
void drawPoint();

// Projects VertexRef entries 0 and 1; no buffer changes.
void drawLine();
