// The public interface of the sgl software renderer: an immediate-mode,
// fixed-function renderer over one global state record, in the shape of the
// classic state-machine graphics libraries. Functions that can fail return 0
// or an SGL_ERR_* code; setters without a result ignore out-of-range values.
#pragma once

#include <cstdint>

#include "image/surface.h"
#include "render/frame_buffer.h"
#include "render/matrix.h"

constexpr int SGL_ERR_INVALID = 0x10001;
constexpr int SGL_ERR_RANGE = 0x10004;

// Widest span (and so widest FrameBuffer) the fragment stages handle.
constexpr int SPAN_CAPACITY = 1024;

// Enable switches.
constexpr uint8_t SGL_BLEND = 1;
constexpr uint8_t SGL_ALPHA_TEST = 2;
constexpr uint8_t SGL_STENCIL_TEST = 3;
constexpr uint8_t SGL_DEPTH_TEST = 4;
constexpr uint8_t SGL_TEXTURE = 5;
constexpr uint8_t SGL_SMOOTH = 6;
constexpr uint8_t SGL_TEXTURE_ENV = 7;

// Primitive kinds.
constexpr uint8_t SGL_LINES = 1;
constexpr uint8_t SGL_TRIANGLES = 17;
constexpr uint8_t SGL_POINTS = 33;
constexpr uint8_t SGL_QUADS = 49;

// Buffer selectors of FrameBuffer::attach, FrameBuffer::surface and sglClear.
constexpr uint8_t SGL_COLOR_BUFFER = 1;
constexpr uint8_t SGL_DEPTH_BUFFER = 2;
constexpr uint8_t SGL_STENCIL_BUFFER = 4;

// Matrix modes (mode 2 selects a third matrix that nothing else reads).
constexpr uint8_t SGL_PROJECTION = 0;
constexpr uint8_t SGL_MODELVIEW = 1;

// Texture environment modes.
constexpr uint8_t SGL_REPLACE = 0;
constexpr uint8_t SGL_MODULATE = 1;
constexpr uint8_t SGL_ADD = 2;
constexpr uint8_t SGL_SUBTRACT = 3;

// Blend factor codes: the high nibble names the origin (0 source fragment,
// 2 destination pixel, 4 blend colour), the low nibble what is taken.
constexpr uint8_t BLEND_ZERO = 0x00;
constexpr uint8_t BLEND_ONE = 0x01;
constexpr uint8_t BLEND_SRC_COLOR = 0x02;
constexpr uint8_t BLEND_SRC_ALPHA = 0x03;
constexpr uint8_t BLEND_ONE_MINUS_SRC_COLOR = 0x04;
constexpr uint8_t BLEND_ONE_MINUS_SRC_ALPHA = 0x05;
constexpr uint8_t BLEND_DST_COLOR = 0x22;
constexpr uint8_t BLEND_DST_ALPHA = 0x23;
constexpr uint8_t BLEND_ONE_MINUS_DST_COLOR = 0x24;
constexpr uint8_t BLEND_ONE_MINUS_DST_ALPHA = 0x25;
constexpr uint8_t BLEND_CONSTANT_COLOR = 0x42;
constexpr uint8_t BLEND_CONSTANT_ALPHA = 0x43;
constexpr uint8_t BLEND_ONE_MINUS_CONSTANT_COLOR = 0x44;
constexpr uint8_t BLEND_ONE_MINUS_CONSTANT_ALPHA = 0x45;

// Context and target.
int sglInit();
void sglShutdown();
int sglBindFrameBuffer(FrameBuffer* fb);
// The bound FrameBuffer, or null while the context is not initialised.
FrameBuffer* sglGetFrameBuffer();
// Fills the attached buffers selected by mask (1 colour, 2 depth, 4 stencil)
// with the clear values.
void sglClear(uint8_t mask);
void sglClearColor4ubv(const uint8_t rgba[4]);
void sglBindTexture(Surface* texture);

// Enables; ignored between sglBegin and sglEnd and for caps outside 1..7.
void sglEnable(uint8_t cap);
void sglDisable(uint8_t cap);
uint8_t sglIsEnabled(uint8_t cap);

// Current vertex attributes. sglColor3f truncates each channel x 255 toward
// zero and keeps the low byte.
void sglColor3f(float r, float g, float b);
void sglColor3ub(uint8_t r, uint8_t g, uint8_t b);
void sglColor4ub(uint8_t r, uint8_t g, uint8_t b, uint8_t a);
void sglColor3ubv(const uint8_t rgb[3]);
void sglColor4ubv(const uint8_t rgba[4]);
// Vertex submission: opens a primitive of one kind (SGL_LINES, SGL_TRIANGLES,
// SGL_POINTS, SGL_QUADS), takes its vertices with the current colour and texture
// coordinate, and draws each primitive as soon as its last vertex arrives.
// sglBegin ends an open primitive first (for any kind but 0); kinds 2 and 3 are
// accepted and never drawn; any other kind returns SGL_ERR_INVALID and leaves
// nothing new open. sglEnd drops an unfinished primitive; vertices outside
// sglBegin/sglEnd are ignored.
int sglBegin(uint8_t kind);
void sglEnd();
void sglVertex2f(float x, float y);
void sglVertex3f(float x, float y, float z);
void sglVertex3fv(const float v[3]);

void sglTexCoord2f(float s, float t);
void sglTexCoord2fv(const float st[2]);

// Per-fragment state.
void sglBlendColor4ubv(const uint8_t rgba[4]);
int sglGetBlendColor(uint8_t out[4]);
void sglBlendFunc(uint8_t src, uint8_t dst);
void sglTexEnvMode(uint8_t mode);  // modes >= 4 ignored
int sglDepthFunc(uint8_t func);    // func > 7: SGL_ERR_INVALID
void sglDepthMask(uint8_t flag);
void sglStencilFunc(uint8_t func, uint8_t ref);  // func >= 8 ignored
// Operations for pixels rejected before the stencil test, failing it, passing it;
// ignored whole if any is >= 6.
void sglStencilOp(uint8_t opRejected, uint8_t opFail, uint8_t opPass);
void sglStencilValueMask(uint8_t mask);
void sglStencilWriteMask(uint8_t mask);
int sglAlphaFunc(uint8_t func, uint8_t ref);  // func > 7: SGL_ERR_INVALID

// Matrices. All act on the matrix of the current mode, except push and pop,
// which always save and restore the modelview matrix (16 deep; a push onto a
// full stack or a pop of an empty one is ignored). Angles are in degrees.
int sglMatrixMode(uint8_t mode);  // mode > 2: SGL_ERR_INVALID
void sglLoadIdentity();
void sglMultMatrixf(const float m[16]);
void sglTranslatef(float x, float y, float z);
void sglScalef(float x, float y, float z);
void sglRotateXf(float degrees);
void sglRotateYf(float degrees);
void sglRotateZf(float degrees);
// Replaces the current matrix; note that top comes before bottom.
void sglFrustum(float left, float right, float top, float bottom, float nearZ, float farZ);
void sglPushMatrix();
void sglPopMatrix();
